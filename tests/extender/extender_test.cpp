// The window extender on real windows of this process, with the library's
// code linked in and a small owner in place of the rule dispatcher: rule
// text, subclassing through the stub module, the window procedure with its
// nesting count and closed-extender guard, the alive check and rehooking,
// the non-invasive case, detach leaving the window its own procedure.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "common/shared_names.h"
#include "hooklib/core/library.h"
#include "hooklib/core/stub_pool.h"
#include "hooklib/framework/class_registry.h"
#include "hooklib/framework/extender_rules.h"
#include "hooklib/framework/window_extender.h"
#include "tests/extender/test_action.h"
#include "tests/support/message_pump.h"

namespace vm::test {
namespace {

using framework::ComPtr;
using framework::IWindowExtender;
using framework::WindowExtender;

constexpr UINT kProbe = WM_APP + 20;     // the window's own procedure answers kOwnAnswer
constexpr UINT kHandled = WM_APP + 21;   // test actions with handle=... answer true
constexpr UINT kNest = WM_APP + 22;      // the window's procedure pumps nested messages
constexpr UINT kCloseMsg = WM_APP + 23;  // an action closes the extender on it
constexpr LRESULT kOwnAnswer = 777;

class LibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    hooklib::AttachLibrary();
    ASSERT_TRUE(hooklib::EnsureLibraryStarted());
    ASSERT_TRUE(framework::EnsureWindowExtenderClass());
    ASSERT_TRUE(RegisterTestAction());
  }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

UINT Service() { return Names().service; }

struct Journal : TestActionObserver {
  struct Entry {
    std::vector<std::wstring> tags;
    std::wstring rule;
    int before = 0;
    int after = 0;
    int detached = 0;
    bool last_handled = false;
    LRESULT last_result = 0;
    std::vector<UINT> seen;
  };
  std::map<HWND, Entry> windows;
  void OnAttach(HWND w, const std::wstring& rule, const std::wstring& tag) override {
    windows[w].tags.push_back(tag);
    windows[w].rule = rule;
  }
  void OnDetach(HWND w) override { ++windows[w].detached; }
  void OnBefore(HWND w, UINT msg) override {
    ++windows[w].before;
    windows[w].seen.push_back(msg);
  }
  void OnAfter(HWND w, UINT, bool handled, LRESULT result) override {
    ++windows[w].after;
    windows[w].last_handled = handled;
    windows[w].last_result = result;
  }
};

// Stands in for the rule dispatcher: closes an extender the way it does.
class Owner : public framework::AbstractItem<framework::IWindowExtenderOwner> {
 public:
  std::vector<int> closes;
  void STDMETHODCALLTYPE OnClose(IWindowExtender* e, int kind) noexcept override {
    closes.push_back(kind);
    ComPtr<IWindowExtender> keep(e);
    e->RequestExclusiveAccess();
    e->DetachWindow();
    e->Unbind();
    e->Done();
    e->ReleaseExclusiveAccess();
  }
};

// The window under test; its own procedure counts what reaches it.
struct TestWindow {
  static inline std::map<HWND, int> own_calls;
  static inline std::map<HWND, std::function<void(HWND)>> on_nest;
  static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == kProbe || m == kHandled || m == kCloseMsg) {
      ++own_calls[w];
      return kOwnAnswer;
    }
    if (m == kNest) {
      if (auto it = on_nest.find(w); it != on_nest.end()) it->second(w);
      return kOwnAnswer;
    }
    return DefWindowProcW(w, m, wp, lp);
  }
  explicit TestWindow(const wchar_t* class_name = L"vm_extender_test") {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = class_name;
    RegisterClassW(&wc);
    wnd = CreateWindowExW(0, class_name, L"extender test", WS_OVERLAPPEDWINDOW, 0, 0, 100, 80,
                          nullptr, nullptr, wc.hInstance, nullptr);
  }
  ~TestWindow() {
    if (IsWindow(wnd)) DestroyWindow(wnd);
  }
  LRESULT Send(UINT m, WPARAM wp = 0, LPARAM lp = 0) const { return SendMessageW(wnd, m, wp, lp); }
  HWND wnd = nullptr;
};

