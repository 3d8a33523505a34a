#pragma once
// Window timers of a window extender. They tick on the extender's service
// window, so a timer never sends WM_TIMER to the extended window itself
// (whose own timers use their own identifiers), and all of them go with the
// collection.
#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

namespace vm::framework {

class ExtenderTimer {
 public:
  using Callback = std::function<void()>;
  ExtenderTimer(HWND window, UINT_PTR id) noexcept : window_(window), id_(id) {}
  ~ExtenderTimer();
  ExtenderTimer(const ExtenderTimer&) = delete;
  ExtenderTimer& operator=(const ExtenderTimer&) = delete;

  // Every change applies at once: the timer is killed, then set again when
  // it is enabled, has an interval and a callback.
  void SetInterval(UINT interval_ms);
  void SetEnabled(bool enabled);
  void SetCallback(Callback callback);
  bool Enabled() const noexcept { return enabled_; }
  UINT_PTR Id() const noexcept { return id_; }
  void Fire();

 private:
  void Apply() noexcept;
  HWND window_;
  UINT_PTR id_;
  UINT interval_ = 1000;
  bool enabled_ = false;
  Callback callback_;
};

class TimerCollection {
 public:
  ~TimerCollection() { Clear(); }
  void SetWindowHandle(HWND window) noexcept { window_ = window; }
  HWND WindowHandle() const noexcept { return window_; }
  void SetIdSeed(int seed) noexcept { id_seed_ = seed; }
  // Null while no window is set.
  ExtenderTimer* CreateNewTimer();
  // WM_TIMER of one of ours fires it; true when the message was one.
  bool ProcessMessage(UINT msg, WPARAM wparam);
  void Clear() noexcept;
  std::size_t Count() const noexcept { return timers_.size(); }

 private:
  std::vector<std::unique_ptr<ExtenderTimer>> timers_;
  HWND window_ = nullptr;
  int id_seed_ = 0;
  bool clearing_ = false;
};

}  // namespace vm::framework
