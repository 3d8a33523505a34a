#include "hooklib/messenger/messenger_client.h"

#include <new>
#include <utility>
#include <string>
#include <vector>

#include "common/names.h"
#include "common/shared_names.h"
#include "common/system_info.h"
#include "hooklib/app/library_thread.h"
#include "hooklib/core/library_state.h"
#include "hooklib/core/utility_window.h"
#include "hooklib/messenger/messenger_protocol.h"

namespace vm::hooklib {
namespace {

using messenger::ParseServerBody;

// Every send to the control program: the server thread does not get to call
// back into ours while we wait (SMTO_BLOCK), and a server that has stopped
// taking messages fails the call at once (SMTO_ABORTIFHUNG) instead of
// holding this thread, and the plug-in commands behind it, for the timeout.
constexpr UINT kSendFlags = SMTO_BLOCK | SMTO_ABORTIFHUNG;

constexpr WPARAM kHandshakeServerIs = 0;
constexpr WPARAM kHandshakeUnregister = 1;
constexpr WPARAM kHandshakeUnload = 2;
constexpr WPARAM kHandshakeStopFinalWait = 3;
constexpr WPARAM kHandshakeRegister = 4;
constexpr WPARAM kHandshakeServerProcess = 5;
constexpr UINT_PTR kNoWaitTimerId = 0;

std::string ToAnsi(std::wstring_view text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

std::wstring FromAnsi(std::string_view text) {
  if (text.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string ExecutablePathAnsi() {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) return std::string(path.data(), n);
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

// Window handles travel as their low 32 bits; the system sign-extends them.
HWND WindowFromValue(std::uint32_t value) {
  return reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<std::int32_t>(value)));
}

// Windows Vista only: from Windows 7 on the client window lets WM_COPYDATA
// in by itself. Once per process, with user32 alone.
void AllowCopyDataOnVista() noexcept {
  static std::once_flag once;
  try {
    std::call_once(once, [] {
      if (!Os().Is(6, 0)) return;
      using FilterFn = BOOL(WINAPI*)(UINT, DWORD);
      HMODULE user32 = GetModuleHandleW(L"user32.dll");
      auto allow =
          user32 ? reinterpret_cast<FilterFn>(GetProcAddress(user32, "ChangeWindowMessageFilter"))
                 : nullptr;
      if (allow != nullptr) allow(WM_COPYDATA, MSGFLT_ADD);
    });
  } catch (...) {
  }
}

void AllowCopyDataInto(HWND wnd) noexcept {
  if (!Os().flags.windows7_or_later) return;
  using FilterExFn = BOOL(WINAPI*)(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  auto allow =
      user32 ? reinterpret_cast<FilterExFn>(GetProcAddress(user32, "ChangeWindowMessageFilterEx"))
             : nullptr;
  if (allow != nullptr) allow(wnd, WM_COPYDATA, MSGFLT_ALLOW, nullptr);
}

}  // namespace

UINT HandshakeMessage() noexcept {
  const UINT shared = Names().handshake;
  if (shared != 0) return shared;
  // Linked into a program that never started the library's shared names.
  static const UINT own = RegisterWindowMessageW(names::kHandshakeMessage);
  return own;
}

struct MessengerClient::ThreadStart {
  MessengerClient* client;  // one reference, the thread's
  HMODULE module;           // one reference on the library, the thread's
};

MessengerClient::MessengerClient(MessengerTimings timings)
    : timings_(timings), next_message_id_(GetTickCount()) {}

MessengerClient::~MessengerClient() = default;

void* MessengerClient::FindInterface(REFIID riid) noexcept {
  return framework::FindInterfaceIn<IMessengerClient, IMessengerClientInternal, IMessageSender>(
      this, riid);
}

void MessengerClient::Start(bool publish) noexcept {
  if (publish) {
    SetMessenger(static_cast<MessengerHooks*>(this));
    published_ = true;
  }
  FindServerWnd(framework::siMain);
  if (server_wnd_[framework::siMain].load() != nullptr) active_.store(true);
  StartClientThread();
}

// ---- The thread -------------------------------------------------------------

bool MessengerClient::StartClientThread() noexcept {
  const HMODULE module = PinLibraryModule();
  auto* start = module ? new (std::nothrow) ThreadStart{this, module} : nullptr;
  if (start == nullptr) {
    if (module) FreeLibrary(module);
    state_.store(msNoThread);
    return false;
  }
  AddRef();  // the thread's
  bool created = false;
  {
    std::lock_guard lock(thread_handle_lock_);
    DWORD id = 0;
    const HANDLE thread = CreateThread(nullptr, 0, &ThreadEntry, start, CREATE_SUSPENDED, &id);
    if (thread == nullptr) {
      state_.store(msNoThread);
    } else {
      created = true;
      client_thread_id_.store(id);
      thread_handle_.reset(thread);
      int expected = msCreated;
      state_.compare_exchange_strong(expected, msSuspended);
      // The message hook normally resumes the thread at the first message of
      // the process; in a process without messages a timer does it. A timer
      // rather than a sleeping thread: it holds no call depth while it waits,
      // and the suspended thread's reference keeps the library (and this
      // client) in place until the thread takes the timer back.
      if (state_.load() == msSuspended && resume_timer_ == nullptr) {
        CreateTimerQueueTimer(&resume_timer_, nullptr, &ResumeTimerProc, this,
                              timings_.resume_after_ms, 0, WT_EXECUTEONLYONCE);
      }
    }
  }
  if (!created) {
    delete start;
    FreeLibrary(module);
    Release();
    return false;
  }
  return true;
}

void CALLBACK MessengerClient::ResumeTimerProc(void* parameter, BOOLEAN) {
  static_cast<MessengerClient*>(parameter)->ResumeClientThread();
}

DWORD WINAPI MessengerClient::ThreadEntry(void* parameter) {
  auto* start = static_cast<ThreadStart*>(parameter);
  MessengerClient* const self = start->client;
  const HMODULE module = start->module;
  delete start;
  self->RunThread();
  self->Release();
  FreeLibraryAndExitThread(module, 0);
}

void MessengerClient::RunThread() noexcept {
  try {
    state_.store(msStarting);
    CloseThreadHandle();
    // Once it runs, the resume timer has nothing left to do; a call of it
    // that is under way is waited for.
    HANDLE timer = nullptr;
    {
      std::lock_guard lock(thread_handle_lock_);
      timer = std::exchange(resume_timer_, nullptr);
    }
    if (timer != nullptr) DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
    ApplyLibraryThreadDpiAwareness();

    const HWND wnd = CreateUtilityWindow(nullptr, HWND_MESSAGE, kMessengerClientClassA, WS_POPUP,
                                         WS_EX_TOOLWINDOW);
    if (wnd != nullptr) {
      SetWindowTextA(wnd, ExecutablePathAnsi().c_str());
      SetWindowLongPtrA(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
      SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProc));
      ::SendMessageA(wnd, WM_NULL, 0, 0);
      SetWnd(wnd);

      if (!IsServerWindowValid(framework::siMain)) FindServerWnd(framework::siMain);
      if (IsServerWindowValid(framework::siMain) && !IsClientRegistered(framework::siMain)) {
        RegisterWithServer(framework::siMain);
      }
      // Ours to close only when we opened it (or the server's answer is
      // provably a handle on its own process): any other answer names a
      // handle of this process that belongs to someone else.
      HANDLE server_process = OpenProcess(SYNCHRONIZE, FALSE, server_process_id_.load());
      bool owns_wait_handle = server_process != nullptr;
      if (server_process == nullptr) {
        server_process = RequestServerProcessHandle();
        owns_wait_handle = server_process != nullptr && server_process_id_.load() != 0 &&
                           GetProcessId(server_process) == server_process_id_.load();
      }
      PostPendingMessages();
      state_.store(msWaiting);
      WaitForServerProcess(server_process);
      if (owns_wait_handle) CloseHandle(server_process);

      SetWnd(nullptr);
      SetWindowLongPtrA(wnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
      ::SendMessageA(wnd, WM_NULL, 0, 0);
      DestroyUtilityWindow(wnd);
    }
    // With the window gone the client is registered nowhere, also when the
    // server only ordered an unload (Handshake 2 without 1): a restart must
    // register again, and nothing may pile up in the queue until then.
    for (auto& registered : registered_) registered.store(false);
    active_.store(false);
    FailPendingMessages();
  } catch (...) {
  }
  state_.store(msNoThread);

  // The library may go once no call into it is running anywhere in the
  // process; a restart ends this wait early (Handshake 3).
  const UINT handshake = HandshakeMessage();
  while (CurrentCallDepth() > 0) {
    MSG msg;
    if (handshake != 0 && PeekMessageW(&msg, nullptr, handshake, handshake, PM_REMOVE)) {
      if (msg.wParam == kHandshakeStopFinalWait) break;
      continue;
    }
    Sleep(100);
  }
}

void MessengerClient::WaitForServerProcess(HANDLE server_process) noexcept {
  const HWND wnd = wnd_.load();
  if (server_process != nullptr) {
    while (state_.load() == msWaiting) {
      const DWORD r = MsgWaitForMultipleObjects(1, &server_process, FALSE, INFINITE, QS_ALLINPUT);
      if (r == WAIT_OBJECT_0 + 1) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
          if (msg.message == WM_QUIT) {
            state_.store(msWaitEnded);
            return;
          }
          DispatchMessageW(&msg);
          if (WaitForSingleObject(server_process, 0) != WAIT_TIMEOUT) break;
        }
        continue;
      }
      // The control program ended (or the wait cannot go on): withdraw
      // everything from its windows, then unload.
      WithdrawAndUnload(wnd);
      state_.store(msWaitEnded);
    }
    return;
  }
  SetTimer(wnd, kNoWaitTimerId, timings_.no_wait_poll_ms, nullptr);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  state_.store(msWaitEnded);
}

void MessengerClient::WithdrawAndUnload(HWND wnd) {
  const UINT handshake = HandshakeMessage();
  if (wnd == nullptr || handshake == 0) return;
  ::SendMessageW(wnd, handshake, kHandshakeUnregister, 0);
  ::SendMessageW(wnd, handshake, kHandshakeUnload, 0);
}

// ---- The window ---------------------------------------------------------------

LRESULT CALLBACK MessengerClient::WindowProc(HWND wnd, UINT msg, WPARAM wparam,
                                             LPARAM lparam) noexcept {
  try {
    auto* self = reinterpret_cast<MessengerClient*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    if (self != nullptr) return self->HandleMessage(wnd, msg, wparam, lparam);
  } catch (...) {
    if (msg == WM_COPYDATA) return 1;
    return 0;
  }
  return DefWindowProcA(wnd, msg, wparam, lparam);
}

LRESULT MessengerClient::HandleMessage(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_QUERYENDSESSION:
      return 1;
    case WM_ENDSESSION:
      active_.store(false);
      return 0;
    case WM_COPYDATA:
      OnCopyData(wnd, wparam, reinterpret_cast<const COPYDATASTRUCT*>(lparam));
      return 1;
    case WM_TIMER:
      if (wparam != kNoWaitTimerId) break;
      if (!IsServerWindowValid(framework::siMain)) {
        KillTimer(wnd, kNoWaitTimerId);
        server_wnd_[framework::siMain].store(nullptr);
        WithdrawAndUnload(wnd);
      }
      return 0;
    case kSendPendingMessage:
      SendPending(static_cast<std::uint32_t>(wparam), static_cast<std::uintptr_t>(lparam));
      return 0;
    default:
      if (msg != 0 && msg == HandshakeMessage()) {
        OnHandshake(wparam, lparam);
        return 0;
      }
      break;
  }
  return DefWindowProcA(wnd, msg, wparam, lparam);
}