class ExtenderTest : public ::testing::Test {
 protected:
  void SetUp() override { g_test_action_observer.store(&journal); }
  void TearDown() override {
    if (extender) {
      owner->OnClose(extender.Get(), 0);
      extender.Reset();
    }
    g_test_action_observer.store(nullptr);
  }
  // Creates, initialises, binds and attaches as the dispatcher does.
  bool Attach(HWND wnd, const std::wstring& params) {
    ComPtr<framework::IItem> item = framework::CreateItem(L"WINDOWEXTENDER", params);
    if (!item || FAILED(item.As(&extender))) return false;
    extender->RequestExclusiveAccess();
    extender->Init(static_cast<framework::IWindowExtenderOwner*>(owner.Get()));
    extender->Bind();
    extender->AttachWindow(wnd);
    extender->ReleaseExclusiveAccess();
    return true;
  }
  WindowExtender* Own() { return dynamic_cast<WindowExtender*>(extender.Get()); }
  std::wstring Param(const wchar_t* name) {
    ComPtr<framework::IWindowHandler> h;
    if (FAILED(extender.As(&h))) return L"<no handler>";
    return h->GetParamDefault(name, L"<none>");
  }

  Journal journal;
  ComPtr<Owner> owner = framework::MakeCom<Owner>();
  ComPtr<IWindowExtender> extender;
};

TEST_F(ExtenderTest, RuleTextGivesActionsAndHexParameters) {
  TestWindow w;
  ASSERT_TRUE(Attach(w.wnd,
                     L"window_rule_name=54657374\\action=TESTACTION{name=P\\tag=one}"
                     L"\\action=TESTACTION{name=p\\tag=two}\\action=UNKNOWNCLASS{name=Q}"
                     L"\\x=41ZZ42\\x=4243\\odd=41424\\action=TESTACTION{name=R\\tag=three}"));
  EXPECT_EQ(Param(L"window_rule_name"), L"Test");
  EXPECT_EQ(Param(L"x"), std::wstring(L"A\0\0", 3));  // the first value of a key stays
  EXPECT_EQ(Param(L"odd"), L"AB");
  EXPECT_EQ(Param(L"missing"), L"<none>");
  // P configured twice is one action (the second time through ParseParams);
  // the unregistered class makes nothing.
  ComPtr<framework::IWindowPartOwner> parts;
  ASSERT_TRUE(SUCCEEDED(extender.As(&parts)));
  EXPECT_EQ(parts->GetActions()->Count(), 2);
  EXPECT_EQ(journal.windows[w.wnd].tags, (std::vector<std::wstring>{L"two", L"three"}));
  EXPECT_EQ(journal.windows[w.wnd].rule, L"Test");
  EXPECT_EQ(extender->GetName().rfind(L"WindowExtender", 0), 0u);
}

TEST_F(ExtenderTest, MessagesPassTheActionsAroundTheWindowsOwnProcedure) {
  TestWindow w;
  const auto before_proc = GetWindowLongPtrW(w.wnd, GWLP_WNDPROC);
  ASSERT_TRUE(Attach(w.wnd, L"action=TESTACTION{name=A}"));
  ASSERT_TRUE(Own()->Subclassed());
  EXPECT_TRUE(hooklib::StubPool::Instance().IsStub(
      reinterpret_cast<void*>(GetWindowLongPtrW(w.wnd, GWLP_WNDPROC))));
  EXPECT_NE(GetWindowLongPtrW(w.wnd, GWLP_WNDPROC), before_proc);

  EXPECT_EQ(w.Send(kProbe), kOwnAnswer);
  Journal::Entry& e = journal.windows[w.wnd];
  EXPECT_EQ(TestWindow::own_calls[w.wnd], 1);
  EXPECT_GE(e.before, 1);
  EXPECT_EQ(e.last_result, kOwnAnswer);  // AfterMessage sees the window's answer
  EXPECT_FALSE(e.last_handled);

  // The alive check is answered by the extender alone.
  const int before = e.before;
  EXPECT_EQ(w.Send(Service(), framework::kServiceAliveCheck), framework::kAliveAnswer);
  EXPECT_EQ(e.before, before);
}

