#include "hooklib/core/thread_hooks.h"

#include <algorithm>
#include <atomic>

#include "common/names.h"
#include "common/shared_names.h"
#include "common/unique_handle.h"
#include "hooklib/core/hook_procedures.h"
#include "hooklib/core/hook_seams.h"
#include "hooklib/core/library.h"
#include "hooklib/core/library_state.h"
#include "hooklib/core/stub_pool.h"
#include "hooklib/core/utility_window.h"

namespace vm::hooklib {
namespace {

constexpr WPARAM kUnhookRequest = 66;
constexpr char kUnhookClassName[] = "vfo_LocalUnhookWnd";

// Copies of hook records handed to another thread's unhook window. Only
// blocks listed here are accepted: the service message can come from any
// process, and its lParam must never be taken for a pointer on trust.
SRWLOCK g_requests_lock = SRWLOCK_INIT;
std::vector<ThreadHookRecord*>* g_requests = nullptr;

bool AddRequest(ThreadHookRecord* block) noexcept {
  AcquireSRWLockExclusive(&g_requests_lock);
  bool ok = true;
  try {
    if (g_requests == nullptr) g_requests = new std::vector<ThreadHookRecord*>();
    g_requests->push_back(block);
  } catch (...) {
    ok = false;
  }
  ReleaseSRWLockExclusive(&g_requests_lock);
  return ok;
}

bool TakeRequest(ThreadHookRecord* block) noexcept {
  AcquireSRWLockExclusive(&g_requests_lock);
  bool found = false;
  if (g_requests != nullptr) {
    auto it = std::find(g_requests->begin(), g_requests->end(), block);
    if (it != g_requests->end()) {
      g_requests->erase(it);
      found = true;
    }
  }
  ReleaseSRWLockExclusive(&g_requests_lock);
  return found;
}

// The unhook window's procedure; the object is library data, so once the
// library is gone the stub finds it unreadable and calls nothing.
int g_unhook_window_object = 0;

void UnhookWindowProc(void*, HWND window, WindowMessage* message) noexcept {
  try {
    const UINT service = Names().service;
    if (service != 0 && message->Msg == service && message->WParam == kUnhookRequest) {
      auto* block = reinterpret_cast<ThreadHookRecord*>(message->LParam);
      if (TakeRequest(block)) {
        RemoveThreadHooks(*block, RemovalMode::Normal);  // now on the owning thread
        delete block;
        LeaveLibraryCall();
        message->Result = 1;
        return;
      }
    }
  } catch (...) {
  }
  message->Result = DefWindowProcA(window, message->Msg, message->WParam, message->LParam);
}

HWND CreateUnhookWindow(void** stub) noexcept {
  const StubMethod method{&UnhookWindowProc, &g_unhook_window_object};
  HWND window =
      CreateUtilityWindow(&method, HWND_MESSAGE, kUnhookClassName, WS_POPUP | WS_DISABLED, 0);
  *stub = window != nullptr ? reinterpret_cast<void*>(GetWindowLongPtrA(window, 0)) : nullptr;
  return window;
}

// Unhook windows of ended threads and their stubs: the window goes with its
// thread, after the thread-detach notification, and the stub may be freed
// only once it has. A fixed table, as it is filled under the loader lock;
// when it is full a stub is left allocated (harmless: nothing calls it).
struct RetiredStub {
  HWND window = nullptr;
  void* stub = nullptr;
};
constexpr std::size_t kRetiredSlots = 64;
SRWLOCK g_retired_lock = SRWLOCK_INIT;
RetiredStub g_retired[kRetiredSlots];
std::atomic<std::size_t> g_retired_count{0};

void RetireStub(HWND window, void* stub) noexcept {
  if (stub == nullptr) return;
  AcquireSRWLockExclusive(&g_retired_lock);
  for (RetiredStub& slot : g_retired) {
    if (slot.stub == nullptr) {
      slot = RetiredStub{window, stub};
      g_retired_count.fetch_add(1, std::memory_order_release);
      break;
    }
  }
  ReleaseSRWLockExclusive(&g_retired_lock);
}

// An unhook window let go while the library leaves: it gets DefWindowProcA
// back and closes itself later, without library code. Nothing here waits
// for another thread or calls a window procedure (a notify-send to a window
// of the calling thread would call it at once, so that one is posted).
void LetUnhookWindowGo(HWND window, void* recorded_stub) noexcept {
  void* stub = reinterpret_cast<void*>(SetWindowLongPtrA(window, 0, 0));
  if (stub == nullptr) stub = recorded_stub;
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    PostMessageA(window, WM_CLOSE, 0, 0);
  } else {
    SendNotifyMessageA(window, WM_CLOSE, 0, 0);
  }
  if (stub != nullptr) StubPool::Instance().FreeStub(stub);
}

void DestroyUnhookWindow(HWND window) noexcept {
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
  DestroyUtilityWindow(window);
}

bool ThreadEnded(DWORD thread_id) noexcept {
  UniqueHandle thread{OpenThread(SYNCHRONIZE, FALSE, thread_id)};
  return !thread || WaitForSingleObject(thread.get(), 0) != WAIT_TIMEOUT;
}

std::atomic<bool> g_thread_detach_enabled{false};

}  // namespace

