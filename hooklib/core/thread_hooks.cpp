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

void UnhookWindowProc(void*, HWND window, WindowMessage* message) {
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

HWND CreateUnhookWindow() noexcept {
  const StubMethod method{&UnhookWindowProc, &g_unhook_window_object};
  return CreateUtilityWindow(&method, HWND_MESSAGE, kUnhookClassName, WS_POPUP | WS_DISABLED, 0);
}

// The unhook window of a thread that is not the caller: it gets
// DefWindowProcA back and closes itself, without library code.
void LetUnhookWindowGo(HWND window) noexcept {
  void* stub = reinterpret_cast<void*>(SetWindowLongPtrA(window, 0, 0));
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
  SendNotifyMessageA(window, WM_CLOSE, 0, 0);
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
    // Windows removed the hooks and windows of an ended thread with it.
    item = ThreadHookRecord{};
    return;
  }
  for (int i = 1; i >= 0; --i) {
    if (item.window_hooks[i] != nullptr && UnhookWindowsHookEx(item.window_hooks[i])) {
      item.window_hooks[i] = nullptr;
    }
  }
  const bool own_thread = GetCurrentThreadId() == item.thread_id;
  if (!own_thread && item.unhook_wnd != nullptr) {
    if (mode == RemovalMode::LibraryLeaving) {
      for (int i = 4; i >= 0; --i) {
        if (item.win_event_hooks[i] != nullptr && UnhookWinEvent(item.win_event_hooks[i])) {
          item.win_event_hooks[i] = nullptr;
        }
      }
      LetUnhookWindowGo(item.unhook_wnd);
      item.unhook_wnd = nullptr;
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
      if (local.unhook_wnd == nullptr) local.unhook_wnd = CreateUnhookWindow();
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
  if (ThreadHookList* list = CurrentThreadHooks()) list->UnhookThread(GetCurrentThreadId());
}

}  // namespace vm::hooklib