TEST_F(ExtenderTest, EveryHandlerRunsAndAHandledMessageSkipsTheWindowProcedure) {
  TestWindow w;
  const std::wstring handle = std::to_wstring(kHandled);
  ASSERT_TRUE(Attach(w.wnd, L"action=TESTACTION{name=A\\handle=" + handle +
                                L"}\\action=TESTACTION{name=B\\handle=" + handle + L"}"));
  journal.windows[w.wnd] = {};
  w.Send(kHandled);
  const Journal::Entry& e = journal.windows[w.wnd];
  EXPECT_EQ(e.before, 2);  // both asked, though the first said handled
  EXPECT_EQ(e.after, 2);
  EXPECT_TRUE(e.last_handled);
  EXPECT_EQ(TestWindow::own_calls[w.wnd], 0);
}

TEST_F(ExtenderTest, DetachLeavesTheWindowItsOwnProcedure) {
  TestWindow w;
  ASSERT_TRUE(Attach(w.wnd, L"action=TESTACTION{name=A}"));
  void* stub = Own()->StubAddress();
  ASSERT_NE(stub, nullptr);
  owner->OnClose(extender.Get(), 1);
  extender.Reset();
  EXPECT_EQ(journal.windows[w.wnd].detached, 1);
  // The stub stays as a pass-through; the window's procedure answers.
  EXPECT_TRUE(hooklib::StubPool::Instance().IsForwarder(stub));
  const int before = journal.windows[w.wnd].before;
  EXPECT_EQ(w.Send(kProbe), kOwnAnswer);
  EXPECT_EQ(journal.windows[w.wnd].before, before);
  EXPECT_EQ(w.Send(Service(), framework::kServiceAliveCheck), 0);
}

TEST_F(ExtenderTest, ADetachRequestWhileNestedIsRepostedFiftyTimesThenHonoured) {
  TestWindow w;
  ASSERT_TRUE(Attach(w.wnd, L"action=TESTACTION{name=A}"));
  WindowExtender* own = Own();
  // Inside the window's own procedure (nesting 1) the posted request arrives
  // with nesting 2 and is put back until its tries run out.
  TestWindow::on_nest[w.wnd] = [&](HWND wnd) {
    PostMessageW(wnd, Service(), framework::kServiceDetach, 7);
    PumpUntil([&] { return !owner->closes.empty(); }, 5000);
  };
  EXPECT_EQ(w.Send(kNest), kOwnAnswer);
  TestWindow::on_nest.erase(w.wnd);
  ASSERT_EQ(owner->closes, std::vector<int>{7});
  EXPECT_EQ(own->DetachTryCount(), framework::kMaxDetachRetries);
  EXPECT_EQ(extender->GetWnd(), nullptr);
  extender.Reset();
  EXPECT_EQ(w.Send(kProbe), kOwnAnswer);
}

TEST_F(ExtenderTest, ADetachRequestOutsideNestingIsHonouredAtOnce) {
  TestWindow w;
  ASSERT_TRUE(Attach(w.wnd, L"action=TESTACTION{name=A}"));
  WindowExtender* own = Own();
  EXPECT_EQ(w.Send(Service(), framework::kServiceDetach, 3), 0);
  EXPECT_EQ(owner->closes, std::vector<int>{3});
  EXPECT_EQ(own->DetachTryCount(), 0);
  extender.Reset();
}

TEST_F(ExtenderTest, AMessageWhoseExtenderClosedOnTheWayStillReachesTheWindow) {
  TestWindow w;
  ASSERT_TRUE(
      Attach(w.wnd, L"action=TESTACTION{name=A\\close_on=" + std::to_wstring(kCloseMsg) + L"}"));
  EXPECT_EQ(w.Send(kCloseMsg), kOwnAnswer);
  EXPECT_EQ(TestWindow::own_calls[w.wnd], 1);
  EXPECT_EQ(owner->closes, std::vector<int>{0});
  extender.Reset();
  EXPECT_EQ(w.Send(kProbe), kOwnAnswer);
}

