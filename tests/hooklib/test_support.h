#pragma once
// Shared helpers of the hook library tests: a probe window and small
// reference-counted fakes of the interfaces the hooks call.
#include <windows.h>
#include <unknwn.h>

#include <atomic>

#include "tests/support/message_pump.h"

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
