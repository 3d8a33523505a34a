#pragma once
// The messenger's bodies as bytes, without windows: what the client packs
// for the control program and how it reads what arrives. Everything that
// arrives came from some process of the session, so it is read item by item
// with the value-list reader and never past its end. Plain code: the native
// fuzzer runs it too.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vm::hooklib::messenger {

// WM_COPYDATA dwData of a server's body.
inline constexpr std::uintptr_t kResultBody = 1;   // message id, result
inline constexpr std::uintptr_t kCommandBody = 2;  // message id, window, receiver, code, data
// dwData of the client's own messages.
inline constexpr std::uintptr_t kClientMessageCode = 1;

// The part of a client message that is fixed when it is queued (the
// message's command buffer): Receiver (ANSI), CommandCode, CommandData,
// the client's process id.
std::string PackCommandBuffer(std::string_view receiver_ansi, std::int32_t command_code,
                              std::string_view command_data, std::uint32_t process_id);
// What goes out: the message id, then the command buffer.
std::string PackClientBody(std::uint32_t message_id, std::string_view command_buffer);

// A command for a receiver in this process (dwData 2).
struct ServerCommand {
  std::uint32_t receiver_wnd = 0;  // a window handle's low 32 bits
  std::string_view receiver;       // ANSI
  std::int32_t command_code = 0;
  std::string_view command_data;
};

// One server body, read as far as it goes. Views point into `body`.
struct ServerBody {
  std::optional<std::uint32_t> message_id;  // the first item, when it reads as an integer
  std::optional<std::string_view> result;   // dwData 1: the item after the id
  std::optional<ServerCommand> command;     // dwData 2: every item read
};
ServerBody ParseServerBody(std::uintptr_t dw_data, std::string_view body);

// An event line of the hook library: process id and thread id as 8
// upper-case hexadecimal digits each, then the text, joined by ";".
std::wstring FormatEventLine(std::uint32_t process_id, std::uint32_t thread_id,
                             std::wstring_view text);

}  // namespace vm::hooklib::messenger