TEST_F(ExtenderTest, CursorRequestsTakeOnlySystemCursorIds) {
  TestWindow w;
  ASSERT_TRUE(Attach(w.wnd, L"action=TESTACTION{name=A}"));
  // Values another process may post: none of them is read as a string.
  const LPARAM values[] = {0,
                           reinterpret_cast<LPARAM>(IDC_ARROW),
                           0x10000,
                           0x7FFF0000DEAD,
                           static_cast<LPARAM>(-1),
                           reinterpret_cast<LPARAM>(L"not a cursor")};
  for (LPARAM v : values) w.Send(Service(), framework::kServiceSetCursor, v);
  for (LPARAM v : values) PostMessageW(w.wnd, Service(), framework::kServiceSetCursor, v);
  RunUntilIdle();
  EXPECT_EQ(w.Send(kProbe), kOwnAnswer);
}

TEST_F(ExtenderTest, ListedClassesAreExtendedWithoutSubclassing) {
  TestWindow w(L"Flash10");
  const auto proc = GetWindowLongPtrW(w.wnd, GWLP_WNDPROC);
  ASSERT_TRUE(Attach(w.wnd, L"action=TESTACTION{name=A}"));
  EXPECT_FALSE(Own()->Subclassed());
  EXPECT_FALSE(Own()->CheckTimerEnabled());
  EXPECT_EQ(GetWindowLongPtrW(w.wnd, GWLP_WNDPROC), proc);
  EXPECT_EQ(GetPropW(w.wnd, MAKEINTATOM(Names().noninvasive)), reinterpret_cast<HANDLE>(1));
  EXPECT_EQ(journal.windows[w.wnd].tags.size(), 1u);  // the parts are attached all the same
  owner->OnClose(extender.Get(), 0);
  extender.Reset();
  EXPECT_EQ(GetPropW(w.wnd, MAKEINTATOM(Names().noninvasive)), nullptr);
}

// Later subclassers that do not pass the alive check on, each with its own
// previous procedure.
template <int N>
struct Swallower {
  static inline WNDPROC previous = nullptr;
  static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == Names().service && wp == framework::kServiceAliveCheck) return 0;
    return CallWindowProcW(previous, w, m, wp, lp);
  }
  static void Install(HWND w) {
    previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc)));
  }
};
using InstallFn = void (*)(HWND);
constexpr InstallFn kSwallowers[] = {&Swallower<0>::Install, &Swallower<1>::Install,
                                     &Swallower<2>::Install, &Swallower<3>::Install,
                                     &Swallower<4>::Install};

TEST_F(ExtenderTest, ALostSubclassIsRehookedFourTimesThenLeftAlone) {
  TestWindow w;
  ASSERT_TRUE(Attach(w.wnd, L"action=TESTACTION{name=A}"));
  WindowExtender* own = Own();
  for (int i = 1; i <= framework::kMaxRehooks; ++i) {
    kSwallowers[i - 1](w.wnd);
    ASSERT_TRUE(PumpUntil([&] { return own->RehookCount() == i; }, 5000)) << "rehook " << i;
    EXPECT_EQ(w.Send(Service(), framework::kServiceAliveCheck), framework::kAliveAnswer);
  }
  kSwallowers[framework::kMaxRehooks](w.wnd);
  EXPECT_TRUE(PumpUntil([&] { return !own->CheckTimerEnabled(); }, 5000));
  EXPECT_EQ(own->RehookCount(), framework::kMaxRehooks);
  // Whatever subclassing is left, the window still works and the extender
  // still sees its messages through the stub under the last subclasser.
  const int before = journal.windows[w.wnd].before;
  EXPECT_EQ(w.Send(kProbe), kOwnAnswer);
  EXPECT_GT(journal.windows[w.wnd].before, before);
}

TEST_F(ExtenderTest, PropertiesReplaceAndRemove) {
  TestWindow w;
  ASSERT_TRUE(Attach(w.wnd, L""));
  ComPtr<framework::IWindowHandler> h;
  ASSERT_TRUE(SUCCEEDED(extender.As(&h)));
  h->SetProp(L"Processed", 1);
  h->SetProp(L"processed", 2);
  EXPECT_EQ(h->GetProp(L"PROCESSED", 9), 2u);
  h->RemoveProp(L"processed");
  EXPECT_EQ(h->GetProp(L"processed", 9), 9u);
  EXPECT_NE(h->GetServiceWnd(), nullptr);
  EXPECT_NE(h->CreateNewTimer(), nullptr);
}

