#include "controlcenter/messenger_server.h"

#include <algorithm>
#include <cstdio>

#include "common/event_log.h"
#include "controlcenter/log_queue.h"
#include "common/names.h"
#include "common/value_list.h"

namespace vm::controlcenter {
namespace {

using control::HandshakeCode;
using control::ServerInstance;

constexpr wchar_t kSource[] = L"ControlCenter";
constexpr wchar_t kClass[] = L"TMessengerServer";
// Larger bodies than this are not a message of the hook library.
constexpr DWORD kMaxBodyBytes = 1 << 20;

const wchar_t* ClassOf(ServerInstance which) {
  return which == ServerInstance::Main ? names::kMessengerServerClass
                                       : names::kMessengerShellServerClass;
}

std::wstring Hex(std::uintptr_t value) {
  wchar_t text[24];
  swprintf(text, 24, L"%08llX", static_cast<unsigned long long>(value));
  return text;
}

std::wstring FromAnsi(std::string_view text) {
  if (text.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string ResultCode(std::uint32_t value) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

}  // namespace

MessengerServer::~MessengerServer() { Destroy(); }

bool MessengerServer::Create(HINSTANCE instance) {
  handshake_ = RegisterWindowMessageW(names::kHandshakeMessage);
  if (handshake_ == 0) return false;
  next_message_id_ = GetTickCount();
  for (ServerInstance which : {ServerInstance::Main, ServerInstance::Shell}) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &MessengerServer::WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = ClassOf(which);
    RegisterClassExW(&wc);  // fails harmlessly when already registered
    HWND w = CreateWindowExW(0, ClassOf(which), L"", WS_POPUP, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             instance, nullptr);
    if (w == nullptr) return false;
    SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    // Clients of another integrity level must still reach us.
    ChangeWindowMessageFilterEx(w, WM_COPYDATA, MSGFLT_ALLOW, nullptr);
    ChangeWindowMessageFilterEx(w, handshake_, MSGFLT_ALLOW, nullptr);
    windows_[static_cast<std::size_t>(which)] = w;
  }
  return true;
}

void MessengerServer::Destroy() {
  for (HWND& w : windows_) {
    if (w != nullptr) {
      SetWindowLongPtrW(w, GWLP_USERDATA, 0);
      DestroyWindow(w);
      w = nullptr;
    }
  }
  outbox_.clear();
}

LRESULT CALLBACK MessengerServer::WindowProc(HWND window, UINT message, WPARAM wparam,
                                             LPARAM lparam) {
  try {
    auto* self = reinterpret_cast<MessengerServer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr) {
      const ServerInstance which =
          window == self->windows_[1] ? ServerInstance::Shell : ServerInstance::Main;
      return self->Handle(which, window, message, wparam, lparam);
    }
  } catch (...) {
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT MessengerServer::Handle(ServerInstance which, HWND window, UINT message, WPARAM wparam,
                                LPARAM lparam) {
  if (message == handshake_) return OnHandshake(which, wparam, lparam);
  if (message == WM_COPYDATA) {
    return OnCopyData(which, reinterpret_cast<HWND>(wparam),
                      reinterpret_cast<const COPYDATASTRUCT*>(lparam));
  }
  if (message == flush_message_ && which == ServerInstance::Main) {
    flush_posted_ = false;
    FlushOutbox();
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT MessengerServer::OnHandshake(ServerInstance which, WPARAM wparam, LPARAM lparam) {
  switch (control::HandshakeCodeOf(wparam)) {
    case HandshakeCode::Register:
      return OnRegister(which, reinterpret_cast<HWND>(lparam));
    case HandshakeCode::ServerProcessHandle:
      if (which != ServerInstance::Main) return 0;
      return OnProcessHandleRequest(static_cast<DWORD>(lparam));
    default:
      return 0;  // codes a server sends, not one it answers
  }
}

LRESULT MessengerServer::OnRegister(ServerInstance which, HWND client) {
  DWORD process_id = 0;
  if (client == nullptr || !IsWindow(client) ||
      GetWindowThreadProcessId(client, &process_id) == 0) {
    LogTraffic(L"Register", L"not a window: " + Hex(reinterpret_cast<std::uintptr_t>(client)),
               false);
    return 0;
  }
  Client* c = Find(client);
  const bool is_new = c == nullptr;
  if (is_new) {
    clients_.push_back({client, process_id, false, false});
    c = &clients_.back();
  }
  c->process_id = process_id;
  if (which == ServerInstance::Main) {
    c->main = true;
    // The client registers with the main server only; the shell server
    // introduces itself.
    if (!c->shell &&
        PostMessageW(client, handshake_,
                     control::HandshakeWParam(HandshakeCode::ServerIs, ServerInstance::Shell),
                     reinterpret_cast<LPARAM>(windows_[1]))) {
      c->shell = true;
    }
  } else {
    c->shell = true;
  }
  if (is_new) {
    Log(L"RegisterClient", L"process " + std::to_wstring(process_id) + L", window " +
                               Hex(reinterpret_cast<std::uintptr_t>(client)));
  }
  return control::kHandshakeRegistered;
}

bool MessengerServer::IsClientProcess(DWORD process_id) const {
  for (const Client& c : clients_) {
    if (c.process_id == process_id && IsWindow(c.window)) return true;
  }
  // A client asks for the handle right after registering, even when the
  // registration failed: accept any process with a messenger client window.
  HWND w = nullptr;
  while ((w = FindWindowExW(HWND_MESSAGE, w, names::kMessengerClientClass, nullptr)) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == process_id) return true;
  }
  return false;
}

LRESULT MessengerServer::OnProcessHandleRequest(DWORD client_process_id) {
  // Only into a process that is a client: a handle planted in any process
  // that asks would leak there.
  if (client_process_id == 0 || client_process_id == GetCurrentProcessId() ||
      !IsClientProcess(client_process_id)) {
    LogTraffic(L"ProcessHandle", L"refused for process " + std::to_wstring(client_process_id),
               false);
    return 0;
  }
  HANDLE target = OpenProcess(PROCESS_DUP_HANDLE, FALSE, client_process_id);
  if (target == nullptr) {
    LogTraffic(L"ProcessHandle", L"OpenProcess " + std::to_wstring(client_process_id), false,
               GetLastError());
    return 0;
  }
  HANDLE in_client = nullptr;
  const BOOL ok = DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), target, &in_client,
                                  SYNCHRONIZE, FALSE, 0);
  const DWORD error = GetLastError();
  CloseHandle(target);
  if (!ok) {
    LogTraffic(L"ProcessHandle", L"DuplicateHandle " + std::to_wstring(client_process_id), false,
               error);
    return 0;
  }
  LogTraffic(L"ProcessHandle", L"process " + std::to_wstring(client_process_id));
  return reinterpret_cast<LRESULT>(in_client);
}

LRESULT MessengerServer::OnCopyData(ServerInstance which, HWND sender, const COPYDATASTRUCT* data) {
  if (data == nullptr) return 0;
  if (data->cbData > kMaxBodyBytes || (data->cbData != 0 && data->lpData == nullptr)) {
    LogTraffic(L"Receive", L"body refused: " + std::to_wstring(data->cbData) + L" bytes", false);
    return 0;
  }
  if (data->dwData != control::kCopyDataClientMessage) {
    LogTraffic(L"Receive", L"unknown kind " + std::to_wstring(data->dwData), false);
    return 0;
  }
  // Our own copy: the body is only ours until the sender resumes.
  const std::string body(static_cast<const char*>(data->lpData), data->cbData);
  const ClientMessageParse parse = ParseClientMessage(body);
  if (!parse.message) {
    LogTraffic(L"Receive", L"malformed body of " + std::to_wstring(body.size()) + L" bytes", false);
    // A client that waits for the result of a message we cannot read still
    // gets an answer, so it does not keep the message pending forever.
    if (parse.id && sender != nullptr && Find(sender) != nullptr) {
      Queue(sender, control::kCopyDataResult, ResultBody(*parse.id, ResultCode(0)));
    }
    return 0;
  }
  // The client need not wait for the log file: the message is read.
  ReplyMessage(1);
  const ClientMessage& m = *parse.message;
  const std::string result = Act(m);
  if (sender != nullptr) {
    // Only to the window of the process the body names: anything else would
    // let one process make us send to another's windows.
    DWORD owner = 0;
    if (IsWindow(sender) && GetWindowThreadProcessId(sender, &owner) != 0 &&
        owner == m.process_id) {
      Queue(sender, control::kCopyDataResult, ResultBody(m.id, result));
    }
  }
  (void)which;
  return 1;
}

std::string MessengerServer::Act(const ClientMessage& m) {
  if (m.receiver == control::kEventLoggerReceiver &&
      m.command == static_cast<std::int32_t>(control::ClientCommand::EventLogLine)) {
    // "pid;tid;text" as the library formats it, written as one line.
    if (eventlog::IsEventLogEnabled()) {
      QueueEventLine(FromAnsi(SanitizeEventLine(m.data)));
    }
    return ResultCode(1);
  }
  if (m.receiver.empty() &&
      (m.command == static_cast<std::int32_t>(control::ClientCommand::WindowGotRule) ||
       m.command == static_cast<std::int32_t>(control::ClientCommand::RuleByCaption))) {
    const auto report = ParseWindowRuleReport(m.data);
    if (!report) {
      LogTraffic(L"WindowRule", L"malformed data from process " + std::to_wstring(m.process_id),
                 false);
      return ResultCode(0);
    }
    const wchar_t* operation =
        m.command == static_cast<std::int32_t>(control::ClientCommand::WindowGotRule)
            ? L"WindowGotRule"
            : L"RuleByCaption";
    Log(operation, L"process " + std::to_wstring(m.process_id) + L", window " +
                       Hex(report->window) + L", rule \"" +
                       FromAnsi(SanitizeEventLine(report->rule)) + L"\" type " +
                       std::to_wstring(report->rule_type) + L", class \"" +
                       FromAnsi(SanitizeEventLine(report->window_class)) + L"\", file \"" +
                       FromAnsi(SanitizeEventLine(report->file)) + L"\"");
    return ResultCode(1);
  }
  LogTraffic(L"Receive",
             L"no receiver \"" + FromAnsi(SanitizeEventLine(m.receiver)) + L"\" for command " +
                 std::to_wstring(m.command),
             false);
  return ResultCode(0);
}

void MessengerServer::Queue(HWND target, ULONG_PTR kind, std::string body) {
  outbox_.push_back({target, kind, std::move(body)});
  if (!flush_posted_ && PostMessageW(windows_[0], flush_message_, 0, 0)) flush_posted_ = true;
}

void MessengerServer::FlushOutbox() {
  std::vector<Outgoing> batch;
  batch.swap(outbox_);
  for (const Outgoing& o : batch) SendCopyData(o.target, o.kind, o.body);
}

bool MessengerServer::SendCopyData(HWND target, ULONG_PTR kind, const std::string& body) {
  COPYDATASTRUCT cds{};
  cds.dwData = kind;
  cds.cbData = static_cast<DWORD>(body.size());
  cds.lpData = const_cast<char*>(body.data());
  DWORD_PTR answer = 0;
  return SendMessageTimeoutW(target, WM_COPYDATA, reinterpret_cast<WPARAM>(windows_[0]),
                             reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG, kClientSendTimeoutMs,
                             &answer) != 0;
}

MessengerServer::Client* MessengerServer::Find(HWND window) {
  for (Client& c : clients_) {
    if (c.window == window) return &c;
  }
  return nullptr;
}

void MessengerServer::ForgetDeadClients() {
  std::erase_if(clients_, [](const Client& c) { return !IsWindow(c.window); });
}

void MessengerServer::AnnounceToExistingClients() {
  HWND w = nullptr;
  while ((w = FindWindowExW(HWND_MESSAGE, w, names::kMessengerClientClass, nullptr)) != nullptr) {
    if (Find(w) != nullptr) continue;
    DWORD process_id = 0;
    GetWindowThreadProcessId(w, &process_id);
    Client c{w, process_id, false, false};
    c.main = PostMessageW(w, handshake_,
                          control::HandshakeWParam(HandshakeCode::ServerIs, ServerInstance::Main),
                          reinterpret_cast<LPARAM>(windows_[0])) != 0;
    c.shell = PostMessageW(w, handshake_,
                           control::HandshakeWParam(HandshakeCode::ServerIs, ServerInstance::Shell),
                           reinterpret_cast<LPARAM>(windows_[1])) != 0;
    if (c.main || c.shell) {
      clients_.push_back(c);
      Log(L"AnnounceServer", L"process " + std::to_wstring(process_id) + L", window " +
                                 Hex(reinterpret_cast<std::uintptr_t>(w)));
    }
  }
}

std::size_t MessengerServer::SendToAllClients(const std::vector<Command>& commands) {
  ForgetDeadClients();
  // A snapshot: while we wait on one client, another may register with us
  // (our sends let incoming sent messages through), which changes the list.
  const std::vector<Client> snapshot = clients_;
  std::size_t delivered = 0;
  for (const Client& c : snapshot) {
    if (!c.main) continue;
    bool all = true;
    for (const Command& command : commands) {
      std::string data = command.data;
      if (command.client_window_as_data) {
        ValueListWriter w;
        w.AddInt64Low(reinterpret_cast<std::uintptr_t>(c.window));
        data = w.Take();
      }
      const std::string body =
          CommandBody(next_message_id_++, 0, kRuleDispatcherReceiver, command.code, data);
      if (!SendCopyData(c.window, control::kCopyDataCommand, body)) {
        const DWORD error = GetLastError();
        LogTraffic(L"SendCommand",
                   L"command " + std::to_wstring(command.code) + L" not taken by process " +
                       std::to_wstring(c.process_id),
                   false, error);
        all = false;
        break;
      }
    }
    if (all) ++delivered;
  }
  ForgetDeadClients();
  return delivered;
}

void MessengerServer::UnregisterAllClients() {
  // Posted: the program is going and must not wait on any client; each
  // client's queue keeps the order unregister, then unload.
  for (const Client& c : clients_) {
    if (c.shell) {
      PostMessageW(c.window, handshake_,
                   control::HandshakeWParam(HandshakeCode::Unregister, ServerInstance::Shell), 0);
    }
    if (c.main) {
      PostMessageW(c.window, handshake_,
                   control::HandshakeWParam(HandshakeCode::Unregister, ServerInstance::Main), 0);
    }
    PostMessageW(c.window, handshake_,
                 control::HandshakeWParam(HandshakeCode::Unload, ServerInstance::Main), 0);
  }
  if (!clients_.empty()) Log(L"UnregisterClients", std::to_wstring(clients_.size()));
  clients_.clear();
}

void MessengerServer::Log(const wchar_t* operation, const std::wstring& detail, bool succeeded,
                          DWORD error) const {
  QueueEvent(kSource, kClass, operation, detail, succeeded, error);
}

void MessengerServer::LogTraffic(const wchar_t* operation, const std::wstring& detail,
                                 bool succeeded, DWORD error) const {
  if (log_clients_) Log(operation, detail, succeeded, error);
}

}  // namespace vm::controlcenter
