#pragma once
// A stand-in for the hook library's messenger client, speaking the client
// side of the messenger protocol against the control program: a message-only
// window of class "vfo_MessengerClientWindow" on a thread of its own that
// records every Handshake and WM_COPYDATA it gets, in order. The real client
// (hooklib/messenger) is written in parallel; this double does only what the
// protocol table asks of a client, so the server can be checked against it.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/control_program.h"
#include "common/names.h"
#include "common/value_list.h"
#include "tests/support/message_pump.h"

namespace vm::test {

struct ClientEvent {
  enum class Kind { Handshake, CopyData } kind = Kind::Handshake;
  // Handshake: code and instance from wParam, lParam.
  std::uint16_t code = 0;
  std::uint16_t instance = 0;
  LPARAM lparam = 0;
  // WM_COPYDATA: dwData and the body.
  ULONG_PTR data_kind = 0;
  std::string body;

  // A dwData 2 command, read as the client reads it.
  struct Command {
    std::uint32_t id = 0;
    std::uint32_t receiver_window = 0;
    std::string receiver;
    std::int32_t code = 0;
    std::string data;
  };
  std::optional<Command> AsCommand() const {
    if (kind != Kind::CopyData || data_kind != control::kCopyDataCommand) return std::nullopt;
    ValueListReader r(body);
    Command c;
    auto id = r.ReadUInt();
    auto window = r.ReadUInt();
    auto receiver = r.ReadBytes();
    auto code = r.ReadInt();
    auto data = r.ReadBytes();
    if (r.failed() || !id || !window || !receiver || !code || !data) return std::nullopt;
    c.id = *id;
    c.receiver_window = *window;
    c.receiver.assign(*receiver);
    c.code = *code;
    c.data.assign(*data);
    return c;
  }
  // A dwData 1 result: message id and result bytes.
  std::optional<std::pair<std::uint32_t, std::string>> AsResult() const {
    if (kind != Kind::CopyData || data_kind != control::kCopyDataResult) return std::nullopt;
    ValueListReader r(body);
    auto id = r.ReadUInt();
    auto result = r.ReadBytes();
    if (!id || !result) return std::nullopt;
    return std::make_pair(*id, std::string(*result));
  }
};

class TestClient {
 public:
  static constexpr UINT kHangMessage = WM_APP + 5;

  TestClient() {
    handshake_ = RegisterWindowMessageW(names::kHandshakeMessage);
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, ready] { Run(ready); });
    WaitForSingleObject(ready, 10000);
    CloseHandle(ready);
  }
  ~TestClient() {
    if (thread_id_ != 0) PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
    if (thread_.joinable()) thread_.join();
  }
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  HWND window() const { return window_; }

  // Handshake 4 as the client sends it; the answer, or -1 when the call failed.
  LRESULT Register(HWND server) const {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(server, handshake_, 4, reinterpret_cast<LPARAM>(window_), SMTO_BLOCK,
                             1000, &answer))
      return -1;
    return static_cast<LRESULT>(answer);
  }
  // Handshake 5: the handle the server put into this process (0 = none).
  HANDLE RequestProcessHandle(HWND server, DWORD process_id = GetCurrentProcessId()) const {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(server, handshake_, 5, static_cast<LPARAM>(process_id), SMTO_BLOCK,
                             1000, &answer))
      return nullptr;
    return reinterpret_cast<HANDLE>(answer);
  }
  // One client message (dwData 1). `wait_result` puts the client window in
  // wParam, asking for a dwData 1 answer. Returns the message id, or 0 when
  // the send failed.
  std::uint32_t Send(HWND server, std::string_view receiver, std::int32_t command,
                     std::string_view data, bool wait_result) {
    const std::uint32_t id = next_id_++;
    ValueListWriter w;
    w.AddUInt(id);
    w.AddBytes(receiver);
    w.AddInt(command);
    w.AddBytes(data);
    w.AddUInt(GetCurrentProcessId());
    const std::string body = w.Take();
    COPYDATASTRUCT cds{control::kCopyDataClientMessage, static_cast<DWORD>(body.size()),
                       const_cast<char*>(body.data())};
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(server, WM_COPYDATA,
                             wait_result ? reinterpret_cast<WPARAM>(window_) : 0,
                             reinterpret_cast<LPARAM>(&cds), SMTO_BLOCK, 1000, &answer))
      return 0;
    return id;
  }
  // The client's thread stops answering for `ms` (a hung hooked process).
  void Hang(DWORD ms) const { PostMessageW(window_, kHangMessage, ms, 0); }

  std::vector<ClientEvent> Events() const {
    std::lock_guard lock(lock_);
    return events_;
  }
  std::vector<ClientEvent::Command> Commands() const {
    std::vector<ClientEvent::Command> out;
    for (const ClientEvent& e : Events()) {
      if (auto c = e.AsCommand()) out.push_back(*c);
    }
    return out;
  }
  std::vector<ClientEvent> Handshakes() const {
    std::vector<ClientEvent> out;
    for (const ClientEvent& e : Events()) {
      if (e.kind == ClientEvent::Kind::Handshake) out.push_back(e);
    }
    return out;
  }
  // Pumps this thread's messages until `done` holds for the recorded events.
  bool WaitFor(const std::function<bool(const TestClient&)>& done, DWORD timeout_ms = 5000) const {
    return PumpUntil([&] { return done(*this); }, timeout_ms);
  }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* self = reinterpret_cast<TestClient*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr) {
      if (message == self->handshake_) {
        ClientEvent e;
        e.code = static_cast<std::uint16_t>(wparam & 0xFFFF);
        e.instance = static_cast<std::uint16_t>((wparam >> 16) & 0xFFFF);
        e.lparam = lparam;
        self->Record(std::move(e));
        return 0;
      }
      if (message == WM_COPYDATA) {
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
        ClientEvent e;
        e.kind = ClientEvent::Kind::CopyData;
        e.data_kind = cds->dwData;
        if (cds->lpData != nullptr)
          e.body.assign(static_cast<const char*>(cds->lpData), cds->cbData);
        ReplyMessage(1);
        self->Record(std::move(e));
        return 1;
      }
      if (message == kHangMessage) {
        Sleep(static_cast<DWORD>(wparam));
        return 0;
      }
    }
    return DefWindowProcW(window, message, wparam, lparam);
  }

  void Run(HANDLE ready) {
    thread_id_ = GetCurrentThreadId();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &TestClient::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = names::kMessengerClientClass;
    RegisterClassExW(&wc);
    window_ = CreateWindowExW(WS_EX_TOOLWINDOW, names::kMessengerClientClass, L"test client",
                              WS_POPUP, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists now
    SetEvent(ready);
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }

  void Record(ClientEvent e) {
    std::lock_guard lock(lock_);
    events_.push_back(std::move(e));
  }

  UINT handshake_ = 0;
  HWND window_ = nullptr;
  DWORD thread_id_ = 0;
  std::thread thread_;
  mutable std::mutex lock_;
  std::vector<ClientEvent> events_;
  std::uint32_t next_id_ = GetTickCount();
};

}  // namespace vm::test
