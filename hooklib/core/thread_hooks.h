#pragma once
// Per-thread hooks of explorer.exe: the two window-procedure hooks (through
// the trampolines) and the in-context WinEvent hooks of each hooked thread,
// with the thread's message-only "vfo_LocalUnhookWnd" window through which
// another thread has that thread remove its WinEvent hooks (they can only be
// removed on the thread that installed them).
#include <windows.h>

#include <array>
#include <cstddef>
#include <vector>

namespace vm::hooklib {

struct ThreadHookRecord {
  DWORD thread_id = 0;  // 0 = empty record
  HWND unhook_wnd = nullptr;
  std::array<HHOOK, 2> window_hooks{};             // WH_CALLWNDPROC, WH_CALLWNDPROCRET
  std::array<HWINEVENTHOOK, 5> win_event_hooks{};  // in the order of kThreadWinEvents
  void* unhook_stub = nullptr;  // the unhook window's stub, freed once the window is gone
};

inline constexpr DWORD kThreadWinEvents[5] = {EVENT_OBJECT_CREATE, EVENT_OBJECT_DESTROY,
                                              EVENT_OBJECT_SHOW, EVENT_OBJECT_LOCATIONCHANGE,
                                              EVENT_OBJECT_NAMECHANGE};

// How hooks of another thread are removed: normally that thread is asked to
// remove its WinEvent hooks itself; while the library is leaving the process
// it cannot wait for that, so it removes what it can at once and lets the
// unhook window close without calling library code.
enum class RemovalMode { Normal, LibraryLeaving };

// Removes the hooks of one record (RemoveThreadHooks); zeroes what it removed.
void RemoveThreadHooks(ThreadHookRecord& item, RemovalMode mode = RemovalMode::Normal) noexcept;

class ThreadHookList {
 public:
  ThreadHookList() = default;
  ~ThreadHookList();
  ThreadHookList(const ThreadHookList&) = delete;
  ThreadHookList& operator=(const ThreadHookList&) = delete;

  // Installs the hooks of a thread (true when the thread is hooked now).
  bool HookThread(DWORD thread_id) noexcept;
  void UnhookThread(DWORD thread_id, RemovalMode mode = RemovalMode::Normal) noexcept;
  // A thread that ends (the loader's thread-detach notification, under the
  // loader lock): its record leaves the list without a call into user32.
  // Windows removes the thread's hooks and windows with it; the unhook
  // window's stub is freed by a later FreeRetiredStubs, once the window is gone.
  void ForgetEndingThread(DWORD thread_id) noexcept;
  void Clear(RemovalMode mode = RemovalMode::Normal) noexcept;

  bool IsHooked(DWORD thread_id) const noexcept;
  std::size_t Count() const noexcept;
  ThreadHookRecord Find(DWORD thread_id) const noexcept;  // empty record when absent

 private:
  mutable SRWLOCK lock_ = SRWLOCK_INIT;
  std::vector<ThreadHookRecord> items_;
};

// The thread-detach callback: while enabled, a thread that ends has its
// hooks removed (called from the library's DLL_THREAD_DETACH handling).
// The library's start-up makes the process's list (CurrentThreadHooks) and
// enables the callback; when the application unloads, its owner disables the
// callback and clears the list, and the reload check enables it again.
void SetThreadDetachCallbackEnabled(bool enabled) noexcept;
void RunThreadDetachCallback() noexcept;

// Frees the stubs of unhook windows of ended threads whose windows are gone.
// Called on ordinary threads (the per-thread hook installation of every hook
// call); does nothing but one atomic read while there are none.
void FreeRetiredStubs() noexcept;
std::size_t RetiredStubCount() noexcept;

}  // namespace vm::hooklib
