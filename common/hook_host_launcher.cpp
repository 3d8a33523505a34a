#include "common/hook_host_launcher.h"

#include "common/control_program.h"
#include "common/names.h"
#include "common/single_instance.h"

namespace vm {
namespace {

std::wstring DefaultHostPath() {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) return names::kHookHostExe;
  path.resize(length);
  return path.substr(0, path.find_last_of(L"\\/") + 1) + names::kHookHostExe;
}

UINT ServiceMessage() {
  const UINT message = RegisterWindowMessageW(names::kServiceMessage);
  return message != 0 ? message : names::kServiceMessageFallback;
}

}  // namespace

std::wstring HookHostCommandLine(const std::wstring& program, DWORD process_id, HWND window,
                                 bool stage_library) {
  const auto window_value =
      static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(window) & 0xFFFFFFFF);
  return L"\"" + program + L"\" " + std::to_wstring(process_id) + L" " +
         std::to_wstring(window_value) + L" " + (stage_library ? L"0" : L"1");
}

HookHostLauncher::HookHostLauncher()
    : startup_event_(CreateEventW(nullptr, FALSE, FALSE, control::kHostStartupEvent)),
      shutdown_event_(CreateEventW(nullptr, FALSE, FALSE, control::kHostShutdownEvent)),
      relogin_event_(CreateEventW(nullptr, FALSE, FALSE, control::kHostNeedReloginEvent)) {}

HookHostLauncher::~HookHostLauncher() { Stop(); }

bool HookHostLauncher::Running() const {
  return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

int HookHostLauncher::WaitServingSends(const HANDLE* handles, DWORD count, DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    const DWORD result = MsgWaitForMultipleObjectsEx(count, handles, left, QS_SENDMESSAGE, 0);
    if (result < WAIT_OBJECT_0 + count) return static_cast<int>(result - WAIT_OBJECT_0);
    if (result != WAIT_OBJECT_0 + count) return -1;  // timed out or failed
    // Serves the sent messages only; posted ones stay for the caller's loop.
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

void HookHostLauncher::Forget() {
  process_.reset();
  process_id_ = 0;
  host_thread_id_ = 0;
}

HookHostStart HookHostLauncher::Start(const HookHostOptions& options) {
  if (Running()) return HookHostStart::AlreadyRunning;
  Forget();
  relogin_requested_ = false;
  {
    SingleAppInstance guard(names::kHookHostInstanceId);
    if (guard.CheckApp()) return HookHostStart::AlreadyRunning;
  }
  // The events outlive a host while we hold them: what an earlier host set
  // on its way out must not greet the next one (a set shutdown event would
  // stop it right after its announcement).
  for (const UniqueHandle* e : {&startup_event_, &shutdown_event_, &relogin_event_}) {
    if (*e) ResetEvent(e->get());
  }

  const std::wstring program = options.host_path.empty() ? DefaultHostPath() : options.host_path;
  std::wstring command = HookHostCommandLine(program, GetCurrentProcessId(), options.control_window,
                                             options.stage_library);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return HookHostStart::CouldNotStart;
  }
  CloseHandle(info.hThread);
  process_.reset(info.hProcess);
  process_id_ = info.dwProcessId;

  const HANDLE handles[3] = {startup_event_.get(), relogin_event_.get(), process_.get()};
  switch (WaitServingSends(handles, 3, options.startup_timeout_ms)) {
    case 0:
      return HookHostStart::Started;
    case 1:
      relogin_requested_ = true;
      Stop();  // it is on its way out already
      return HookHostStart::NeedsRelogin;
    case 2:
      // A host that ends at once may still have asked for a new log-in.
      if (relogin_event_ && WaitForSingleObject(relogin_event_.get(), 0) == WAIT_OBJECT_0) {
        relogin_requested_ = true;
        Stop();
        return HookHostStart::NeedsRelogin;
      }
      Stop();
      return HookHostStart::EndedEarly;
    default:
      Stop();
      return HookHostStart::TimedOut;
  }
}

HookHostStop HookHostLauncher::Stop(DWORD timeout_ms) {
  if (!process_) return HookHostStop::Stopped;
  if (Running() && shutdown_event_) SetEvent(shutdown_event_.get());
  const HANDLE process = process_.get();
  const bool ended = WaitServingSends(&process, 1, timeout_ms) == 0;
  // The host sets the shutdown event itself once it has unloaded; take that
  // back, or the next host would read it as the order to stop.
  if (ended && shutdown_event_) ResetEvent(shutdown_event_.get());
  Forget();
  return ended ? HookHostStop::Stopped : HookHostStop::TimedOut;
}

bool HookHostLauncher::NoteServiceMessage(WPARAM code, LPARAM value) {
  if (code != static_cast<WPARAM>(control::ServiceCode::HostAnnounce)) return false;
  // Anyone may send the message: take only a thread of the host we started.
  UniqueHandle thread{
      OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(value))};
  if (!thread || process_id_ == 0 || GetProcessIdOfThread(thread.get()) != process_id_) return true;
  host_thread_id_ = static_cast<DWORD>(value);
  return true;
}

bool HookHostLauncher::RequestMouseHook(bool install) const {
  if (host_thread_id_ == 0) return false;
  const auto code =
      install ? control::ServiceCode::InstallMouseHook : control::ServiceCode::UninstallMouseHook;
  return PostThreadMessageW(host_thread_id_, ServiceMessage(), static_cast<WPARAM>(code), 0) !=
         FALSE;
}

}  // namespace vm
