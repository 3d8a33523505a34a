// Items through their interfaces: the class registry, the life cycle with
// its owner <-> part cycle, reference counts back to zero, QueryInterface by
// GUID, publishers and the typed collections.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "hooklib/framework/class_registry.h"
#include "hooklib/framework/collections.h"
#include "hooklib/framework/item.h"
#include "hooklib/framework/publisher.h"

namespace vm::framework {
namespace {

std::vector<std::wstring>* g_log = nullptr;
void Log(const std::wstring& line) {
  if (g_log) g_log->push_back(line);
}

// A window part that keeps its owner, as every real part does.
class TestPart : public AbstractSlave<IWindowPart> {
 public:
  void SetParam(std::wstring_view name, const Variant& value) override {
    if (name == L"value")
      value_ = VariantToString(value);
    else if (name == L"explode")
      throw std::runtime_error("bad value");
    else
      AbstractSlave::SetParam(name, value);
  }
  void InitInstance() override { Log(L"InitInstance"); }
  void STDMETHODCALLTYPE Bind() noexcept override { Log(L"Bind " + name_); }
  void STDMETHODCALLTYPE Unbind() noexcept override { Log(L"Unbind " + name_); }
  bool STDMETHODCALLTYPE IsProperWindow(HWND wnd) noexcept override { return wnd != nullptr; }
  void STDMETHODCALLTYPE AttachWindow() noexcept override { attached_ = true; }
  void STDMETHODCALLTYPE DetachWindow() noexcept override { attached_ = false; }
  bool STDMETHODCALLTYPE IsAttached() noexcept override { return attached_; }

  std::wstring value_;
  bool attached_ = false;
};

class DerivedPart : public TestPart {};

// An item whose "child" parameter makes another item from its text, the way
// an extender makes its actions.
class Nester : public AbstractItem<IItem> {
 public:
  void SetParam(std::wstring_view name, const Variant& value) override {
    if (name == L"child")
      child_ = CreateItemFromText(VariantToString(value));
    else
      AbstractItem::SetParam(name, value);
  }
  ComPtr<IItem> child_;
};

// Registers for the test's duration.
class ScopedClass {
 public:
  ScopedClass(const ItemClass& item_class, std::wstring_view name) : name_(name) {
    ok_ = RegisterItemClass(item_class, name);
  }
  ~ScopedClass() {
    if (ok_) UnregisterItemClass(name_);
  }
  bool ok() const { return ok_; }

