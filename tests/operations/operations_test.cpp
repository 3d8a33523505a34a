// Actions, their operations and triggers, with the library's code linked
// into the test program: current and next operation, contexts, hover
// previews, failures, localized captions, the publish request of service
// code 23, and triggers in a window extender on a real window running the
// operation they name.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "common/shared_names.h"
#include "hooklib/core/library.h"
#include "hooklib/framework/action.h"
#include "hooklib/framework/class_registry.h"
#include "hooklib/framework/operation.h"
#include "hooklib/framework/window_extender.h"
#include "tests/operations/test_op_action.h"

namespace vm::test {
namespace {

using framework::ComPtr;
using framework::IAction;
using framework::IAgent;
using framework::Variant;

constexpr UINT kFire = WM_APP + 30;       // the rule's trigger fires on it
constexpr UINT kFireNext = WM_APP + 31;   // a trigger without an operation
constexpr UINT kFireOther = WM_APP + 32;  // a trigger naming an action the rule lacks
constexpr LRESULT kOwnAnswer = 555;

class LibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    hooklib::AttachLibrary();
    ASSERT_TRUE(hooklib::EnsureLibraryStarted());
    ASSERT_TRUE(framework::EnsureWindowExtenderClass());
    ASSERT_TRUE(RegisterTestOpClasses());
  }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

// A context as a caller outside this library would pass one: named,
// owned, with context parameters and a description.
class TestAgent : public framework::AbstractSlave<IAgent> {
 public:
  std::map<std::wstring, bool> params;
  std::wstring description;
  TestAgent(std::wstring_view name, framework::IItem* owner) : AbstractSlave(name) {
    owner_ = owner;
  }
  Variant STDMETHODCALLTYPE GetContextParam(std::wstring_view name,
                                            const Variant& def) noexcept override {
    auto it = params.find(std::wstring(name));
    return it == params.end() ? def : Variant{it->second};
  }
  std::wstring STDMETHODCALLTYPE GetContextDescription() noexcept override { return description; }
  bool STDMETHODCALLTYPE IsProperWindow(HWND) noexcept override { return true; }
  void STDMETHODCALLTYPE AttachWindow() noexcept override {}
  void STDMETHODCALLTYPE DetachWindow() noexcept override {}
  bool STDMETHODCALLTYPE IsAttached() noexcept override { return false; }
  std::wstring STDMETHODCALLTYPE GetAgentKind() noexcept override { return L"test"; }
  UINT_PTR STDMETHODCALLTYPE GetAgentId() noexcept override { return 0; }
  HWND STDMETHODCALLTYPE GetContextWnd() noexcept override { return nullptr; }
  POINT STDMETHODCALLTYPE GetContextPoint() noexcept override { return {}; }
  void STDMETHODCALLTYPE SetContextParam(std::wstring_view, const Variant&) noexcept override {}
  bool STDMETHODCALLTYPE HasContextParam(std::wstring_view) noexcept override { return false; }
  std::wstring STDMETHODCALLTYPE GetContextPath() noexcept override { return {}; }
  int STDMETHODCALLTYPE GetContextItemCount() noexcept override { return 0; }
  void STDMETHODCALLTYPE Activate() noexcept override {}
  void STDMETHODCALLTYPE Deactivate() noexcept override {}
};

ComPtr<TestAgent> Agent(std::wstring_view name, std::map<std::wstring, bool> params = {},
                        framework::IItem* owner = nullptr) {
  ComPtr<TestAgent> agent = framework::MakeCom<TestAgent>(name, owner);
  agent->params = std::move(params);
  return agent;
}

// A standalone action, attached without a window (its window-free use).
struct Standalone {
  explicit Standalone(const std::wstring& params = L"name=Ops") {
    ComPtr<framework::IItem> item = framework::CreateItem(kTestOpActionClass, params);
    if (item) item.As(&action);
    own = dynamic_cast<TestOpAction*>(action.Get());
  }
  std::wstring Current() {
    auto op = action->GetCurrentOperation();
    return op ? op->GetName() : L"<none>";
  }
  std::wstring Next() {
    auto op = action->GetNextOperation();
    return op ? op->GetName() : L"<none>";
  }
  ComPtr<IAction> action;
  TestOpAction* own = nullptr;
};

TEST(Actions, ExecutingMovesCurrentAndNextRoundTheOperations) {
  Standalone s;
  ASSERT_NE(s.own, nullptr);
  EXPECT_FALSE(s.action->ExecuteOperation(L"A", nullptr));  // not attached: refused
  EXPECT_TRUE(s.own->applied.empty());
  s.action->AttachWindow();
  ASSERT_TRUE(s.action->IsEnabled());

  EXPECT_TRUE(s.action->ExecuteOperation(L"C", nullptr));
  EXPECT_EQ(s.Current(), L"C");
  EXPECT_EQ(s.Next(), L"A");
  EXPECT_EQ(s.own->published, 1);
  EXPECT_TRUE(s.action->ExecuteNextOperation(nullptr));
  EXPECT_EQ(s.Current(), L"A");
  EXPECT_EQ(s.Next(), L"B");
  // A name that is not an operation is applied all the same and recorded as
  // last applied, but current and next stay.
  EXPECT_TRUE(s.action->ExecuteOperation(L"Z", nullptr));
  EXPECT_EQ(s.Current(), L"A");
  EXPECT_EQ(s.Next(), L"B");
  EXPECT_EQ(s.action->GetLastAppliedOperationName(), L"Z");
  EXPECT_EQ(s.own->applied, (std::vector<std::wstring>{L"C", L"A", L"Z"}));
  EXPECT_EQ(s.own->published, 3);
  // Operations are looked up without regard to case.
  EXPECT_TRUE(s.action->ExecuteOperation(L"b", nullptr));
  EXPECT_EQ(s.Current(), L"B");
}

TEST(Actions, RefusedAndFailedOperationsChangeNothingButTheLastName) {
  Standalone s;
  s.action->AttachWindow();
  ASSERT_TRUE(s.action->ExecuteOperation(L"B", nullptr));
  const int published = s.own->published;
  EXPECT_FALSE(s.action->ExecuteOperation(L"FAIL", nullptr));  // the exception stays inside
  EXPECT_FALSE(s.action->ExecuteOperation(L"NO", nullptr));
  EXPECT_EQ(s.Current(), L"B");
  EXPECT_EQ(s.own->published, published);
  EXPECT_EQ(s.action->GetLastAppliedOperationName(), L"NO");

  // Disabled: refused unless the context says to ignore it; enabling and
  // disabling publish only on a change.
  s.action->SetEnabled(false);
  s.action->SetEnabled(false);
  EXPECT_EQ(s.own->published, published + 1);
  EXPECT_FALSE(s.action->ExecuteOperation(L"A", nullptr));
  auto ignore = Agent(L"ignore", {{L"ignore_enabled_state", true}});
  EXPECT_TRUE(s.action->ExecuteOperation(L"A", ignore.Get()));
  EXPECT_EQ(s.Current(), L"A");
  s.action->DetachWindow();
  s.action->SetEnabled(true);
  EXPECT_FALSE(s.action->IsEnabled());  // enabled only while attached
}

TEST(Actions, ContextsBecomeTheOperationsLastUnlessTransient) {
  Standalone s;
  s.action->AttachWindow();
  auto first = Agent(L"first");
  ASSERT_TRUE(s.action->ExecuteOperation(L"A", first.Get()));
  auto op_a = s.action->GetOperations()->GetItems(Variant{std::wstring(L"A")});
  EXPECT_EQ(op_a->GetLastContext().Get(), first.Get());
  // No context: the operation's last one applies; an overridable one gives
  // way to it; another one replaces it.
  ASSERT_TRUE(s.action->ExecuteOperation(L"A", nullptr));
  EXPECT_EQ(op_a->GetLastContext().Get(), first.Get());
  auto overridable = Agent(L"over", {{L"overridable_context", true}});
  ASSERT_TRUE(s.action->ExecuteOperation(L"A", overridable.Get()));
  EXPECT_EQ(op_a->GetLastContext().Get(), first.Get());
  auto second = Agent(L"second");
  ASSERT_TRUE(s.action->ExecuteOperation(L"A", second.Get()));
  EXPECT_EQ(op_a->GetLastContext().Get(), second.Get());

  // A transient context is not kept and does not move the current
  // operation, but the observers hear of the execution.
  const int published = s.own->published;
  auto transient = Agent(L"t", {{L"transient", true}});
  ASSERT_TRUE(s.action->ExecuteOperation(L"B", transient.Get()));
  EXPECT_EQ(s.Current(), L"A");
  auto op_b = s.action->GetOperations()->GetItems(Variant{std::wstring(L"B")});
  EXPECT_EQ(op_b->GetLastContext().Get(), nullptr);
  EXPECT_EQ(s.own->published, published + 1);
  s.action->Done();
}

TEST(Actions, AHoverPreviewAppliesNothingUntilItIsRemoved) {
  Standalone s;
  s.action->AttachWindow();
  EXPECT_FALSE(s.action->RemoveHoverEffect(nullptr));  // none in effect
  ASSERT_TRUE(s.action->ExecuteOperation(L"A", nullptr));
  ASSERT_TRUE(s.action->ApplyHoverEffect(L"B", nullptr));
  EXPECT_EQ(s.action->GetHoverOperationName(), L"B");
  EXPECT_TRUE(s.own->HoverInEffect());
  s.own->applied.clear();
  EXPECT_TRUE(s.action->ExecuteOperation(L"C", nullptr));
  EXPECT_TRUE(s.own->applied.empty());
  EXPECT_EQ(s.action->GetLastAppliedOperationName(), L"C");
  // Removing it applies the last executed operation for real.
  EXPECT_TRUE(s.action->RemoveHoverEffect(nullptr));
  EXPECT_EQ(s.own->applied, std::vector<std::wstring>{L"C"});
  EXPECT_FALSE(s.own->HoverInEffect());
  EXPECT_EQ(s.action->GetHoverOperationName(), L"");
  EXPECT_EQ(s.Current(), L"C");

  // With no current operation the preview cannot be taken back.
  Standalone fresh;
  fresh.action->AttachWindow();
  ASSERT_TRUE(fresh.action->ApplyHoverEffect(L"A", nullptr));
  EXPECT_FALSE(fresh.action->RemoveHoverEffect(nullptr));
  EXPECT_TRUE(fresh.own->HoverInEffect());
}

TEST(Actions, LocalizedParamsSetTheCaptionsTheyName) {
  // (A_Caption, Open), (b_caption, Close), then a pair cut short.
  auto field = [](const std::string& text) {
    char len[9];
    std::snprintf(len, sizeof(len), "%02X000000", static_cast<unsigned>(text.size()));
    std::wstring hex(len, len + 8);
    for (unsigned char c : text) {
      char byte[3];
      std::snprintf(byte, sizeof(byte), "%02X", c);
      hex += std::wstring(byte, byte + 2);
    }
    return hex;
  };
  const std::wstring block = field("A_Caption") + field("Open") + field("b_caption") +
                             field("Close") + field("C_Caption") + L"05000000436C";
  Standalone s(L"name=Ops\\localized_params=" + block);
  auto caption = [&](const wchar_t* name) {
    return s.action->GetOperations()->GetItems(Variant{std::wstring(name)})->GetCaption();
  };
  EXPECT_EQ(caption(L"A"), L"Open");
  EXPECT_EQ(caption(L"B"), L"Close");
  EXPECT_EQ(caption(L"C"), L"c");
  EXPECT_EQ(s.action->GetName(), L"Ops");
}

TEST(Actions, OperationsFromTheirOwnRuleText) {
  ComPtr<framework::IItem> item = framework::CreateItem(
      framework::kOperationClassName, L"name=X\\Caption=Go\\caption=no\\image=IMG\\down_image=D");
  ComPtr<framework::IOperation> op;
  ASSERT_TRUE(item && SUCCEEDED(item.As(&op)));
  EXPECT_EQ(op->GetName(), L"X");
  EXPECT_EQ(op->GetCaption(), L"Go");  // "Caption" only, with its capital C
  EXPECT_EQ(op->GetImageSmall(), L"IMG_SMALL");
  EXPECT_EQ(op->GetDownImageSmall(), L"D_SMALL");
  op->SetImage(L"");
  EXPECT_EQ(op->GetImageSmall(), L"_SMALL");
  op->SetHotKeyInfo(0xDEADBEEF);
  EXPECT_EQ(op->GetHotKeyInfo(), 0xDEADBEEFu);
}

TEST(Actions, TheContextPathStopsAtTheActionsOwner) {
  Standalone s;
  auto bar = Agent(L"Bar");
  auto button = Agent(L"Button1", {}, static_cast<framework::IItem*>(bar.Get()));
  EXPECT_EQ(s.own->PathOf(button.Get()), L"Bar.Button1");
  EXPECT_EQ(s.own->PathOf(nullptr), L"");
  EXPECT_FALSE(s.action->ExecuteMenuCommand(L"x", button.Get(), framework::mkOptions));
}

// ---- In a window extender ------------------------------------------------------------------

LRESULT CALLBACK OwnProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  static const UINT service =
      RegisterWindowMessageW(L"ServiceMessage_{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}");
  if (m == service && wp == framework::kServicePublishAction) return kOwnAnswer;
  if (m == kFire || m == kFireNext || m == kFireOther) return kOwnAnswer;
  return DefWindowProcW(w, m, wp, lp);
}

