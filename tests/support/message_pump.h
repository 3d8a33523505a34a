#pragma once
// Message pumping for tests that drive real windows: wait on real conditions
// (a window appears, a message arrives) with a bounded timeout, never a fixed
// sleep as the synchronisation.
#include <windows.h>

#include <functional>

namespace vm::test {

// Offered each message before it is dispatched; true means "handled, do not
// dispatch" (the place for TranslateAcceleratorW or IsDialogMessageW).
using PreTranslate = std::function<bool(MSG&)>;

// Dispatches every message already queued for this thread, then returns.
inline void RunUntilIdle(const PreTranslate& pre = {}) {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    if (pre && pre(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Pumps messages until `done()` holds or `timeout_ms` passes; returns done().
// Sleeps only while the queue is empty (MsgWaitForMultipleObjectsEx), so
// cross-thread sends to this thread's windows are served meanwhile.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms = 5000,
                      const PreTranslate& pre = {}) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (;;) {
    RunUntilIdle(pre);
    if (done()) return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return done();
    const DWORD left = static_cast<DWORD>(deadline - now);
    MsgWaitForMultipleObjectsEx(0, nullptr, left < 20 ? left : 20, QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

// Pumps for a while (lets posted work settle where there is no condition to
// wait for, e.g. to show that something does NOT happen).
inline void PumpFor(DWORD ms, const PreTranslate& pre = {}) {
  PumpUntil([] { return false; }, ms, pre);
}

}  // namespace vm::test
