#pragma once
// Shared helpers of the hook library tests: a bounded message pump and small
// reference-counted fakes of the interfaces the hooks call.
#include <windows.h>
#include <unknwn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>

namespace vm::test {

// A plain top-level window whose own procedure answers kProbe with
// kOriginalAnswer: what subclassing tests compare hooked answers against.
inline constexpr UINT kProbe = WM_APP + 7;
inline constexpr LRESULT kOriginalAnswer = 1000;

inline LRESULT CALLBACK ProbeWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == kProbe) return kOriginalAnswer;
  return DefWindowProcW(w, m, wp, lp);
}

// Creates a probe window; the class is registered on first use of its name.
inline HWND MakeProbeWindow(const wchar_t* class_name) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &ProbeWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = class_name;
  RegisterClassW(&wc);  // fails harmlessly once the class exists
  return CreateWindowExW(0, class_name, L"", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

// Pumps this thread's messages until `done` holds or the time is up.
inline bool PumpUntil(const std::function<bool()>& done, int timeout_ms = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    MsgWaitForMultipleObjects(
        0, nullptr, FALSE, static_cast<DWORD>(std::min<long long>(left.count(), 20)), QS_ALLINPUT);
  }
}

// IUnknown plumbing for a fake implementing one interface.
template <typename Interface>
class FakeUnknown : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown) {
      *out = static_cast<IUnknown*>(this);
      this->AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // owned by the test
  long refs() const { return refs_; }

 private:
  std::atomic<long> refs_{1};
};

}  // namespace vm::test