void MessengerClient::OnCopyData(HWND, WPARAM, const COPYDATASTRUCT* data) {
  // A copy first, and the sender let go at once: the body is read after
  // the server (or whoever sent it) has moved on.
  std::string body;
  std::uintptr_t dw_data = 0;
  if (data != nullptr) {
    dw_data = data->dwData;
    if (data->lpData != nullptr && data->cbData != 0)
      body.assign(static_cast<const char*>(data->lpData), data->cbData);
  }
  ReplyMessage(1);

  const messenger::ServerBody parsed = ParseServerBody(dw_data, body);
  if (dw_data == messenger::kResultBody) {
    if (!parsed.message_id) return;
    // Only a message the server has been given can have a result.
    const MessageDataPtr message = FindPendingMessage(*parsed.message_id);
    if (!message || !message->sent) return;
    if (ComPtr<IMessageSender> sender = message->sender) {
      if (parsed.result)
        sender->OnMessageProcessed(message->command_code, message->data_id, *parsed.result);
      else
        sender->OnSendMessageFailed(message->command_code, message->data_id);
    }
    DeletePendingMessage(*parsed.message_id);
    return;
  }
  OnMessageProcessed(static_cast<int>(dw_data), -1, body);
  if (parsed.message_id) {
    const MessageDataPtr message = FindPendingMessage(*parsed.message_id);
    if (message && message->sent) {
      DeletePendingMessage(*parsed.message_id);
      // Its sender waited for a result that will not come now.
      if (message->sender)
        message->sender->OnSendMessageFailed(message->command_code, message->data_id);
    }
  }
}

