#include "controlcenter/messenger_bodies.h"

#include "common/value_list.h"

namespace vm::controlcenter {

ClientMessageParse ParseClientMessage(std::string_view body) {
  ClientMessageParse parse;
  ValueListReader reader(body);
  parse.id = reader.ReadUInt();
  if (!parse.id) return parse;
  const auto receiver = reader.ReadBytes();
  const auto command = reader.ReadInt();
  const auto data = reader.ReadBytes();
  const auto process_id = reader.ReadUInt();
  if (reader.failed() || !receiver || !command || !data || !process_id) return parse;
  ClientMessage m;
  m.id = *parse.id;
  m.receiver.assign(*receiver);
  m.command = *command;
  m.data.assign(*data);
  m.process_id = *process_id;
  parse.message = std::move(m);
  return parse;
}

std::optional<WindowRuleReport> ParseWindowRuleReport(std::string_view data) {
  ValueListReader reader(data);
  WindowRuleReport r;
  const auto window = reader.ReadUInt();
  const auto file = reader.ReadBytes();
  const auto window_class = reader.ReadBytes();
  const auto caption = reader.ReadBytes();
  const auto rule = reader.ReadBytes();
  const auto rule_type = reader.ReadInt();
  if (reader.failed() || !window || !file || !window_class || !caption || !rule || !rule_type)
    return std::nullopt;
  r.window = *window;
  r.file.assign(*file);
  r.window_class.assign(*window_class);
  r.caption.assign(*caption);
  r.rule.assign(*rule);
  r.rule_type = *rule_type;
  return r;
}

std::string ResultBody(std::uint32_t id, std::string_view result) {
  ValueListWriter w;
  w.AddUInt(id);
  w.AddBytes(result);
  return w.Take();
}

std::string CommandBody(std::uint32_t id, std::uint32_t receiver_window, std::string_view receiver,
                        std::int32_t command, std::string_view data) {
  ValueListWriter w;
  w.AddUInt(id);
  w.AddUInt(receiver_window);
  w.AddBytes(receiver);
  w.AddInt(command);
  w.AddBytes(data);
  return w.Take();
}

std::string SanitizeEventLine(std::string_view text) {
  std::string out(text.substr(0, kMaxEventLineBytes));
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return out;
}

}  // namespace vm::controlcenter
