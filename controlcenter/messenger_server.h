#pragma once
// The server side of the messenger protocol: two message-only windows,
// "vfo_MessengerServerWindow" (main instance) and
// "vfo_MessengerShellServerWindow" (shell instance), that hooked processes'
// messenger clients register with, send their messages to over WM_COPYDATA
// and receive plug-in commands from.
//
// Every body from a client is read with the bounds-checked value-list reader.
// Every send to a client is SendMessageTimeoutW with SMTO_ABORTIFHUNG and a
// bound, or a post: a hung hooked process (Explorer among them) costs the
// program at most one bound per message, never a freeze. Nothing is sent to
// a client from inside the client's own send to us: answers are queued and
// sent once that call has returned.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/control_program.h"
#include "controlcenter/messenger_bodies.h"

namespace vm::controlcenter {

inline constexpr UINT kClientSendTimeoutMs = 1000;
inline constexpr char kRuleDispatcherReceiver[] = "plugins/RuleDispatcher";

class MessengerServer {
 public:
  explicit MessengerServer(bool log_clients) : log_clients_(log_clients) {}
  ~MessengerServer();
  MessengerServer(const MessengerServer&) = delete;
  MessengerServer& operator=(const MessengerServer&) = delete;

  bool Create(HINSTANCE instance);
  HWND window(control::ServerInstance which) const {
    return windows_[static_cast<std::size_t>(which)];
  }

  // Tells every client window that already exists (the library was loaded
  // before this program started) which windows serve it: Handshake 0 for
  // both instances. The client counts itself registered on it.
  void AnnounceToExistingClients();

  struct Command {
    std::int32_t code = 0;
    std::string data;
    // The data is each client's own messenger window as a packed value list
    // (command 33, "registered with the main server").
    bool client_window_as_data = false;
  };
  // Sends the commands, in order, to the rule dispatcher of every client
  // registered with the main server. A client that does not take one within
  // the bound gets none of the rest this time. Returns the clients that took
  // all of them.
  std::size_t SendToAllClients(const std::vector<Command>& commands);

  // Handshake 1 for each instance the client is registered with, then
  // Handshake 2 (unload), posted to every client; forgets them all.
  void UnregisterAllClients();

  std::size_t client_count() const { return clients_.size(); }
  void Destroy();

 private:
  struct Client {
    HWND window = nullptr;
    DWORD process_id = 0;
    bool main = false;
    bool shell = false;
  };
  struct Outgoing {
    HWND target = nullptr;
    ULONG_PTR kind = 0;  // dwData
    std::string body;
  };

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(control::ServerInstance which, HWND window, UINT message, WPARAM wparam,
                 LPARAM lparam);
  LRESULT OnHandshake(control::ServerInstance which, WPARAM wparam, LPARAM lparam);
  LRESULT OnRegister(control::ServerInstance which, HWND client);
  LRESULT OnProcessHandleRequest(DWORD client_process_id);
  LRESULT OnCopyData(control::ServerInstance which, HWND sender, const COPYDATASTRUCT* data);
  std::string Act(const ClientMessage& message);
  void Queue(HWND target, ULONG_PTR kind, std::string body);
  void FlushOutbox();
  bool SendCopyData(HWND target, ULONG_PTR kind, const std::string& body);
  Client* Find(HWND window);
  void ForgetDeadClients();
  bool IsClientProcess(DWORD process_id) const;
  // A failure's error text is `error`: what the failing call reported, or
  // ERROR_INVALID_DATA for what a client sent that we refuse.
  void Log(const wchar_t* operation, const std::wstring& detail, bool succeeded = true,
           DWORD error = ERROR_INVALID_DATA) const;
  void LogTraffic(const wchar_t* operation, const std::wstring& detail, bool succeeded = true,
                  DWORD error = ERROR_INVALID_DATA) const;

  bool log_clients_;
  HWND windows_[2] = {nullptr, nullptr};
  UINT handshake_ = 0;
  UINT flush_message_ = WM_APP + 1;
  bool flush_posted_ = false;
  std::vector<Client> clients_;
  std::vector<Outgoing> outbox_;
  std::uint32_t next_message_id_ = 0;
};

}  // namespace vm::controlcenter
