#include "hooklib/messenger/messenger_protocol.h"

#include "common/value_list.h"

namespace vm::hooklib::messenger {

std::string PackCommandBuffer(std::string_view receiver_ansi, std::int32_t command_code,
                              std::string_view command_data, std::uint32_t process_id) {
  ValueListWriter writer;
  writer.AddBytes(receiver_ansi);
  writer.AddInt(command_code);
  writer.AddBytes(command_data);
  writer.AddUInt(process_id);
  return writer.Take();
}

std::string PackClientBody(std::uint32_t message_id, std::string_view command_buffer) {
  ValueListWriter writer;
  writer.AddUInt(message_id);
  std::string body = writer.Take();
  body.append(command_buffer);
  return body;
}

ServerBody ParseServerBody(std::uintptr_t dw_data, std::string_view body) {
  ServerBody out;
  ValueListReader reader(body);
  out.message_id = reader.ReadUInt();
  if (!out.message_id) return out;
  if (dw_data == kResultBody) {
    out.result = reader.ReadBytes();
  } else if (dw_data == kCommandBody) {
    // All five items or nothing: a command cut short is not carried out.
    const auto wnd = reader.ReadUInt();
    const auto receiver = reader.ReadBytes();
    const auto code = reader.ReadInt();
    const auto data = reader.ReadBytes();
    if (wnd && receiver && code && data) out.command = ServerCommand{*wnd, *receiver, *code, *data};
  }
  return out;
}

std::wstring FormatEventLine(std::uint32_t process_id, std::uint32_t thread_id,
                             std::wstring_view text) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring line;
  line.reserve(18 + text.size());
  for (std::uint32_t value : {process_id, thread_id}) {
    for (int shift = 28; shift >= 0; shift -= 4) line.push_back(kDigits[(value >> shift) & 0xF]);
    line.push_back(L';');
  }
  line.append(text);
  return line;
}

}  // namespace vm::hooklib::messenger
