// The test exports of a second build of the hook library (dispatcher_fixture.dll):
// the fixture process loads it and installs its hook procedures on its own
// thread, as the global hooks would run them there. The library in it has
// the real rule dispatcher and messenger client, plus a test action whose
// observations go to a named mapping the test reads.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cwchar>
#include <functional>

#include "hooklib/app/embedded_application.h"
#include "hooklib/app/rule_dispatcher.h"
#include "hooklib/core/hook_frame.h"
#include "hooklib/core/hook_procedures.h"
#include "hooklib/core/library.h"
#include "hooklib/core/stub_pool.h"
#include "tests/dispatcher/fixture_protocol.h"
#include "tests/extender/test_action.h"
#include "tests/operations/test_op_action.h"

namespace fx = vm::test::dispatcher_fixture;
using vm::framework::ComPtr;

namespace {

fx::Record* g_record = nullptr;

fx::Slot* SlotOf(HWND wnd, bool add) {
  if (g_record == nullptr) return nullptr;
  const auto key = reinterpret_cast<std::uint64_t>(wnd);
  for (LONG i = 0; i < g_record->used; ++i) {
    if (g_record->slots[i].wnd == key) return &g_record->slots[i];
  }
  if (!add || g_record->used >= fx::kSlots) return nullptr;
  fx::Slot* s = &g_record->slots[g_record->used];
  s->wnd = key;
  InterlockedIncrement(&g_record->used);
  return s;
}

struct MappingObserver : vm::test::TestActionObserver {
  void OnAttach(HWND w, const std::wstring& rule, const std::wstring&) override {
    if (fx::Slot* s = SlotOf(w, true)) {
      InterlockedIncrement(&s->attached);
      wcsncpy(s->rule, rule.c_str(), 31);
    }
  }
  void OnDetach(HWND w) override {
    if (fx::Slot* s = SlotOf(w, true)) InterlockedIncrement(&s->detached);
  }
  void OnBefore(HWND w, UINT) override {
    if (fx::Slot* s = SlotOf(w, true)) InterlockedIncrement(&s->before);
  }
  void OnAfter(HWND w, UINT, bool, LRESULT) override {
    if (fx::Slot* s = SlotOf(w, true)) InterlockedIncrement(&s->after);
  }
};
MappingObserver g_observer;

struct OperationObserver : vm::test::TestOpObserver {
  void OnApply(HWND w, const std::wstring&) override {
    if (fx::Slot* s = SlotOf(w, true)) InterlockedIncrement(&s->applied);
  }
  void OnPublished(HWND w) override {
    if (fx::Slot* s = SlotOf(w, true)) InterlockedIncrement(&s->published);
  }
};
OperationObserver g_operation_observer;

vm::hooklib::RuleDispatcher* Dispatcher() {
  auto hook = vm::hooklib::GetProcessHook();
  return dynamic_cast<vm::hooklib::RuleDispatcher*>(hook.Get());
}

double NanosecondsPerCall(const std::function<void()>& body, int calls) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) body();
  const auto elapsed = std::chrono::steady_clock::now() - start;
  return std::chrono::duration<double, std::nano>(elapsed).count() / calls;
}

}  // namespace

extern "C" BOOL WINAPI FixtureInstall() {
  static HANDLE mapping =
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(fx::Record),
                         fx::RecordName(GetCurrentProcessId()).c_str());
  if (mapping == nullptr) return FALSE;
  g_record = static_cast<fx::Record*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
  vm::test::RegisterTestAction();
  vm::test::g_test_action_observer.store(&g_observer);
  vm::test::RegisterTestOpClasses();
  vm::test::g_test_op_observer.store(&g_operation_observer);
  HMODULE self = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&FixtureInstall), &self);
  const DWORD thread = GetCurrentThreadId();
  const bool ok =
      SetWindowsHookExW(WH_GETMESSAGE, &vm::hooklib::MessageHookProc, self, thread) != nullptr &&
      SetWindowsHookExW(WH_CALLWNDPROC, &vm::hooklib::CallWndProcHook, self, thread) != nullptr &&
      SetWindowsHookExW(WH_CALLWNDPROCRET, &vm::hooklib::CallWndProcRetHook, self, thread) !=
          nullptr;
  return ok ? TRUE : FALSE;
}

extern "C" LRESULT WINAPI FixtureState(HWND wnd) {
  vm::hooklib::RuleDispatcher* d = Dispatcher();
  if (d == nullptr) return -1;
  LRESULT bits = 0;
  if (d->IsWindowExtended(wnd)) bits |= fx::kExtended;
  if (d->HasWindowParams(wnd)) bits |= fx::kPending;
  if (d->IsRegistered(wnd)) bits |= fx::kRegistered;
  void* proc = reinterpret_cast<void*>(GetWindowLongPtrW(wnd, GWLP_WNDPROC));
  auto& pool = vm::hooklib::StubPool::Instance();
  if (pool.IsStub(proc) && !pool.IsForwarder(proc)) bits |= fx::kSubclassed;
  return bits;
}

extern "C" LRESULT WINAPI FixtureCaptionCount(HWND wnd) {
  vm::hooklib::RuleDispatcher* d = Dispatcher();
  return d ? d->CaptionChangeCount(wnd) : -2;
}

// The message hook's own part for a message of a window that is no
// candidate (a child window), with the dispatcher published and without it,
// the two taken in turns so that both see the same machine load, and the
// dispatcher's own extender lookup for that window alone; best of ten
// rounds each. The answer packs tenths of ns, 21 bits each: with, without,
// lookup, from the low bits up.
extern "C" LRESULT WINAPI FixtureBenchmark(HWND child, BOOL) {
  ComPtr<vm::hooklib::ProcessHook> published = vm::hooklib::GetProcessHook();
  auto body = [&] {
    MSG msg{child, WM_MOUSEMOVE, 0, MAKELPARAM(3, 4), 0, {}};
    vm::hooklib::HookFrame frame(vm::hooklib::DpiSwitch::WhenNeeded);
    vm::hooklib::MessageHookWork(frame, HC_ACTION, PM_REMOVE, &msg);
    frame.RestoreLastError();
  };
  auto lookup = [&] {
    if (published) published->GetWindowExtender(child);
  };
  double with = 1e300;
  double without = 1e300;
  double own = 1e300;
  for (int round = 0; round < 10; ++round) {
    with = std::min(with, NanosecondsPerCall(body, 100000));
    vm::hooklib::SetProcessHook(nullptr);
    without = std::min(without, NanosecondsPerCall(body, 100000));
    vm::hooklib::SetProcessHook(published.Get());
    own = std::min(own, NanosecondsPerCall(lookup, 100000));
  }
  auto field = [](double ns) { return static_cast<std::uint64_t>(ns * 10) & 0x1FFFFFu; };
  return static_cast<LRESULT>(field(with) | (field(without) << 21) | (field(own) << 42));
}
