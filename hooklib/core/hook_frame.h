#pragma once
// The frame every entry point of the library runs in: the call depth raised
// for its duration, the thread made per-monitor DPI aware where the system
// allows it, and GetLastError as the caller left it when the call is passed
// on or returns.
#include <windows.h>

namespace vm::hooklib {

// Entry points on hot paths switch the DPI awareness only once their work
// goes beyond plain comparisons (EngageDpi); the rest switch at once.
enum class DpiSwitch { Now, WhenNeeded };

class HookFrame {
 public:
  explicit HookFrame(DpiSwitch when = DpiSwitch::Now) noexcept;
  ~HookFrame();
  HookFrame(const HookFrame&) = delete;
  HookFrame& operator=(const HookFrame&) = delete;

  // Puts back the caller's last-error value (before the next hook is called).
  void RestoreLastError() const noexcept { SetLastError(last_error_); }
  // Makes the thread per-monitor DPI aware for the rest of the frame.
  void EngageDpi() noexcept;

 private:
  DWORD last_error_;
  DPI_AWARENESS_CONTEXT previous_dpi_ = nullptr;
  bool engaged_ = false;
};

// Resolves SetThreadDpiAwarenessContext (user32, at run time) and picks the
// context to use: per-monitor aware version 2 where the system takes it,
// else version 1 (Windows 10 before 1703, Wine), else none.
void InitDpiSwitch() noexcept;

}  // namespace vm::hooklib
