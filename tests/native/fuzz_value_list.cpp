// libFuzzer target: the value-list reader over bodies from anywhere, and the
// messenger client's reading of server bodies built on it. Nothing may be
// read outside the body (the input is an exact-size heap block, so ASan sees
// a byte past it), views stay inside it, and what the writer packs the
// reader gives back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/value_list.h"
#include "hooklib/messenger/messenger_protocol.h"

namespace {

#define CHECK(cond)            \
  do {                         \
    if (!(cond)) std::abort(); \
  } while (0)

bool Inside(std::string_view part, std::string_view whole) {
  if (part.empty()) return true;
  return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

// Reads the body with the reads the first byte picks (two bits each, cycled).
void ReadAll(std::string_view body, std::uint8_t plan) {
  vm::ValueListReader reader(body);
  std::size_t last = 0;
  std::vector<std::string_view> items;
  for (int step = 0; step < 64; ++step) {
    const bool failed_before = reader.failed();
    bool ok = false;
    switch ((plan >> ((step % 4) * 2)) & 3) {
      case 0:
        ok = reader.ReadInt().has_value();
        break;
      case 1:
        ok = reader.ReadUInt().has_value();
        break;
      case 2: {
        const auto bytes = reader.ReadBytes();
        ok = bytes.has_value();
        if (bytes) {
          CHECK(Inside(*bytes, body));
          items.push_back(*bytes);
        }
        break;
      }
      default: {
        const auto wide = reader.ReadWide();
        ok = wide.has_value();
        break;
      }
    }
    // A failed read stops the parse for good; a read moves forward only.
    if (failed_before) CHECK(!ok);
    CHECK(reader.position() <= body.size());
    CHECK(reader.position() >= last);
    if (ok) CHECK(reader.position() > last);
    last = reader.position();
    if (reader.failed() || reader.AtEnd()) break;
  }
  // Packing the byte items again and reading them back gives the same items.
  vm::ValueListWriter writer;
  for (auto item : items) writer.AddBytes(item);
  vm::ValueListReader again(writer.bytes());
  for (auto item : items) {
    const auto back = again.ReadBytes();
    CHECK(back && *back == item);
  }
  CHECK(again.AtEnd() && !again.failed());
}

void ParseAsServerBody(std::string_view body, std::uintptr_t dw_data) {
  const auto parsed = vm::hooklib::messenger::ParseServerBody(dw_data, body);
  if (parsed.result) {
    CHECK(dw_data == 1 && parsed.message_id);
    CHECK(Inside(*parsed.result, body));
  }
  if (parsed.command) {
    CHECK(dw_data == 2 && parsed.message_id);
    CHECK(Inside(parsed.command->receiver, body));
    CHECK(Inside(parsed.command->command_data, body));
    // 5 items: at least their 5 counts and 3 integers.
    CHECK(body.size() >=
          5 * 4 + 3 * 4 + parsed.command->receiver.size() + parsed.command->command_data.size());
  }
  if (!parsed.message_id) CHECK(!parsed.result && !parsed.command);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t plan = data[0];
  const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
  ReadAll(body, plan);
  for (std::uintptr_t dw_data : {std::uintptr_t{1}, std::uintptr_t{2}, std::uintptr_t{plan}})
    ParseAsServerBody(body, dw_data);
  // A client body packed around the input reads back item by item.
  const std::string buffer =
      vm::hooklib::messenger::PackCommandBuffer(body.substr(0, size / 2), plan, body, 0x1234);
  const std::string client = vm::hooklib::messenger::PackClientBody(plan, buffer);
  vm::ValueListReader reader(client);
  CHECK(reader.ReadUInt() == plan);
  CHECK(reader.ReadBytes() == body.substr(0, size / 2));
  CHECK(reader.ReadInt() == plan);
  CHECK(reader.ReadBytes() == body);
  CHECK(reader.ReadUInt() == 0x1234u);
  CHECK(reader.AtEnd());
  return 0;
}