// IUnknown of a subscriber the test owns.
template <class I>
class Owned : public I {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != __uuidof(I)) return E_NOINTERFACE;
    *out = static_cast<I*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }
  long refs() const { return refs_; }

 private:
  std::atomic<long> refs_{1};
};

struct Receiver : Owned<framework::IServerMessageReceiver> {
  std::vector<int> codes;
  void STDMETHODCALLTYPE OnServerMessage(int code, std::string_view) noexcept override {
    codes.push_back(code);
  }
};
struct PropWatcher : Owned<framework::IPropChangeSubscriber> {
  std::vector<std::pair<std::wstring, UINT_PTR>> seen;
  void STDMETHODCALLTYPE OnPropChanged(std::wstring_view name, UINT_PTR value) noexcept override {
    seen.emplace_back(name, value);
  }
};

TEST_F(ExtenderTest, SubscribersHearTheirPropertiesAndServerMessages) {
  TestWindow w;
  ASSERT_TRUE(Attach(w.wnd, L""));
  ComPtr<framework::IWindowHandler> h;
  ComPtr<framework::IServerMessageRedirector> redirector;
  ASSERT_TRUE(SUCCEEDED(extender.As(&h)));
  ASSERT_TRUE(SUCCEEDED(extender.As(&redirector)));
  PropWatcher watcher;
  h->PropChangeSubscribe(&watcher);
  h->SetProp(L"Size", 1);
  h->SetProp(L"size", 2);  // replaces, and tells once per change
  h->RemoveProp(L"size");  // tells nobody
  EXPECT_EQ(watcher.seen.size(), 2u);
  EXPECT_EQ(watcher.seen.back().second, 2u);
  h->PropChangeUnsubscribe(&watcher);
  h->SetProp(L"other", 3);
  EXPECT_EQ(watcher.seen.size(), 2u);

  Receiver first;
  Receiver second;
  h->Subscribe(L"Tabs", &first);
  h->Subscribe(L"tabs", &second);  // a name keeps its first receiver
  redirector->OnMessageFromServer(w.wnd, L"TABS", 5, "x");
  redirector->OnMessageFromServer(w.wnd, L"", 6, "x");       // no receiver named: nothing
  redirector->OnMessageFromServer(w.wnd, L"other", 7, "x");  // nobody under that name
  EXPECT_EQ(first.codes, std::vector<int>{5});
  EXPECT_TRUE(second.codes.empty());
  h->Unsubscribe(static_cast<framework::IServerMessageReceiver*>(&first));
  redirector->OnMessageFromServer(w.wnd, L"tabs", 8, "x");
  EXPECT_EQ(first.codes, std::vector<int>{5});
  EXPECT_EQ(first.refs(), 1);  // every reference the extender took is given back
}

TEST_F(ExtenderTest, TimersTickOnTheServiceWindowAndGoWithTheExtender) {
  TestWindow w;
  ASSERT_TRUE(Attach(w.wnd, L"action=TESTACTION{name=A}"));
  ComPtr<framework::IWindowHandler> h;
  ASSERT_TRUE(SUCCEEDED(extender.As(&h)));
  int ticks = 0;
  framework::ExtenderTimer* timer = h->CreateNewTimer();
  ASSERT_NE(timer, nullptr);
  timer->SetInterval(20);
  timer->SetCallback([&] { ++ticks; });
  EXPECT_FALSE(timer->Enabled());  // nothing ticks before it is enabled
  timer->SetEnabled(true);
  EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }, 5000));
  // The extended window itself never saw a timer message of ours.
  for (UINT m : journal.windows[w.wnd].seen) EXPECT_NE(m, static_cast<UINT>(WM_TIMER));
  const HWND service = h->GetServiceWnd();
  h.Reset();
  owner->OnClose(extender.Get(), 0);
  extender.Reset();
  // Its timers went with the service window.
  EXPECT_FALSE(IsWindow(service));
  const int after_close = ticks;
  RunUntilIdle();
  EXPECT_EQ(ticks, after_close);
}

}  // namespace
}  // namespace vm::test
