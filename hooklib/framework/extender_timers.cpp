#include "hooklib/framework/extender_timers.h"

namespace vm::framework {

ExtenderTimer::~ExtenderTimer() {
  if (window_ != nullptr) KillTimer(window_, id_);
}

void ExtenderTimer::Apply() noexcept {
  if (window_ == nullptr) return;
  KillTimer(window_, id_);
  if (enabled_ && interval_ != 0 && callback_) SetTimer(window_, id_, interval_, nullptr);
}

void ExtenderTimer::SetInterval(UINT interval_ms) {
  interval_ = interval_ms;
  Apply();
}

void ExtenderTimer::SetEnabled(bool enabled) {
  enabled_ = enabled;
  Apply();
}

void ExtenderTimer::SetCallback(Callback callback) {
  callback_ = std::move(callback);
  Apply();
}

void ExtenderTimer::Fire() {
  if (callback_) {
    // The callback may change this timer (disable it, even set a new
    // callback): it runs on a copy.
    Callback call = callback_;
    call();
  }
}

ExtenderTimer* TimerCollection::CreateNewTimer() {
  if (window_ == nullptr) return nullptr;
  const auto id = static_cast<UINT_PTR>(id_seed_) + timers_.size();
  timers_.push_back(std::make_unique<ExtenderTimer>(window_, id));
  return timers_.back().get();
}

bool TimerCollection::ProcessMessage(UINT msg, WPARAM wparam) {
  if (msg != WM_TIMER || clearing_) return false;
  const auto position = static_cast<INT_PTR>(wparam) - id_seed_;
  if (position < 0 || position >= static_cast<INT_PTR>(timers_.size())) return false;
  timers_[static_cast<std::size_t>(position)]->Fire();
  return true;
}

void TimerCollection::Clear() noexcept {
  if (clearing_) return;
  clearing_ = true;
  timers_.clear();
  clearing_ = false;
}

}  // namespace vm::framework
