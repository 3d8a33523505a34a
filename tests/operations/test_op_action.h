// An action with operations and a trigger for tests, registered through the
// item class registry as "TESTOPACTION" and "TESTTRIGGER".
//
// TESTOPACTION has the operations A, B and C. Applying "FAIL" throws (with
// a ";" in its message), applying "NO" answers false, everything else is
// applied and recorded. Parameter "policy": the logging policy as a number.
// It observes its own publisher and reports applications and publications
// to the observer the test (or fixture) installs.
//
// TESTTRIGGER fires its operation when its window receives the message
// number given as "on".
#pragma once
#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "hooklib/framework/action.h"
#include "hooklib/framework/class_registry.h"
#include "hooklib/framework/trigger.h"

namespace vm::test {

using framework::ComPtr;

inline constexpr wchar_t kTestOpActionClass[] = L"TESTOPACTION";
inline constexpr wchar_t kTestTriggerClass[] = L"TESTTRIGGER";

struct TestOpObserver {
  virtual void OnApply(HWND wnd, const std::wstring& operation) = 0;
  virtual void OnPublished(HWND wnd) = 0;

 protected:
  ~TestOpObserver() = default;
};

inline std::atomic<TestOpObserver*> g_test_op_observer{nullptr};

class TestOpAction : public framework::MessageHandlerAction {
 public:
  std::vector<std::wstring> applied;
  int published = 0;

  void SetParam(std::wstring_view name, const framework::Variant& value) override {
    MessageHandlerAction::SetParam(name, value);
    if (name == L"policy")
      SetLoggingPolicy(static_cast<framework::LoggingPolicy>(framework::VariantToInt(value)));
  }
  void InitInstance() override {
    MessageHandlerAction::InitInstance();
    watcher_ = framework::MakeCom<Watcher>(this);
    if (watcher_) GetPublisher()->Attach(watcher_.Get());
  }
  std::wstring RuntimeClassName() const override { return L"TTestOpAction"; }
  const framework::ItemClass* ClassReference() const noexcept override {
    return &framework::ItemClassOf<TestOpAction>();
  }

  // The context path as the log lines give it.
  std::wstring PathOf(framework::IAgent* context) const { return ContextPath(context); }
  void SetCurrent(std::wstring_view name) { SetCurrentOperation(name, nullptr); }

 protected:
  void InitOperations() override {
    AddOperation(L"A", L"a");
    AddOperation(L"B", L"b");
    AddOperation(L"C", L"c");
  }
  bool ApplyOperation(std::wstring_view name, framework::IAgent*) override {
    if (name == L"FAIL") throw std::runtime_error("cannot; really not");
    if (name == L"NO") return false;
    applied.emplace_back(name);
    if (auto* o = g_test_op_observer.load()) o->OnApply(Wnd(), std::wstring(name));
    return true;
  }

 private:
  // Sees the action's publications; it holds no reference back, and the
  // publisher drops it with Done.
  class Watcher : public framework::IEAObserver {
   public:
    explicit Watcher(TestOpAction* action) : action_(action) {}
    void* FindInterface(REFIID riid) noexcept {
      return framework::FindInterfaceIn<framework::IEAObserver>(this, riid);
    }
    IUnknown* Identity() noexcept { return this; }
    void STDMETHODCALLTYPE Update(framework::IPublisher*) noexcept override {
      ++action_->published;
      if (auto* o = g_test_op_observer.load()) o->OnPublished(action_->Wnd());
    }

   private:
    TestOpAction* action_;
  };
  ComPtr<Watcher> watcher_;
};

class TestTrigger : public framework::Trigger, public framework::IMessageHandler {
 public:
  VM_DECLARE_UNKNOWN
  int fired = 0;

  void SetParam(std::wstring_view name, const framework::Variant& value) override {
    Trigger::SetParam(name, value);
    if (name == L"on") on_ = static_cast<UINT>(framework::VariantToInt(value));
  }
  void* FindInterface(REFIID riid) noexcept override {
    if (void* p = framework::FindInterfaceIn<framework::IMessageHandler>(this, riid)) return p;
    return Trigger::FindInterface(riid);
  }
  void STDMETHODCALLTYPE AttachWindow() noexcept override {
    Trigger::AttachWindow();
    if (auto h = WindowHandler()) h->AttachMessageHandler(this);
  }
  void STDMETHODCALLTYPE DetachWindow() noexcept override {
    if (auto h = WindowHandler()) h->DetachMessageHandler(this);
    Trigger::DetachWindow();
  }
  bool STDMETHODCALLTYPE BeforeMessage(framework::Message& m) noexcept override {
    if (on_ != 0 && m.Msg == on_ && Fire()) ++fired;
    return false;
  }
  void STDMETHODCALLTYPE AfterMessage(framework::Message&, bool) noexcept override {}

 private:
  UINT on_ = 0;
};

inline bool RegisterTestOpClasses() {
  static const bool ok = framework::RegisterItemClass<TestOpAction>(kTestOpActionClass) &&
                         framework::RegisterItemClass<TestTrigger>(kTestTriggerClass);
  return ok;
}

}  // namespace vm::test