class Owner : public framework::AbstractItem<framework::IWindowExtenderOwner> {
 public:
  void STDMETHODCALLTYPE OnClose(framework::IWindowExtender* e, int) noexcept override {
    ComPtr<framework::IWindowExtender> keep(e);
    e->RequestExclusiveAccess();
    e->DetachWindow();
    e->Unbind();
    e->Done();
    e->ReleaseExclusiveAccess();
  }
};

class ExtendedWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &OwnProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"vm_operations_test";
    RegisterClassW(&wc);
    wnd = CreateWindowExW(0, wc.lpszClassName, L"operations", WS_OVERLAPPEDWINDOW, 0, 0, 100, 80,
                          nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(wnd, nullptr);
    const std::wstring rule =
        L"window_rule_name=4F7073\\action=TESTOPACTION{name=Ops}"
        L"\\trigger=TESTTRIGGER{name=Go\\action=Ops\\operation=B\\on=" +
        std::to_wstring(kFire) + L"}\\trigger=TESTTRIGGER{name=Round\\action=ops\\on=" +
        std::to_wstring(kFireNext) + L"}\\trigger=TESTTRIGGER{name=Lost\\action=Other\\on=" +
        std::to_wstring(kFireOther) + L"}";
    ComPtr<framework::IItem> item = framework::CreateItem(L"WINDOWEXTENDER", rule);
    ASSERT_TRUE(item && SUCCEEDED(item.As(&extender)));
    extender->RequestExclusiveAccess();
    extender->Init(static_cast<framework::IWindowExtenderOwner*>(owner.Get()));
    extender->Bind();
    extender->AttachWindow(wnd);
    extender->ReleaseExclusiveAccess();
    ComPtr<framework::IWindowPartOwner> parts;
    ASSERT_TRUE(SUCCEEDED(extender.As(&parts)));
    action = parts->GetActions()->GetItems(Variant{std::wstring(L"Ops")});
    ASSERT_TRUE(action);
    own = dynamic_cast<TestOpAction*>(action.Get());
    triggers = parts->GetTriggers();
  }
  void TearDown() override {
    if (extender) owner->OnClose(extender.Get(), 0);
    if (IsWindow(wnd)) DestroyWindow(wnd);
  }
  TestTrigger* Trigger(const wchar_t* name) {
    return dynamic_cast<TestTrigger*>(triggers->GetItems(Variant{std::wstring(name)}).Get());
  }
  std::wstring Current() {
    auto op = action->GetCurrentOperation();
    return op ? op->GetName() : L"<none>";
  }

  HWND wnd = nullptr;
  ComPtr<Owner> owner = framework::MakeCom<Owner>();
  ComPtr<framework::IWindowExtender> extender;
  ComPtr<IAction> action;
  TestOpAction* own = nullptr;
  ComPtr<framework::ITriggers> triggers;
};

