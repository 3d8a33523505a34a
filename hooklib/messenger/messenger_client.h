#pragma once
// The messenger client of one hooked process: a thread of its own (created
// suspended, resumed by the message hook or after 10 s) with a message-only
// window "vfo_MessengerClientWindow" that registers with the control
// program's messenger servers through the Handshake message, carries
// WM_COPYDATA both ways, keeps the queue of outgoing messages and waits on
// the control program's process. When that process ends the client
// withdraws (Handshake 1) and unloads (Handshake 2) by itself; the hooks
// restart it once a new control program serves.
#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>

#include "common/unique_handle.h"
#include "hooklib/app/embedded_application.h"
#include "hooklib/core/hook_seams.h"
#include "hooklib/messenger/messenger_interfaces.h"

namespace vm::hooklib {

// Thread states.
enum MessengerState : int {
  msNoThread = -1,  // ended, or creation failed
  msCreated = 0,
  msSuspended = 1,
  msResumed = 2,
  msStarting = 3,
  msWaiting = 4,  // window made, registered, waiting on the control program
  msWaitEnded = 5,
  msRestarting = 6,
};

inline constexpr char kMessengerClientClassA[] = "vfo_MessengerClientWindow";
inline constexpr char kMessengerServerClassA[] = "vfo_MessengerServerWindow";
inline constexpr char kMessengerShellServerClassA[] = "vfo_MessengerShellServerWindow";
// Posted to the client window: wParam = message id, lParam = message code.
inline constexpr UINT kSendPendingMessage = WM_APP + 1;

// How long and how often the client tries the control program.
struct MessengerTimings {
  DWORD send_timeout_ms = 1000;  // every SendMessageTimeoutW
  int send_tries = 1000;         // per message, while the server window exists
  DWORD retry_pause_ms = 50;
  DWORD resume_after_ms = 10000;  // the latest the suspended thread is resumed
  DWORD no_wait_poll_ms = 5000;   // without a handle on the control program
};

class MessengerClient : public IMessengerClient,
                        public IMessengerClientInternal,
                        public IMessageSender,
                        public MessengerLink,
                        public MessengerHooks {
 public:
  VM_DECLARE_UNKNOWN

  explicit MessengerClient(MessengerTimings timings = {});
  ~MessengerClient();

  // Construction steps that need the finished object: publish the client as
  // the library's messenger (when `publish`), find the main server, start
  // the thread suspended.
  void Start(bool publish) noexcept;

  // IMessengerClient
  void STDMETHODCALLTYPE SendMessage(std::wstring_view receiver, int command_code,
                                     std::string_view command_data, std::int64_t data_id,
                                     IMessageSender* sender,
                                     ServerInstance server_instance) noexcept override;
  void STDMETHODCALLTYPE SendMessage(std::wstring_view receiver, int command_code,
                                     std::wstring_view command_text, std::int64_t data_id,
                                     IMessageSender* sender,
                                     ServerInstance server_instance) noexcept override;
  void STDMETHODCALLTYPE
  RegisterServerMessageDispatcher(IServerMessageDispatcher* dispatcher) noexcept override;
  void STDMETHODCALLTYPE UnregisterServerMessageDispatcher() noexcept override;
  int STDMETHODCALLTYPE GetState() noexcept override;
  void STDMETHODCALLTYPE SetState(int state) noexcept override;
  bool STDMETHODCALLTYPE NeedRestart() noexcept override;
  void STDMETHODCALLTYPE Restart() noexcept override;
  DWORD STDMETHODCALLTYPE GetServerThreadId() noexcept override;
  DWORD STDMETHODCALLTYPE GetClientThreadId() noexcept override;
  void STDMETHODCALLTYPE SetWindowProcess(HWND wnd) noexcept override;
  void STDMETHODCALLTYPE FailPendingMessages() noexcept override;
  void STDMETHODCALLTYPE Done() noexcept override;
  bool STDMETHODCALLTYPE IsServerWindowValid(ServerInstance server_instance) noexcept override;
  HWND STDMETHODCALLTYPE GetServerWnd(ServerInstance server_instance) noexcept override;
  DWORD STDMETHODCALLTYPE GetServerProcessId() noexcept override;
  bool STDMETHODCALLTYPE IsActive() noexcept override;

  // IMessengerClientInternal
  HWND STDMETHODCALLTYPE GetWnd() noexcept override;
  void STDMETHODCALLTYPE SetWnd(HWND wnd) noexcept override;
  void STDMETHODCALLTYPE SetServerWnd(ServerInstance server_instance, HWND wnd) noexcept override;
  void STDMETHODCALLTYPE FindServerWnd(ServerInstance server_instance) noexcept override;
  void STDMETHODCALLTYPE SetActive(bool active) noexcept override;
  void STDMETHODCALLTYPE RegisterWithServer(ServerInstance server_instance) noexcept override;
  void STDMETHODCALLTYPE OnRegistered(ServerInstance server_instance) noexcept override;
  void STDMETHODCALLTYPE OnUnregistered(ServerInstance server_instance) noexcept override;
  bool STDMETHODCALLTYPE IsClientRegistered(ServerInstance server_instance) noexcept override;
  void STDMETHODCALLTYPE NotifyUnloading() noexcept override;
  void STDMETHODCALLTYPE PostPendingMessages() noexcept override;
  void STDMETHODCALLTYPE CloseThreadHandle() noexcept override;
  void STDMETHODCALLTYPE ResumeClientThread() noexcept override;
  HANDLE STDMETHODCALLTYPE RequestServerProcessHandle() noexcept override;
  MessageDataPtr STDMETHODCALLTYPE FindPendingMessage(std::uint32_t id) noexcept override;
  MessageDataPtr STDMETHODCALLTYPE DeletePendingMessage(std::uint32_t id) noexcept override;

  // IMessageSender: the client itself, for the server's own messages.
  void STDMETHODCALLTYPE OnMessageProcessed(int command_code, std::int64_t data_id,
                                            std::string_view result) noexcept override;
  void STDMETHODCALLTYPE OnSendMessageFailed(int command_code,
                                             std::int64_t data_id) noexcept override;

  // The id the next message gets.
  std::uint32_t NextMessageId() noexcept;
  // How many messages wait (sent or not).
  std::size_t PendingCount() noexcept;

  void* FindInterface(REFIID riid) noexcept;
  IUnknown* Identity() noexcept { return static_cast<IMessengerClient*>(this); }

 private:
  struct ThreadStart;
  static DWORD WINAPI ThreadEntry(void* parameter);
  static void CALLBACK ResumeTimerProc(void* parameter, BOOLEAN fired);
  static LRESULT CALLBACK WindowProc(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam) noexcept;

  bool StartClientThread() noexcept;
  void RunThread() noexcept;
  void WaitForServerProcess(HANDLE server_process) noexcept;
  LRESULT HandleMessage(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam);
  void OnCopyData(HWND wnd, WPARAM wparam, const COPYDATASTRUCT* data);
  void OnHandshake(WPARAM wparam, LPARAM lparam);
  void SendPending(std::uint32_t id, std::uintptr_t message_code);
  bool SendToServer(HWND server, WPARAM wparam, const COPYDATASTRUCT& data);
  void WithdrawAndUnload(HWND wnd);
  ComPtr<IServerMessageDispatcher> Dispatcher() noexcept;
  static bool ValidInstance(int instance) noexcept {
    return instance == framework::siMain || instance == framework::siShell;
  }

  const MessengerTimings timings_;
  std::atomic<bool> active_{false};                  // FActive
  std::atomic<HWND> wnd_{nullptr};                   // FWnd
  std::map<std::uint32_t, MessageDataPtr> pending_;  // FPendingMessages
  std::mutex pending_lock_;                          // FPendingMessagesLock
  std::uint32_t next_message_id_ = 0;                // FNextMessageID
  std::array<std::atomic<bool>, framework::kServerInstanceCount>
      registered_{};  // FClientRegistered
  std::array<std::atomic<HWND>, framework::kServerInstanceCount> server_wnd_{};  // FServerWnd
  std::recursive_mutex thread_handle_lock_;  // FThreadHandleLock
  UniqueHandle thread_handle_;               // FThreadHandle
  HANDLE resume_timer_ = nullptr;            // resumes the thread after resume_after_ms
  std::mutex dispatcher_lock_;
  ComPtr<IServerMessageDispatcher> dispatcher_;  // FServerMessageDispatcher
  std::atomic<int> state_{msCreated};            // FState
  std::atomic<DWORD> server_process_id_{0};      // FServerProcessId
  std::atomic<DWORD> server_thread_id_{0};       // FServerThreadId
  std::atomic<DWORD> client_thread_id_{0};       // FClientThreadId
  bool published_ = false;
};

// The library's messenger client: made by the application's start-up (the
// factory registers itself with the embedded application), published as the
// library's messenger, its thread created suspended.
ComPtr<MessengerLink> CreateLibraryMessenger() noexcept;

// The Handshake message number of this process.
UINT HandshakeMessage() noexcept;

}  // namespace vm::hooklib