void MessengerClient::OnHandshake(WPARAM wparam, LPARAM lparam) {
  const unsigned code = LOWORD(wparam);
  const int instance = HIWORD(wparam);
  switch (code) {
    case kHandshakeServerIs: {
      if (!ValidInstance(instance)) return;
      const auto si = static_cast<ServerInstance>(instance);
      const HWND server = reinterpret_cast<HWND>(lparam);
      if (server == server_wnd_[si].load()) {
        if (IsServerWindowValid(si) && !IsClientRegistered(si)) OnRegistered(si);
        return;
      }
      if (IsClientRegistered(si)) OnUnregistered(si);
      server_wnd_[si].store(server);
      if (server != nullptr && IsWindow(server)) OnRegistered(si);
      return;
    }
    case kHandshakeUnregister:
      if (ValidInstance(instance) && IsClientRegistered(static_cast<ServerInstance>(instance)))
        OnUnregistered(static_cast<ServerInstance>(instance));
      return;
    case kHandshakeUnload:
      NotifyUnloading();
      PostQuitMessage(0);
      return;
    default:
      return;
  }
}

void MessengerClient::SendPending(std::uint32_t id, std::uintptr_t message_code) {
  const MessageDataPtr message = FindPendingMessage(id);
  if (!message || message->sent) return;
  const HWND server = server_wnd_[message->server_instance].load();
  bool delivered = false;
  if (IsServerWindowValid(message->server_instance)) {
    const std::string body = messenger::PackClientBody(id, message->command_buffer);
    message->command_buffer.clear();
    message->command_buffer.shrink_to_fit();
    COPYDATASTRUCT data{};
    data.dwData = message_code;
    data.cbData = static_cast<DWORD>(body.size());
    data.lpData = const_cast<char*>(body.data());
    const WPARAM wparam = message->sender ? reinterpret_cast<WPARAM>(wnd_.load()) : 0;
    delivered = SendToServer(server, wparam, data);
  }
  if (delivered) {
    message->sent = true;
  } else if (ComPtr<IMessageSender> sender = std::move(message->sender)) {
    sender->OnSendMessageFailed(message->command_code, message->data_id);
  }
  // A message whose sender waits for the result stays until it comes.
  if (!message->sender) DeletePendingMessage(id);
}

