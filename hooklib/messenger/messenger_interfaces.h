#pragma once
// The messenger client's interfaces, each identified by its GUID, with the
// operations in slot order. The client is the library's one link to the
// control program: other parts send through IMessengerClient and hear about
// results through IMessageSender; IMessengerClientInternal is what the
// client's own thread and window procedure use.
#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include <cstdint>
#include <memory>
#include <string_view>

#include "hooklib/framework/interfaces.h"

namespace vm::hooklib {

using framework::IServerMessageDispatcher;
using framework::ServerInstance;

// Wants the result of a message it sent (and hears when it could not be sent).
struct IMessageSender : IUnknown {
  using Base = IUnknown;
  virtual void STDMETHODCALLTYPE OnMessageProcessed(int command_code, std::int64_t data_id,
                                                    std::string_view result) noexcept = 0;
  virtual void STDMETHODCALLTYPE OnSendMessageFailed(int command_code,
                                                     std::int64_t data_id) noexcept = 0;
};

struct IMessengerClient : IUnknown {
  using Base = IUnknown;
  // Queues a message for the server of `server_instance`. Nothing happens
  // (and no failure is reported) while the client is not active. A sender,
  // when given, gets the result or the failure on the client thread.
  virtual void STDMETHODCALLTYPE SendMessage(std::wstring_view receiver, int command_code,
                                             std::string_view command_data, std::int64_t data_id,
                                             IMessageSender* sender,
                                             ServerInstance server_instance) noexcept = 0;
  // The same with text as the data, sent as ANSI.
  virtual void STDMETHODCALLTYPE SendMessage(std::wstring_view receiver, int command_code,
                                             std::wstring_view command_text, std::int64_t data_id,
                                             IMessageSender* sender,
                                             ServerInstance server_instance) noexcept = 0;
  virtual void STDMETHODCALLTYPE
  RegisterServerMessageDispatcher(IServerMessageDispatcher* dispatcher) noexcept = 0;
  virtual void STDMETHODCALLTYPE UnregisterServerMessageDispatcher() noexcept = 0;
  virtual int STDMETHODCALLTYPE GetState() noexcept = 0;
  virtual void STDMETHODCALLTYPE SetState(int state) noexcept = 0;
  virtual bool STDMETHODCALLTYPE NeedRestart() noexcept = 0;
  virtual void STDMETHODCALLTYPE Restart() noexcept = 0;
  virtual DWORD STDMETHODCALLTYPE GetServerThreadId() noexcept = 0;
  virtual DWORD STDMETHODCALLTYPE GetClientThreadId() noexcept = 0;
  virtual void STDMETHODCALLTYPE SetWindowProcess(HWND wnd) noexcept = 0;
  virtual void STDMETHODCALLTYPE FailPendingMessages() noexcept = 0;
  virtual void STDMETHODCALLTYPE Done() noexcept = 0;
  virtual bool STDMETHODCALLTYPE IsServerWindowValid(ServerInstance server_instance) noexcept = 0;
  virtual HWND STDMETHODCALLTYPE GetServerWnd(ServerInstance server_instance) noexcept = 0;
  virtual DWORD STDMETHODCALLTYPE GetServerProcessId() noexcept = 0;
  virtual bool STDMETHODCALLTYPE IsActive() noexcept = 0;
};

// One outgoing message while it is pending.
struct MessageData {
  int command_code = 0;
  std::int64_t data_id = 0;
  Microsoft::WRL::ComPtr<IMessageSender> sender;  // may be null
  std::string command_buffer;                     // the packed body after the id
  std::uintptr_t message_code = 1;                // WM_COPYDATA dwData
  std::uint32_t message_id = 0;
  ServerInstance server_instance = framework::siMain;
  bool queued = false;  // a post for it has been made
  bool sent = false;    // handed to the server (its sender waits for the result)
};
using MessageDataPtr = std::shared_ptr<MessageData>;

struct IMessengerClientInternal : IUnknown {
  using Base = IUnknown;
  virtual HWND STDMETHODCALLTYPE GetWnd() noexcept = 0;
  virtual void STDMETHODCALLTYPE SetWnd(HWND wnd) noexcept = 0;
  virtual void STDMETHODCALLTYPE SetServerWnd(ServerInstance server_instance,
                                              HWND wnd) noexcept = 0;
  virtual void STDMETHODCALLTYPE FindServerWnd(ServerInstance server_instance) noexcept = 0;
  virtual void STDMETHODCALLTYPE SetActive(bool active) noexcept = 0;
  virtual void STDMETHODCALLTYPE RegisterWithServer(ServerInstance server_instance) noexcept = 0;
  virtual void STDMETHODCALLTYPE OnRegistered(ServerInstance server_instance) noexcept = 0;
  virtual void STDMETHODCALLTYPE OnUnregistered(ServerInstance server_instance) noexcept = 0;
  virtual bool STDMETHODCALLTYPE IsClientRegistered(ServerInstance server_instance) noexcept = 0;
  virtual void STDMETHODCALLTYPE NotifyUnloading() noexcept = 0;
  virtual void STDMETHODCALLTYPE PostPendingMessages() noexcept = 0;
  virtual void STDMETHODCALLTYPE CloseThreadHandle() noexcept = 0;
  virtual void STDMETHODCALLTYPE ResumeClientThread() noexcept = 0;
  virtual HANDLE STDMETHODCALLTYPE RequestServerProcessHandle() noexcept = 0;
  virtual MessageDataPtr STDMETHODCALLTYPE FindPendingMessage(std::uint32_t id) noexcept = 0;
  // The message taken out of the queue, or null.
  virtual MessageDataPtr STDMETHODCALLTYPE DeletePendingMessage(std::uint32_t id) noexcept = 0;
};

// The library's messenger client, or null (one per process, published by
// the client when it starts and withdrawn by the application's end).
Microsoft::WRL::ComPtr<IMessengerClient> CurrentMessengerClient() noexcept;

}  // namespace vm::hooklib

__CRT_UUID_DECL(vm::hooklib::IMessengerClient, 0xED4C9303, 0xF593, 0x4122, 0x80, 0xC7, 0xE7, 0x74,
                0xE4, 0x53, 0xE5, 0x6B)
__CRT_UUID_DECL(vm::hooklib::IMessengerClientInternal, 0x7A904393, 0xE401, 0x4307, 0xB3, 0xD2, 0xA8,
                0xF6, 0x6B, 0xE7, 0xE5, 0xEE)
__CRT_UUID_DECL(vm::hooklib::IMessageSender, 0x8601AE47, 0x815F, 0x4719, 0xAC, 0x15, 0xDA, 0x5E,
                0x82, 0x06, 0x51, 0x1A)