TEST_F(ExtendedWindow, TriggersRunTheOperationTheyNameThroughTheAction) {
  ASSERT_NE(own, nullptr);
  ASSERT_EQ(triggers->Count(), 3);
  EXPECT_TRUE(action->IsEnabled());
  EXPECT_EQ(Trigger(L"Go")->GetActionName(), L"Ops");
  EXPECT_EQ(SendMessageW(wnd, kFire, 0, 0), kOwnAnswer);  // the window still gets it
  EXPECT_EQ(own->applied, std::vector<std::wstring>{L"B"});
  EXPECT_EQ(Current(), L"B");
  EXPECT_EQ(own->published, 1);
  EXPECT_EQ(Trigger(L"Go")->fired, 1);
  // Without an operation the action's next one runs; the action's name is
  // found without regard to case.
  SendMessageW(wnd, kFireNext, 0, 0);
  SendMessageW(wnd, kFireNext, 0, 0);
  EXPECT_EQ(own->applied, (std::vector<std::wstring>{L"B", L"C", L"A"}));
  // An action the rule does not have: nothing runs.
  SendMessageW(wnd, kFireOther, 0, 0);
  EXPECT_EQ(Trigger(L"Lost")->fired, 0);
  EXPECT_EQ(own->applied.size(), 3u);
  // A disabled trigger does not fire.
  Trigger(L"Go")->SetEnabled(false);
  SendMessageW(wnd, kFire, 0, 0);
  EXPECT_EQ(own->applied.size(), 3u);
}