bool MessengerClient::SendToServer(HWND server, WPARAM wparam, const COPYDATASTRUCT& data) {
  for (int failures = 0;;) {
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(server, WM_COPYDATA, wparam, reinterpret_cast<LPARAM>(&data),
                            kSendFlags, timings_.send_timeout_ms, &answer) != 0) {
      return true;
    }
    if (++failures >= timings_.send_tries) return false;
    // A busy server gets more tries; a hung one would hold this thread for
    // every try left, so its message fails now.
    if (IsHungAppWindow(server)) return false;
    Sleep(timings_.retry_pause_ms);
    if (!IsWindow(server)) return false;
  }
}

// ---- Sending --------------------------------------------------------------------

void MessengerClient::SendMessage(std::wstring_view receiver, int command_code,
                                  std::string_view command_data, std::int64_t data_id,
                                  IMessageSender* sender, ServerInstance server_instance) noexcept {
  if (!active_.load() || !ValidInstance(server_instance)) return;
  try {
    auto message = std::make_shared<MessageData>();
    message->command_code = command_code;
    message->data_id = data_id;
    message->sender = sender;
    message->command_buffer = messenger::PackCommandBuffer(ToAnsi(receiver), command_code,
                                                           command_data, GetCurrentProcessId());
    message->message_code = messenger::kClientMessageCode;
    message->server_instance = server_instance;
    HWND wnd = nullptr;
    std::uint32_t id = 0;
    {
      std::lock_guard lock(pending_lock_);
      id = next_message_id_++;
      message->message_id = id;
      pending_[id] = message;
      wnd = wnd_.load();
      message->queued = wnd != nullptr;
    }
    if (wnd != nullptr)
      PostMessageW(wnd, kSendPendingMessage, id, static_cast<LPARAM>(message->message_code));
  } catch (...) {
  }
}