void RemoveThreadHooks(ThreadHookRecord& item, RemovalMode mode) noexcept {
  if (item.thread_id == 0 || ThreadEnded(item.thread_id)) {
    // Windows removed the hooks and windows of an ended thread with it; its
    // unhook window's stub is ours to free once the window is gone.
    if (item.thread_id != 0 && item.unhook_stub != nullptr) {
      if (item.unhook_wnd == nullptr || !IsWindow(item.unhook_wnd)) {
        StubPool::Instance().FreeStub(item.unhook_stub);
      } else {
        RetireStub(item.unhook_wnd, item.unhook_stub);
      }
    }
    item = ThreadHookRecord{};
    return;
  }
  for (int i = 1; i >= 0; --i) {
    if (item.window_hooks[i] != nullptr && UnhookWindowsHookEx(item.window_hooks[i])) {
      item.window_hooks[i] = nullptr;
    }
  }
  const bool own_thread = GetCurrentThreadId() == item.thread_id;
  // While the library leaves (under the loader lock) no window is destroyed,
  // not even one of this thread: it gets DefWindowProcA back and is asked
  // to close, and it closes without library code.
  if ((!own_thread || mode == RemovalMode::LibraryLeaving) && item.unhook_wnd != nullptr) {
    if (mode == RemovalMode::LibraryLeaving) {
      for (int i = 4; i >= 0; --i) {
        if (item.win_event_hooks[i] != nullptr && UnhookWinEvent(item.win_event_hooks[i])) {
          item.win_event_hooks[i] = nullptr;
        }
      }
      LetUnhookWindowGo(item.unhook_wnd, item.unhook_stub);
      item.unhook_wnd = nullptr;
      item.unhook_stub = nullptr;
      return;
    }
    // The owning thread removes its WinEvent hooks and window; the call
    // depth stays raised until it has.
    EnterLibraryCall();
    ThreadHookRecord* block = new (std::nothrow) ThreadHookRecord(item);
    if (block != nullptr && AddRequest(block)) {
      if (SendNotifyMessageA(item.unhook_wnd, Names().service, kUnhookRequest,
                             reinterpret_cast<LPARAM>(block))) {
        return;
      }
      TakeRequest(block);
    }
    delete block;
    LeaveLibraryCall();
    return;
  }
  for (int i = 4; i >= 0; --i) {
    if (item.win_event_hooks[i] != nullptr && UnhookWinEvent(item.win_event_hooks[i])) {
      item.win_event_hooks[i] = nullptr;
    }
  }
  if (item.unhook_wnd != nullptr) {
    DestroyUnhookWindow(item.unhook_wnd);
    item.unhook_wnd = nullptr;
    item.unhook_stub = nullptr;  // freed with the window
  }
}

ThreadHookList::~ThreadHookList() { Clear(RemovalMode::LibraryLeaving); }

bool ThreadHookList::HookThread(DWORD thread_id) noexcept {
  if (thread_id == 0) return false;
  if (IsHooked(thread_id)) return true;

  ThreadHookRecord local;
  local.thread_id = thread_id;
  if (!CurrentHookModes().get_message_only) {
    static constexpr int kTypes[2] = {WH_CALLWNDPROC, WH_CALLWNDPROCRET};
    for (int i = 0; i < 2; ++i) {
      HOOKPROC trampoline = CurrentTrampoline(i);
      local.window_hooks[i] =
          trampoline ? SetWindowsHookExW(kTypes[i], trampoline, nullptr, thread_id) : nullptr;
      if (local.window_hooks[i] == nullptr) {
        RemoveThreadHooks(local);
        return false;
      }
    }
  }
  if (auto app = GetApplication()) {
    for (int i = 0; i < 5; ++i) {
      if (!app->NeedWinEventHook(kThreadWinEvents[i])) continue;
      local.win_event_hooks[i] =
          SetWinEventHook(kThreadWinEvents[i], kThreadWinEvents[i], LibraryModule(), &WinEventProc,
                          GetCurrentProcessId(), thread_id, WINEVENT_INCONTEXT);
      if (local.win_event_hooks[i] == nullptr) {
        RemoveThreadHooks(local);
        return false;
      }
      if (local.unhook_wnd == nullptr) local.unhook_wnd = CreateUnhookWindow(&local.unhook_stub);
    }
  }

  AcquireSRWLockExclusive(&lock_);
  const bool present = std::any_of(items_.begin(), items_.end(), [&](const ThreadHookRecord& r) {
    return r.thread_id == thread_id;
  });
  if (!present) {
    try {
      items_.push_back(local);
      local.thread_id = 0;  // now owned by the list
    } catch (...) {
    }
  }
  ReleaseSRWLockExclusive(&lock_);
  // A nested call for the same thread got there first (or the list could
  // not grow): this call's hooks go again.
  const bool hooked = local.thread_id == 0 || present;
  if (local.thread_id != 0) RemoveThreadHooks(local);
  return hooked;
}