TEST_F(ExtendedWindow, ServiceCodeTwentyThreePublishesOnlyForThisAction) {
  ASSERT_NE(own, nullptr);
  const UINT service = Names().service;
  ASSERT_NE(service, 0u);
  Standalone other;
  const LPARAM others[] = {
      0, 1, reinterpret_cast<LPARAM>(other.action.Get()),
      reinterpret_cast<LPARAM>(&framework::ItemClassOf<framework::Operation>()),
      static_cast<LPARAM>(-1)};
  for (LPARAM lp : others) {
    EXPECT_EQ(SendMessageW(wnd, service, framework::kServicePublishAction, lp), kOwnAnswer);
  }
  EXPECT_EQ(own->published, 0);
  // Its object or its class: published, and the window's own procedure is
  // not asked.
  const LPARAM mine[] = {reinterpret_cast<LPARAM>(action.Get()), reinterpret_cast<LPARAM>(own),
                         reinterpret_cast<LPARAM>(&framework::ItemClassOf<TestOpAction>())};
  for (LPARAM lp : mine) {
    EXPECT_NE(SendMessageW(wnd, service, framework::kServicePublishAction, lp), kOwnAnswer);
  }
  EXPECT_EQ(own->published, 3);
  EXPECT_TRUE(own->applied.empty());
}

TEST_F(ExtendedWindow, DetachingDisablesTheActionAndItsTriggers) {
  ASSERT_NE(own, nullptr);
  owner->OnClose(extender.Get(), 0);
  extender.Reset();
  EXPECT_FALSE(action->IsAttached());
  EXPECT_FALSE(action->ExecuteOperation(L"A", nullptr));
  EXPECT_EQ(SendMessageW(wnd, kFire, 0, 0), kOwnAnswer);
  EXPECT_TRUE(own->applied.empty());
  EXPECT_EQ(own->published, 0);  // Done dropped the observers
  EXPECT_FALSE(action->GetPublisher()->GetSubject());
}

}  // namespace
}  // namespace vm::test