void MessengerClient::SendMessage(std::wstring_view receiver, int command_code,
                                  std::wstring_view command_text, std::int64_t data_id,
                                  IMessageSender* sender, ServerInstance server_instance) noexcept {
  if (!active_.load()) return;
  try {
    const std::string ansi = ToAnsi(command_text);
    SendMessage(receiver, command_code, std::string_view(ansi), data_id, sender, server_instance);
  } catch (...) {
  }
}

void MessengerClient::PostPendingMessages() noexcept {
  const HWND wnd = wnd_.load();
  if (wnd == nullptr) return;
  std::lock_guard lock(pending_lock_);
  for (auto& [id, message] : pending_) {
    if (message->queued) continue;
    message->queued = true;
    PostMessageW(wnd, kSendPendingMessage, id, static_cast<LPARAM>(message->message_code));
  }
}

MessageDataPtr MessengerClient::FindPendingMessage(std::uint32_t id) noexcept {
  std::lock_guard lock(pending_lock_);
  const auto it = pending_.find(id);
  return it == pending_.end() ? nullptr : it->second;
}

MessageDataPtr MessengerClient::DeletePendingMessage(std::uint32_t id) noexcept {
  std::lock_guard lock(pending_lock_);
  const auto it = pending_.find(id);
  if (it == pending_.end()) return nullptr;
  MessageDataPtr message = std::move(it->second);
  pending_.erase(it);
  return message;
}

void MessengerClient::FailPendingMessages() noexcept {
  std::map<std::uint32_t, MessageDataPtr> failed;
  {
    std::lock_guard lock(pending_lock_);
    failed.swap(pending_);
  }
  for (auto& [id, message] : failed) {
    if (message->sender)
      message->sender->OnSendMessageFailed(message->command_code, message->data_id);
  }
}

std::uint32_t MessengerClient::NextMessageId() noexcept {
  std::lock_guard lock(pending_lock_);
  return next_message_id_;
}

std::size_t MessengerClient::PendingCount() noexcept {
  std::lock_guard lock(pending_lock_);
  return pending_.size();
}

// ---- Servers and registration -------------------------------------------------------

void MessengerClient::FindServerWnd(ServerInstance server_instance) noexcept {
  if (!ValidInstance(server_instance)) return;
  const bool main = server_instance == framework::siMain;
  const HWND server = FindWindowExA(
      HWND_MESSAGE, nullptr, main ? kMessengerServerClassA : kMessengerShellServerClassA, nullptr);
  server_wnd_[server_instance].store(server);
  if (!main) return;
  DWORD process_id = 0;
  const DWORD thread_id = server ? GetWindowThreadProcessId(server, &process_id) : 0;
  server_thread_id_.store(thread_id);
  server_process_id_.store(thread_id != 0 ? process_id : 0);
}

void MessengerClient::RegisterWithServer(ServerInstance server_instance) noexcept {
  if (!ValidInstance(server_instance)) return;
  const HWND server = server_wnd_[server_instance].load();
  const UINT handshake = HandshakeMessage();
  if (server == nullptr || handshake == 0) return;
  DWORD_PTR answer = 0;
  if (SendMessageTimeoutW(server, handshake, kHandshakeRegister,
                          reinterpret_cast<LPARAM>(wnd_.load()), kSendFlags,
                          timings_.send_timeout_ms, &answer) != 0 &&
      answer == 1) {
    OnRegistered(server_instance);
  }
}

