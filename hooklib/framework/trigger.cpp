#include "hooklib/framework/trigger.h"

namespace vm::framework {

void Trigger::SetParam(std::wstring_view name, const Variant& value) {
  if (name == L"action") {
    action_name_ = VariantToString(value);
  } else if (name == L"operation") {
    operation_name_ = VariantToString(value);
  } else {
    AbstractSlave::SetParam(name, value);
  }
}

void Trigger::Init(IItem* owner) noexcept {
  ComPtr<IWindowPartOwner> part_owner;
  if (owner != nullptr) owner->QueryInterface(IID_PPV_ARGS(&part_owner));
  part_owner_ = part_owner;
  owner_ = part_owner ? ComPtr<IItem>(static_cast<IItem*>(part_owner.Get())) : nullptr;
}

void Trigger::Done() noexcept {
  part_owner_.Reset();
  owner_.Reset();
}

std::wstring Trigger::GetActionName() noexcept {
  try {
    return action_name_;
  } catch (...) {
    return {};
  }
}

ComPtr<IWindowHandler> Trigger::WindowHandler() const noexcept {
  return part_owner_ ? part_owner_->GetWindowHandler() : nullptr;
}

bool Trigger::Fire(IAgent* context) noexcept {
  if (!IsEnabled() || !part_owner_) return false;
  try {
    ComPtr<IActions> actions = part_owner_->GetActions();
    if (!actions || actions->IndexByKey(action_name_) < 0) return false;
    ComPtr<IAction> action = actions->GetItems(Variant{action_name_});
    if (!action) return false;
    if (operation_name_.empty()) return action->ExecuteNextOperation(context);
    return action->ExecuteOperation(operation_name_, context);
  } catch (...) {
    return false;
  }
}

}  // namespace vm::framework
