// libFuzzer target: the control program's reading of messenger bodies from
// clients (any process may send them). A body either reads in full or not at
// all, never past its end, and what reads in full packs back to the same
// leading bytes; the event-line cleaning never lets a line break through.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/value_list.h"
#include "controlcenter/messenger_bodies.h"

namespace {

using namespace vm;
using namespace vm::controlcenter;

#define CHECK(cond)            \
  do {                         \
    if (!(cond)) std::abort(); \
  } while (0)

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy, so the sanitizer sees any read past the body.
  const std::string body(reinterpret_cast<const char*>(data), size);

  const ClientMessageParse parse = ParseClientMessage(body);
  if (parse.message) {
    CHECK(parse.id && *parse.id == parse.message->id);
    ValueListWriter w;
    w.AddUInt(parse.message->id);
    w.AddBytes(parse.message->receiver);
    w.AddInt(parse.message->command);
    w.AddBytes(parse.message->data);
    w.AddUInt(parse.message->process_id);
    const std::string packed = w.Take();
    CHECK(packed.size() <= body.size());
    CHECK(body.compare(0, packed.size(), packed) == 0);
  }

  if (const auto report = ParseWindowRuleReport(body)) {
    CHECK(report->file.size() + report->window_class.size() + report->caption.size() +
              report->rule.size() + 6 * 4 + 8 <=
          body.size());
  }

  const std::string line = SanitizeEventLine(body);
  CHECK(line.size() <= kMaxEventLineBytes && line.size() <= body.size());
  CHECK(line.find('\r') == std::string::npos && line.find('\n') == std::string::npos);
  return 0;
}