 private:
  std::wstring name_;
  bool ok_;
};

class Items : public ::testing::Test {
 protected:
  void SetUp() override {
    g_log = &log_;
    ASSERT_EQ(LiveObjectCount(), 0);
  }
  void TearDown() override {
    g_log = nullptr;
    EXPECT_EQ(LiveObjectCount(), 0) << "objects leaked";
  }
  std::vector<std::wstring> log_;
};

template <class I>
ComPtr<I> As(const ComPtr<IItem>& item) {
  ComPtr<I> out;
  if (item) item.As(&out);
  return out;
}

TEST_F(Items, RegistryCreatesRegisteredClassesFromText) {
  ScopedClass part(ItemClassOf<TestPart>(), L"TESTPART");
  ScopedClass nester(ItemClassOf<Nester>(), L"NESTER");
  ASSERT_TRUE(part.ok() && nester.ok());
  EXPECT_FALSE(RegisterItemClass<TestPart>(L"testpart"));  // duplicate, any case
  EXPECT_FALSE(RegisterItemClass<TestPart>(L""));
  EXPECT_FALSE(RegisterItemClass<AbstractSlave<IWindowPart>>(L"ABSTRACT"));  // cannot be made
  EXPECT_EQ(FindItemClass(L"TestPart"), &ItemClassOf<TestPart>());
  EXPECT_EQ(FindItemClass(L"FOLIANTACTION"), nullptr);

  struct Case {
    std::wstring text;
    bool made;
    std::wstring name, value;
  };
  const std::vector<Case> cases = {
      {L"TESTPART{name=A\\value={x\\y}}", true, L"A", L"x\\y"},
      {L"testpart{name=B}", true, L"B", L""},
      {L"TESTPART", true, L"", L""},
      {L"TESTPART{NAME=C\\value=1}", true, L"", L"1"},              // "NAME" is not "name"
      {L"TESTPART{name=D\\explode=1\\value=2}", true, L"D", L"2"},  // a failing entry is skipped
      {L"TESTPART{name=E", true, L"", L""},  // the last character goes: "name=" remains
      {L"TESTPART{}}}}{{{\\\\==", true, L"", L""},
      {L"UNKNOWN{name=A}", false, L"", L""},
      {L"", false, L"", L""},
      {L"{name=A}", false, L"", L""},
      {std::wstring(L"TESTPART\0{name=A}", 17), false, L"",
       L""},  // the zero is part of the class name
  };
  for (const auto& c : cases) {
    log_.clear();
    ComPtr<IItem> item = CreateItemFromText(c.text);
    ASSERT_EQ(item != nullptr, c.made) << std::string(c.text.begin(), c.text.end());
    if (!item) continue;
    EXPECT_EQ(item->GetName(), c.name);
    ComPtr<IWindowPart> window_part = As<IWindowPart>(item);
    ASSERT_TRUE(window_part);
    EXPECT_EQ(static_cast<TestPart*>(window_part.Get())->value_, c.value);
    EXPECT_EQ(log_.front(), L"InitInstance");  // before any parameter
  }

  ComPtr<IItem> made = CreateItem(L"TESTPART", L"name=Z");
  ASSERT_TRUE(made);
  EXPECT_TRUE(made->IsObjectOfClass(ItemClassOf<TestPart>()));
  EXPECT_TRUE(made->IsObjectOfClass(ItemClassOf<AbstractItem<IWindowPart>>()));
  EXPECT_FALSE(made->IsObjectOfClass(ItemClassOf<DerivedPart>()));
  EXPECT_FALSE(made->IsObjectOfClass(ItemClassOf<Publisher>()));
  made->ParseParams(L"name=Again");  // items can be configured again later
  EXPECT_EQ(made->GetName(), L"Again");
}

TEST_F(Items, NestedCreationIsBounded) {
  ScopedClass nester(ItemClassOf<Nester>(), L"NESTER");
  ScopedClass part(ItemClassOf<TestPart>(), L"TESTPART");

  ComPtr<IItem> two = CreateItemFromText(
      L"NESTER{name=outer\\child={NESTER{name=inner\\child={TESTPART{name=leaf}}}}}");
  ASSERT_TRUE(two);
  auto* outer = static_cast<Nester*>(two.Get());
  ASSERT_TRUE(outer->child_);
  EXPECT_EQ(outer->child_->GetName(), L"inner");
  ASSERT_TRUE(static_cast<Nester*>(outer->child_.Get())->child_);
  EXPECT_EQ(static_cast<Nester*>(outer->child_.Get())->child_->GetName(), L"leaf");

  // A thousand levels: made down to the limit, then nothing; no stack overflow.
  std::wstring text = L"TESTPART{name=leaf}";
  for (int i = 0; i < 1000; ++i) text = L"NESTER{child={" + text + L"}}";
  ComPtr<IItem> deep = CreateItemFromText(text);
  ASSERT_TRUE(deep);
  int depth = 0;
  for (IItem* p = deep.Get(); p; ++depth) {
    auto* n = dynamic_cast<Nester*>(p);
    p = n ? n->child_.Get() : nullptr;
  }
  EXPECT_EQ(depth, kMaxItemNesting);
}

TEST_F(Items, QueryInterfaceAnswersTheWholeChainByGuid) {
  ComPtr<IItem> item = MakeItem<TestPart>(L"name=Q");
  ComPtr<IWindowPart> part;
  ComPtr<ISlave> slave;
  ComPtr<IItem> again;
  ComPtr<IAction> action;
  ASSERT_EQ(item.As(&part), S_OK);
  ASSERT_EQ(item.As(&slave), S_OK);
  ASSERT_EQ(part.As(&again), S_OK);
  EXPECT_EQ(item.As(&action), E_NOINTERFACE);
  EXPECT_FALSE(action);

  IID window_part_iid;
  ASSERT_EQ(IIDFromString(L"{3CC955CD-8F32-4507-AC6F-73035A237957}", &window_part_iid), S_OK);
  void* raw = nullptr;
  ASSERT_EQ(item->QueryInterface(window_part_iid, &raw), S_OK);
  EXPECT_EQ(raw, part.Get());
  static_cast<IUnknown*>(raw)->Release();

  // One identity whatever interface it is asked from.
  ComPtr<IUnknown> id1, id2;
  item.As(&id1);
  part.As(&id2);
  EXPECT_EQ(id1.Get(), id2.Get());
  EXPECT_EQ(item->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

// An owner that keeps its parts, each part keeping the owner: the cycle that
// Done must break.
class TestOwner : public AbstractItem<IWindowPartOwner> {
 public:
  ComPtr<IWindowHandler> STDMETHODCALLTYPE GetWindowHandler() noexcept override { return nullptr; }
  ComPtr<IActions> STDMETHODCALLTYPE GetActions() noexcept override { return nullptr; }
  ComPtr<ITriggers> STDMETHODCALLTYPE GetTriggers() noexcept override { return nullptr; }

  void AddPart(std::wstring_view text) {
    ComPtr<IWindowPart> part = As<IWindowPart>(CreateItemFromText(text));
    if (!part) return;
    part->Init(this);
    parts_.push_back(part);
  }
  void BindAll() {
    for (auto& p : parts_) p->Bind();
    for (auto& p : parts_) p->AttachWindow();
  }
  void DoneAll() {
    for (auto it = parts_.rbegin(); it != parts_.rend(); ++it) (*it)->DetachWindow();
    for (auto it = parts_.rbegin(); it != parts_.rend(); ++it) (*it)->Unbind();
    for (auto it = parts_.rbegin(); it != parts_.rend(); ++it) (*it)->Done();
    parts_.clear();
  }
  std::vector<ComPtr<IWindowPart>> parts_;
};

TEST_F(Items, ReferenceCountsReturnToZeroAfterDone) {
  ScopedClass part(ItemClassOf<TestPart>(), L"TESTPART");
  constexpr int kOwners = 200;
  {
    std::vector<ComPtr<TestOwner>> owners;
    for (int i = 0; i < kOwners; ++i) {
      owners.push_back(MakeCom<TestOwner>());
      owners.back()->AddPart(L"TESTPART{name=a}");
      owners.back()->AddPart(L"TESTPART{name=b}");
      owners.back()->AddPart(L"UNKNOWN{name=c}");  // makes nothing, adds nothing
      owners.back()->BindAll();
      ASSERT_EQ(owners.back()->parts_.size(), 2u);
    }
    EXPECT_EQ(LiveObjectCount(), kOwners * 3);
    EXPECT_TRUE(owners[0]->parts_[0]->IsAttached());
    EXPECT_EQ(owners[0]->parts_[1]->GetOwner().Get(), static_cast<IItem*>(owners[0].Get()));
    for (auto& o : owners) o->DoneAll();
  }
  EXPECT_EQ(LiveObjectCount(), 0);
  ASSERT_GE(log_.size(), 4u);
  EXPECT_EQ(log_[log_.size() - 2], L"Unbind b");  // reverse order
  EXPECT_EQ(log_[log_.size() - 1], L"Unbind a");

  // Without Done the cycle keeps both alive: this is what Done is for.
  ComPtr<IWindowPart> kept;
  {
    ComPtr<TestOwner> owner = MakeCom<TestOwner>();
    owner->AddPart(L"TESTPART{name=a}");
    kept = owner->parts_[0];
  }
  EXPECT_EQ(LiveObjectCount(), 2);
  kept->Done();  // the part drops its owner, the owner its part
  kept.Reset();
  EXPECT_EQ(LiveObjectCount(), 0);
}

// Test double: no class of the library observes (IEAObserver has no
// implementation here), so the test brings its own.
class RecordingObserver : public IEAObserver {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override {
    if (!object) return E_POINTER;
    *object = (IsEqualGUID(riid, __uuidof(IEAObserver)) || IsEqualGUID(riid, IID_IUnknown))
                  ? static_cast<IEAObserver*>(this)
                  : nullptr;
    if (!*object) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() noexcept override { return --refs; }
  void STDMETHODCALLTYPE Update(IPublisher* publisher) noexcept override {
    ++updates;
    last = publisher;
    if (detach_on_update) publisher->Detach(this);
  }
  ULONG refs = 0;
  int updates = 0;
  IPublisher* last = nullptr;
  bool detach_on_update = false;
};

TEST_F(Items, PublisherNotifiesAttachedObserversAndLetsGoInDone) {
  ComPtr<IPublisher> publisher = MakeCom<Publisher>();
  ComPtr<IItem> subject = MakeItem<TestPart>(L"name=subject");
  EXPECT_EQ(publisher->GetName(), L"Publisher");
  publisher->Init(subject.Get());
  publisher->Bind();
  EXPECT_EQ(publisher->GetSubject().Get(), subject.Get());

  RecordingObserver a, b, never;
  publisher->Attach(&a);
  publisher->Attach(&b);
  publisher->Attach(nullptr);  // ignored
  EXPECT_EQ(publisher->GetObservers()->Count(), 2);
  EXPECT_EQ(a.refs, 1u);  // the list holds one reference each

  publisher->Detach(&never);  // never attached: nothing changes
  EXPECT_EQ(publisher->GetObservers()->Count(), 2);

  publisher->OnUpdate();
  EXPECT_EQ(a.updates, 1);
  EXPECT_EQ(b.updates, 1);
  EXPECT_EQ(a.last, publisher.Get());

  // An observer detaching itself during the pass ends the pass safely.
  a.detach_on_update = true;
  publisher->OnUpdate();
  EXPECT_EQ(a.updates, 2);
  EXPECT_EQ(a.refs, 0u);
  EXPECT_EQ(publisher->GetObservers()->GetItemIndex(&b), 0);

  publisher->Unbind();
  publisher->Done();
  EXPECT_EQ(b.refs, 0u);
  EXPECT_FALSE(publisher->GetSubject());
}

class TestOperation : public AbstractItem<IOperation> {
 public:
  std::wstring STDMETHODCALLTYPE GetCaption() noexcept override { return {}; }
  void STDMETHODCALLTYPE SetCaption(std::wstring_view) noexcept override {}
  std::wstring STDMETHODCALLTYPE GetImage() noexcept override { return {}; }
  void STDMETHODCALLTYPE SetImage(std::wstring_view) noexcept override {}
  std::wstring STDMETHODCALLTYPE GetDownImage() noexcept override { return {}; }
  void STDMETHODCALLTYPE SetDownImage(std::wstring_view) noexcept override {}
  std::wstring STDMETHODCALLTYPE GetImageSmall() noexcept override { return {}; }
  std::wstring STDMETHODCALLTYPE GetDownImageSmall() noexcept override { return {}; }
  ComPtr<IAgent> STDMETHODCALLTYPE GetLastContext() noexcept override { return nullptr; }
  void STDMETHODCALLTYPE SetLastContext(IAgent*) noexcept override {}
  UINT32 STDMETHODCALLTYPE GetHotKeyInfo() noexcept override { return 0; }
  void STDMETHODCALLTYPE SetHotKeyInfo(UINT32) noexcept override {}
};

class TestExtender : public AbstractSlave<IWindowExtender> {
 public:
  HWND STDMETHODCALLTYPE GetWnd() noexcept override { return nullptr; }
  void STDMETHODCALLTYPE AttachWindow(HWND) noexcept override {}
  void STDMETHODCALLTYPE DetachWindow() noexcept override {}
  int STDMETHODCALLTYPE WindowProcNestingCount() noexcept override { return 0; }
  void STDMETHODCALLTYPE RequestExclusiveAccess() noexcept override {}
  void STDMETHODCALLTYPE ReleaseExclusiveAccess() noexcept override {}
  void STDMETHODCALLTYPE ReapplyRule() noexcept override {}
};

TEST_F(Items, TypedCollectionsKeyByNameOrWindowAndHoldReferences) {
  ComPtr<IOperations> operations = MakeCom<Operations>();
  {
    ComPtr<IOperation> a = As<IOperation>(MakeItem<TestOperation>(L"name=Open"));
    ComPtr<IOperation> dup = As<IOperation>(MakeItem<TestOperation>(L"name=OPEN"));
    ComPtr<IOperation> b = As<IOperation>(MakeItem<TestOperation>(L"name=Close"));
    EXPECT_EQ(operations->Add(a.Get()).Get(), a.Get());
    EXPECT_EQ(operations->Add(dup.Get()).Get(), dup.Get());  // returned, not added
    operations->Add(b.Get());
    operations->Add(nullptr);
  }
  EXPECT_EQ(LiveObjectCount(), 3);  // the list and its two operations
  EXPECT_EQ(operations->Count(), 2);
  EXPECT_EQ(operations->GetItems(Variant{std::wstring(L"open")})->GetName(), L"Open");
  EXPECT_EQ(operations->GetItems(Variant{std::uint8_t{1}})->GetName(), L"Close");
  EXPECT_FALSE(operations->GetItems(Variant{true}));
  EXPECT_EQ(operations->IndexByKey(L"CLOSE"), 1);
  operations->Delete(Variant{1.0});  // unsupported kind: nothing
  EXPECT_EQ(operations->Count(), 2);
  operations->Delete(Variant{std::wstring(L"Open")});
  EXPECT_EQ(LiveObjectCount(), 2);  // the reference went with the entry

  ComPtr<IWindowExtenders> extenders = MakeCom<WindowExtenders>();
  const HWND w1 = reinterpret_cast<HWND>(0x10010), w2 = reinterpret_cast<HWND>(0x20020);
  {
    ComPtr<IItem> x = MakeItem<TestExtender>(L"name=x"), y = MakeItem<TestExtender>(L"name=y");
    extenders->AddByWnd(As<IWindowExtender>(x).Get(), w1);
    extenders->AddByWnd(As<IWindowExtender>(y).Get(), w1);  // window already present
    extenders->AddByWnd(As<IWindowExtender>(y).Get(), w2);
    extenders->AddByWnd(nullptr, reinterpret_cast<HWND>(0x30030));
  }
  EXPECT_EQ(extenders->Count(), 2);
  EXPECT_EQ(extenders->GetItemByWnd(w2)->GetName(), L"y");
  EXPECT_EQ(extenders->GetItemIndexByWnd(w2), 1);
  EXPECT_EQ(extenders->GetItemByIndex(0)->GetName(), L"x");
  EXPECT_FALSE(extenders->GetItemByWnd(reinterpret_cast<HWND>(0x30030)));
  extenders->DeleteByWnd(w1);
  EXPECT_EQ(extenders->GetItemIndexByWnd(w2), 0);

  ComPtr<IMessageHandlers> handlers = MakeCom<MessageHandlers>();
  handlers->Add(nullptr);
  EXPECT_EQ(handlers->Count(), 0);

  operations->Clear();
  extenders->Clear();
  EXPECT_EQ(LiveObjectCount(), 3);  // only the three lists
}

}  // namespace
}  // namespace vm::framework
