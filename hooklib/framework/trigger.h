#pragma once
// Triggers: parts of a window rule that run an operation of one of the
// rule's actions when something happens. The trigger names the action
// ("action", its name in the rule) and the operation ("operation"; without
// one the action's next operation runs); what makes it fire is up to each
// concrete trigger, which calls Fire.
#include <windows.h>

#include <string>

#include "hooklib/framework/item.h"

namespace vm::framework {

class Trigger : public AbstractSlave<ITrigger> {
 public:
  // "action", "operation"; anything else as for every item ("name").
  void SetParam(std::wstring_view name, const Variant& value) override;

  // ISlave / IWindowPart
  void STDMETHODCALLTYPE Init(IItem* owner) noexcept override;
  void STDMETHODCALLTYPE Done() noexcept override;
  bool STDMETHODCALLTYPE IsProperWindow(HWND) noexcept override { return true; }
  void STDMETHODCALLTYPE AttachWindow() noexcept override { attached_ = true; }
  void STDMETHODCALLTYPE DetachWindow() noexcept override { attached_ = false; }
  bool STDMETHODCALLTYPE IsAttached() noexcept override { return attached_; }

  // ITrigger
  std::wstring STDMETHODCALLTYPE GetActionName() noexcept override;
  bool STDMETHODCALLTYPE IsEnabled() noexcept override { return attached_ && !disabled_; }
  void STDMETHODCALLTYPE SetEnabled(bool new_value) noexcept override { disabled_ = !new_value; }

  std::wstring OperationName() const { return operation_name_; }

 protected:
  // Runs the named operation of the named action of the same rule, through
  // its ExecuteOperation (so it is logged and published like any other
  // execution). False when the trigger is disabled, or the action is not
  // among the rule's actions or refused.
  bool Fire(IAgent* context = nullptr) noexcept;

  ComPtr<IWindowPartOwner> PartOwner() const noexcept { return part_owner_; }
  ComPtr<IWindowHandler> WindowHandler() const noexcept;

 private:
  std::wstring action_name_;
  std::wstring operation_name_;
  ComPtr<IWindowPartOwner> part_owner_;
  bool attached_ = false;
  bool disabled_ = false;
};

}  // namespace vm::framework