void ThreadHookList::UnhookThread(DWORD thread_id, RemovalMode mode) noexcept {
  if (!IsHooked(thread_id)) return;  // every ending thread of the process comes here
  ThreadHookRecord item;
  AcquireSRWLockExclusive(&lock_);
  auto it = std::find_if(items_.begin(), items_.end(),
                         [&](const ThreadHookRecord& r) { return r.thread_id == thread_id; });
  if (it != items_.end()) {
    item = *it;
    items_.erase(it);
  }
  ReleaseSRWLockExclusive(&lock_);
  if (item.thread_id != 0) RemoveThreadHooks(item, mode);
}

void ThreadHookList::ForgetEndingThread(DWORD thread_id) noexcept {
  ThreadHookRecord item;
  AcquireSRWLockExclusive(&lock_);
  auto it = std::find_if(items_.begin(), items_.end(),
                         [&](const ThreadHookRecord& r) { return r.thread_id == thread_id; });
  if (it != items_.end()) {
    item = *it;
    items_.erase(it);  // moves the later records down; allocates nothing
  }
  ReleaseSRWLockExclusive(&lock_);
  if (item.thread_id != 0) RetireStub(item.unhook_wnd, item.unhook_stub);
}

void ThreadHookList::Clear(RemovalMode mode) noexcept {
  std::vector<ThreadHookRecord> items;
  AcquireSRWLockExclusive(&lock_);
  items.swap(items_);
  ReleaseSRWLockExclusive(&lock_);
  for (auto it = items.rbegin(); it != items.rend(); ++it) RemoveThreadHooks(*it, mode);
}

bool ThreadHookList::IsHooked(DWORD thread_id) const noexcept {
  AcquireSRWLockShared(&lock_);
  const bool found = std::any_of(items_.begin(), items_.end(), [&](const ThreadHookRecord& r) {
    return r.thread_id == thread_id;
  });
  ReleaseSRWLockShared(&lock_);
  return found;
}

std::size_t ThreadHookList::Count() const noexcept {
  AcquireSRWLockShared(&lock_);
  const std::size_t n = items_.size();
  ReleaseSRWLockShared(&lock_);
  return n;
}

ThreadHookRecord ThreadHookList::Find(DWORD thread_id) const noexcept {
  ThreadHookRecord found;
  AcquireSRWLockShared(&lock_);
  for (const auto& r : items_) {
    if (r.thread_id == thread_id) found = r;
  }
  ReleaseSRWLockShared(&lock_);
  return found;
}

void SetThreadDetachCallbackEnabled(bool enabled) noexcept {
  g_thread_detach_enabled.store(enabled);
}

void RunThreadDetachCallback() noexcept {
  if (!g_thread_detach_enabled.load(std::memory_order_acquire)) return;
  // Under the loader lock: no user32 here (unhooking, destroying windows and
  // notify-sends could wait on other threads or re-enter the loader).
  if (ThreadHookList* list = CurrentThreadHooks()) list->ForgetEndingThread(GetCurrentThreadId());
}

void FreeRetiredStubs() noexcept {
  if (g_retired_count.load(std::memory_order_acquire) == 0) return;
  RetiredStub gone[kRetiredSlots];
  std::size_t n = 0;
  AcquireSRWLockExclusive(&g_retired_lock);
  for (RetiredStub& slot : g_retired) {
    if (slot.stub != nullptr && (slot.window == nullptr || !IsWindow(slot.window))) {
      gone[n++] = slot;
      slot = RetiredStub{};
      g_retired_count.fetch_sub(1, std::memory_order_release);
    }
  }
  ReleaseSRWLockExclusive(&g_retired_lock);
  for (std::size_t i = 0; i < n; ++i) StubPool::Instance().FreeStub(gone[i].stub);
}

std::size_t RetiredStubCount() noexcept { return g_retired_count.load(std::memory_order_acquire); }

}  // namespace vm::hooklib