HANDLE MessengerClient::RequestServerProcessHandle() noexcept {
  const HWND server = server_wnd_[framework::siMain].load();
  const UINT handshake = HandshakeMessage();
  if (server == nullptr || handshake == 0) return nullptr;
  DWORD_PTR answer = 0;
  if (SendMessageTimeoutW(server, handshake, kHandshakeServerProcess,
                          static_cast<LPARAM>(GetCurrentProcessId()), kSendFlags,
                          timings_.send_timeout_ms, &answer) == 0) {
    return nullptr;
  }
  return reinterpret_cast<HANDLE>(answer);
}

void MessengerClient::OnRegistered(ServerInstance server_instance) noexcept {
  if (!ValidInstance(server_instance)) return;
  registered_[server_instance].store(true);
  if (server_instance == framework::siMain) active_.store(true);
  if (auto dispatcher = Dispatcher()) dispatcher->OnClientRegistered(wnd_.load(), server_instance);
}

void MessengerClient::OnUnregistered(ServerInstance server_instance) noexcept {
  if (!ValidInstance(server_instance)) return;
  registered_[server_instance].store(false);
  if (server_instance == framework::siMain) active_.store(false);
  if (auto dispatcher = Dispatcher()) dispatcher->OnClientUnregistered(server_instance);
}

bool MessengerClient::IsClientRegistered(ServerInstance server_instance) noexcept {
  return ValidInstance(server_instance) && registered_[server_instance].load();
}

void MessengerClient::NotifyUnloading() noexcept {
  if (auto dispatcher = Dispatcher()) dispatcher->OnUnloading();
}

bool MessengerClient::IsServerWindowValid(ServerInstance server_instance) noexcept {
  if (!ValidInstance(server_instance)) return false;
  const HWND server = server_wnd_[server_instance].load();
  return server != nullptr && IsWindow(server);
}

HWND MessengerClient::GetServerWnd(ServerInstance server_instance) noexcept {
  return ValidInstance(server_instance) ? server_wnd_[server_instance].load() : nullptr;
}

void MessengerClient::SetServerWnd(ServerInstance server_instance, HWND wnd) noexcept {
  if (ValidInstance(server_instance)) server_wnd_[server_instance].store(wnd);
}

DWORD MessengerClient::GetServerProcessId() noexcept { return server_process_id_.load(); }
DWORD MessengerClient::GetServerThreadId() noexcept { return server_thread_id_.load(); }
DWORD MessengerClient::GetClientThreadId() noexcept { return client_thread_id_.load(); }
bool MessengerClient::IsActive() noexcept { return active_.load(); }
void MessengerClient::SetActive(bool active) noexcept { active_.store(active); }
HWND MessengerClient::GetWnd() noexcept { return wnd_.load(); }

void MessengerClient::SetWnd(HWND wnd) noexcept {
  wnd_.store(wnd);
  if (wnd != nullptr) AllowCopyDataInto(wnd);
}

// ---- State, restart, end -------------------------------------------------------------

int MessengerClient::GetState() noexcept { return state_.load(); }
void MessengerClient::SetState(int state) noexcept { state_.store(state); }

void MessengerClient::CloseThreadHandle() noexcept {
  std::lock_guard lock(thread_handle_lock_);
  thread_handle_.reset();
}

void MessengerClient::ResumeClientThread() noexcept {
  std::lock_guard lock(thread_handle_lock_);
  const int state = state_.load();
  if ((state != msSuspended && state != msRestarting) || !thread_handle_) return;
  state_.store(msResumed);
  for (;;) {
    const DWORD previous = ResumeThread(thread_handle_.get());
    if (previous == static_cast<DWORD>(-1) || previous <= 1) break;
  }
}

bool MessengerClient::NeedRestart() noexcept {
  if (state_.load() != msNoThread) return false;
  const HWND server = FindWindowExA(HWND_MESSAGE, nullptr, kMessengerServerClassA, nullptr);
  if (server == nullptr) return false;
  DWORD process_id = 0;
  GetWindowThreadProcessId(server, &process_id);
  return process_id != 0 && process_id != server_process_id_.load();
}

