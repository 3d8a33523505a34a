#pragma once
// The WM_COPYDATA bodies of the messenger protocol, server side. Every body
// from a client is untrusted: it is read item by item with the bounds-checked
// value-list reader, and nothing is believed that was not read in full.
// Plain code, no windows.h.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vm::controlcenter {

// dwData 1 from a client: message id, receiver, command code, command data,
// client process id.
struct ClientMessage {
  std::uint32_t id = 0;
  std::string receiver;  // ANSI
  std::int32_t command = 0;
  std::string data;
  std::uint32_t process_id = 0;
};

struct ClientMessageParse {
  std::optional<std::uint32_t> id;       // read even when a later item is bad, to answer it
  std::optional<ClientMessage> message;  // the whole body read
};
ClientMessageParse ParseClientMessage(std::string_view body);

// Command 1 or 15 data: what the hook library reports when a window gets a rule.
struct WindowRuleReport {
  std::uint32_t window = 0;  // low 32 bits of the handle
  std::string file;
  std::string window_class;
  std::string caption;
  std::string rule;
  std::int32_t rule_type = 0;
};
std::optional<WindowRuleReport> ParseWindowRuleReport(std::string_view data);

// dwData 1 to a client: message id, result.
std::string ResultBody(std::uint32_t id, std::string_view result);
// dwData 2 to a client: message id, receiver window, receiver, command, data.
std::string CommandBody(std::uint32_t id, std::uint32_t receiver_window, std::string_view receiver,
                        std::int32_t command, std::string_view data);

// The text of a command-75 line made safe for one line of the log: control
// characters (a CR LF would forge a line) become blanks, and the text is cut
// at kMaxEventLineBytes.
inline constexpr std::size_t kMaxEventLineBytes = 4096;
std::string SanitizeEventLine(std::string_view text);

}  // namespace vm::controlcenter
