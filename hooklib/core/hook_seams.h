#pragma once
// What the hook procedures ask of the parts of the library that are built on
// top of them: the rule dispatcher (ProcessHook), the window extenders it
// owns (ExtenderHooks), the embedded application (ApplicationHooks) and the
// messenger client (MessengerHooks). Each is reached through a process-wide
// reference that its owner publishes and withdraws; while a reference is
// null, the hooks do without it (no dispatcher: candidates go nowhere).
#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include "hooklib/core/window_message.h"

namespace vm::hooklib {

enum class ExtensionReason : int { Default = 0, CaptionChanged = 1, Destroyed = 2 };

// A window's extender as the hooks use it: its message handler (before and
// after a message) and its re-hook service.
struct ExtenderHooks : IUnknown {
  virtual bool BeforeMessage(WindowMessage& message) noexcept = 0;
  virtual void AfterMessage(WindowMessage& message, bool before_handled) noexcept = 0;
  virtual void ResetHook() noexcept = 0;
};

// The rule dispatcher's entry points for the hooks, called on the window's thread.
struct ProcessHook : IUnknown {
  virtual bool IsActive() noexcept = 0;
  virtual void RegisterWindow(HWND window, ExtensionReason reason) noexcept = 0;
  virtual void UnregisterWindow(HWND window, int unreg_kind) noexcept = 0;
  virtual void CheckVisibleWindow(HWND window, bool ignore_visibility) noexcept = 0;
  virtual bool IsWindowExtended(HWND window) noexcept = 0;
  virtual Microsoft::WRL::ComPtr<ExtenderHooks> GetWindowExtender(HWND window) noexcept = 0;
  virtual void OnCaptionChanged(HWND window, UINT message, LPARAM lparam) noexcept = 0;
  virtual bool WindowIsUnbinding(HWND window) noexcept = 0;
  virtual bool HasWindowParams(HWND window) noexcept = 0;
  virtual void RecheckWindow(HWND window, bool force) noexcept = 0;
};

// The embedded application, as the library's start-up, exit and hooks use it.
struct ApplicationHooks : IUnknown {
  virtual void Init() noexcept = 0;
  virtual void Done() noexcept = 0;
  virtual bool IsUnloading() noexcept = 0;
  virtual void OnReloading() noexcept = 0;
  virtual HWND GetMainCenterWindow() noexcept = 0;
  virtual bool NeedWinEventHook(DWORD event) noexcept = 0;
};

// The messenger client, as the hooks use it.
struct MessengerHooks : IUnknown {
  virtual bool NeedRestart() noexcept = 0;
  virtual void Restart() noexcept = 0;
  virtual int GetState() noexcept = 0;  // -1 not running, 1 thread still suspended
  virtual DWORD GetClientThreadId() noexcept = 0;
  virtual DWORD GetServerThreadId() noexcept = 0;
  virtual void ResumeClientThread() noexcept = 0;
  virtual void SetWindowProcess(HWND console_window) noexcept = 0;
  virtual void Done() noexcept = 0;
};

// Published by the rule dispatcher when it serves windows; null withdraws it.
void SetProcessHook(ProcessHook* hook) noexcept;
Microsoft::WRL::ComPtr<ProcessHook> GetProcessHook() noexcept;

// The application object of this process: made at start-up by the factory
// its module registers (before the library starts), released at exit.
using ApplicationFactory = ApplicationHooks* (*)();  // returns an owned reference, or null
void SetApplicationFactory(ApplicationFactory factory) noexcept;
void SetApplication(ApplicationHooks* application) noexcept;
Microsoft::WRL::ComPtr<ApplicationHooks> GetApplication() noexcept;

// Published by the messenger client itself.
void SetMessenger(MessengerHooks* messenger) noexcept;
Microsoft::WRL::ComPtr<MessengerHooks> GetMessenger() noexcept;

// Message pre-filters of the message hook: four slots (0..3), each called for
// every removed message until one answers true, which swallows the message.
using MessageFilter = bool (*)(void* user_data, MSG* message) noexcept;
bool RegisterMessageFilter(int slot, MessageFilter filter, void* user_data) noexcept;

}  // namespace vm::hooklib