void MessengerClient::Restart() noexcept {
  DWORD old_thread = 0;
  {
    std::lock_guard lock(thread_handle_lock_);
    if (state_.load() != msNoThread || thread_handle_) return;
    state_.store(msRestarting);
    old_thread = client_thread_id_.load();
  }
  const UINT handshake = HandshakeMessage();
  if (old_thread != 0 && handshake != 0)
    PostThreadMessageW(old_thread, handshake, kHandshakeStopFinalWait, 0);
  if (StartClientThread()) ResumeClientThread();
}

void MessengerClient::SetWindowProcess(HWND wnd) noexcept {
  if (wnd == nullptr) return;
  const ATOM atom = Names().console_process;
  const HANDLE value = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(GetCurrentProcessId()));
  if (atom != 0)
    SetPropW(wnd, MAKEINTATOM(atom), value);
  else
    SetPropW(wnd, names::kConsoleProcessAtom, value);
}

void MessengerClient::Done() noexcept {
  active_.store(false);
  OnUnregistered(framework::siShell);
  OnUnregistered(framework::siMain);
  NotifyUnloading();
  if (const HWND wnd = wnd_.load()) PostMessageW(wnd, WM_QUIT, 0, 0);
  FailPendingMessages();
}

// ---- Dispatcher and the client's own results ------------------------------------------

void MessengerClient::RegisterServerMessageDispatcher(
    IServerMessageDispatcher* dispatcher) noexcept {
  std::lock_guard lock(dispatcher_lock_);
  dispatcher_ = dispatcher;
}

void MessengerClient::UnregisterServerMessageDispatcher() noexcept {
  ComPtr<IServerMessageDispatcher> old;
  {
    std::lock_guard lock(dispatcher_lock_);
    old.Swap(dispatcher_);
  }
}

ComPtr<IServerMessageDispatcher> MessengerClient::Dispatcher() noexcept {
  std::lock_guard lock(dispatcher_lock_);
  return dispatcher_;
}

void MessengerClient::OnMessageProcessed(int command_code, std::int64_t,
                                         std::string_view result) noexcept {
  if (static_cast<std::uintptr_t>(command_code) != messenger::kCommandBody) return;
  try {
    const messenger::ServerBody parsed = ParseServerBody(messenger::kCommandBody, result);
    if (!parsed.command) return;
    const ComPtr<IServerMessageDispatcher> dispatcher = Dispatcher();
    if (!dispatcher) return;
    const messenger::ServerCommand& command = *parsed.command;
    dispatcher->OnMessageFromServer(WindowFromValue(command.receiver_wnd),
                                    FromAnsi(command.receiver), command.command_code,
                                    command.command_data);
  } catch (...) {
  }
}

void MessengerClient::OnSendMessageFailed(int, std::int64_t data_id) noexcept {
  if (!active_.load()) return;
  if (data_id < 0 || data_id >= framework::kServerInstanceCount) return;
  const auto instance = static_cast<ServerInstance>(data_id);
  if (IsClientRegistered(instance)) OnUnregistered(instance);
  const UINT handshake = HandshakeMessage();
  const HWND wnd = wnd_.load();
  if (instance == framework::siMain && wnd != nullptr && handshake != 0)
    PostMessageW(wnd, handshake, kHandshakeUnload, 0);
}

// ---- The library's client ------------------------------------------------------------

ComPtr<MessengerLink> CreateLibraryMessenger() noexcept {
  AllowCopyDataOnVista();
  ComPtr<MessengerClient> client = framework::MakeCom<MessengerClient>();
  if (!client) return nullptr;
  client->Start(true);
  return ComPtr<MessengerLink>(static_cast<MessengerLink*>(client.Get()));
}

ComPtr<IMessengerClient> CurrentMessengerClient() noexcept {
  ComPtr<IMessengerClient> client;
  if (ComPtr<MessengerHooks> hooks = GetMessenger()) hooks.As(&client);
  return client;
}

namespace {
// Registered while the library's modules are initialised, before the first
// hook call starts the library and its application makes the messenger.
const bool g_messenger_factory_set = (SetMessengerLinkFactory(&CreateLibraryMessenger), true);
}  // namespace

}  // namespace vm::hooklib
