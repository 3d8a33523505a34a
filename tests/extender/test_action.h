// A small action class for tests, registered through the item class
// registry as "TESTACTION": it attaches itself as a message handler and
// reports what it sees to the observer the test (or fixture) installs.
//
// Parameters: "tag" (any text, reported at attach), "handle" (a message
// number whose BeforeMessage answers true), "close_on" (a message number on
// which BeforeMessage asks the owner to close the extender with kind 0).
#pragma once
#include <windows.h>

#include <atomic>
#include <string>

#include "hooklib/framework/class_registry.h"
#include "hooklib/framework/item.h"

namespace vm::test {

using framework::ComPtr;

inline constexpr wchar_t kTestActionClass[] = L"TESTACTION";

struct TestActionObserver {
  virtual void OnAttach(HWND wnd, const std::wstring& rule, const std::wstring& tag) = 0;
  virtual void OnDetach(HWND wnd) = 0;
  virtual void OnBefore(HWND wnd, UINT msg) = 0;
  virtual void OnAfter(HWND wnd, UINT msg, bool handled, LRESULT result) = 0;

 protected:
  ~TestActionObserver() = default;
};

inline std::atomic<TestActionObserver*> g_test_action_observer{nullptr};

class TestAction : public framework::AbstractSlave<framework::IAction>,
                   public framework::IMessageHandler {
 public:
  VM_DECLARE_UNKNOWN
  using Base = framework::AbstractSlave<framework::IAction>;

  void SetParam(std::wstring_view name, const framework::Variant& value) override {
    Base::SetParam(name, value);
    if (name == L"tag") tag_ = framework::VariantToString(value);
    if (name == L"handle") handle_ = static_cast<UINT>(framework::VariantToInt(value));
    if (name == L"close_on") close_on_ = static_cast<UINT>(framework::VariantToInt(value));
  }
  void* FindInterface(REFIID riid) noexcept override {
    if (void* p = framework::FindInterfaceIn<framework::IMessageHandler>(this, riid)) return p;
    return Base::FindInterface(riid);
  }

  // IWindowPart
  bool STDMETHODCALLTYPE IsProperWindow(HWND wnd) noexcept override { return IsWindow(wnd); }
  void STDMETHODCALLTYPE AttachWindow() noexcept override {
    handler_ = Handler();
    if (!handler_) return;
    wnd_ = handler_->GetWnd();
    handler_->AttachMessageHandler(this);
    attached_ = true;
    if (auto* o = g_test_action_observer.load())
      o->OnAttach(wnd_, handler_->GetParamDefault(L"window_rule_name", L""), tag_);
  }
  void STDMETHODCALLTYPE DetachWindow() noexcept override {
    if (handler_) handler_->DetachMessageHandler(this);
    handler_.Reset();
    attached_ = false;
    if (auto* o = g_test_action_observer.load()) o->OnDetach(wnd_);
  }
  bool STDMETHODCALLTYPE IsAttached() noexcept override { return attached_; }

  // IMessageHandler
  bool STDMETHODCALLTYPE BeforeMessage(framework::Message& m) noexcept override {
    if (auto* o = g_test_action_observer.load()) o->OnBefore(wnd_, m.Msg);
    if (close_on_ != 0 && m.Msg == close_on_) {
      ComPtr<framework::IWindowExtender> ext;
      ComPtr<framework::IWindowExtenderOwner> owner;
      if (owner_ && SUCCEEDED(owner_.As(&ext)) && ext) {
        if (ComPtr<framework::IItem> o = ext->GetOwner(); o && SUCCEEDED(o.As(&owner)))
          owner->OnClose(ext.Get(), 0);
      }
    }
    return handle_ != 0 && m.Msg == handle_;
  }
  void STDMETHODCALLTYPE AfterMessage(framework::Message& m, bool handled) noexcept override {
    if (auto* o = g_test_action_observer.load()) o->OnAfter(wnd_, m.Msg, handled, m.Result);
  }

  // IAction: nothing of it is used by the extender.
  bool STDMETHODCALLTYPE IsEnabled() noexcept override { return true; }
  void STDMETHODCALLTYPE SetEnabled(bool) noexcept override {}
  bool STDMETHODCALLTYPE ExecuteOperation(std::wstring_view, framework::IAgent*) noexcept override {
    return false;
  }
  bool STDMETHODCALLTYPE ExecuteNextOperation(framework::IAgent*) noexcept override {
    return false;
  }
  void STDMETHODCALLTYPE UpdateOperationInfo(framework::IOperation*,
                                             framework::IAgent*) noexcept override {}
  ComPtr<framework::IOperations> STDMETHODCALLTYPE GetOperations() noexcept override {
    return nullptr;
  }
  ComPtr<framework::IOperation> STDMETHODCALLTYPE GetCurrentOperation() noexcept override {
    return nullptr;
  }
  ComPtr<framework::IOperation> STDMETHODCALLTYPE GetNextOperation() noexcept override {
    return nullptr;
  }
  ComPtr<framework::IOperation> STDMETHODCALLTYPE
  GetNextVisibleOperation(framework::IAgent*) noexcept override {
    return nullptr;
  }
  std::wstring STDMETHODCALLTYPE GetLastAppliedOperationName() noexcept override { return {}; }
  ComPtr<framework::IPublisher> STDMETHODCALLTYPE GetPublisher() noexcept override {
    return nullptr;
  }
  bool STDMETHODCALLTYPE ApplyHoverEffect(std::wstring_view, framework::IAgent*) noexcept override {
    return false;
  }
  bool STDMETHODCALLTYPE RemoveHoverEffect(framework::IAgent*) noexcept override { return false; }
  std::wstring STDMETHODCALLTYPE GetHoverOperationName() noexcept override { return {}; }
  bool STDMETHODCALLTYPE HasMenuOfKind(framework::MenuKind, framework::IAgent*) noexcept override {
    return false;
  }
  std::wstring STDMETHODCALLTYPE GetMenuStructure(framework::MenuKind,
                                                  framework::IAgent*) noexcept override {
    return {};
  }
  bool STDMETHODCALLTYPE ExecuteMenuCommand(std::wstring_view, framework::IAgent*,
                                            framework::MenuKind) noexcept override {
    return false;
  }
  bool STDMETHODCALLTYPE HasExtendedUI(framework::UIContext, framework::IAgent*) noexcept override {
    return false;
  }
  void STDMETHODCALLTYPE ShowExtendedUI(framework::UIContext,
                                        framework::IAgent*) noexcept override {}
  void STDMETHODCALLTYPE CloseExtendedUI() noexcept override {}

 private:
  ComPtr<framework::IWindowHandler> Handler() {
    ComPtr<framework::IWindowPartOwner> part_owner;
    if (!owner_ || FAILED(owner_.As(&part_owner))) return nullptr;
    return part_owner->GetWindowHandler();
  }

  std::wstring tag_;
  UINT handle_ = 0;
  UINT close_on_ = 0;
  HWND wnd_ = nullptr;
  bool attached_ = false;
  ComPtr<framework::IWindowHandler> handler_;
};

inline bool RegisterTestAction() {
  static const bool ok = framework::RegisterItemClass<TestAction>(kTestActionClass);
  return ok;
}

}  // namespace vm::test
