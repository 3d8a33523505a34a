#include "common/rule_table_builder.h"

#include <cstring>
#include <stdexcept>

#include "common/crc32.h"

namespace vm::rules {

namespace {

// Offsets are signed 32-bit in the node format; stay well inside them.
constexpr std::size_t kMaxBlockSize = 0x7FFFFFF0;

class Writer {
 public:
  Writer() { Put32(0); }  // size word, patched at the end

  std::vector<std::uint8_t> Finish() {
    Patch(0, static_cast<std::uint32_t>(bytes_.size()));
    return std::move(bytes_);
  }

  std::size_t Reserve(std::size_t size) {
    const std::size_t pos = bytes_.size();
    Grow(size);
    return pos;
  }

  void Patch(std::size_t pos, std::uint32_t value) { std::memcpy(&bytes_[pos], &value, 4); }
  void PatchRelative(std::size_t pos, std::size_t node, std::size_t target) {
    Patch(pos, static_cast<std::uint32_t>(static_cast<std::int32_t>(target - node)));
  }

  // A text as the format names it: the node's offset t points 4 bytes before
  // the characters, where its length goes; a zero ends it; 4-byte aligned.
  std::size_t PutCounted(const void* data, std::size_t units, std::size_t unit_size) {
    const std::size_t pos = bytes_.size();
    Put32(static_cast<std::uint32_t>(units));
    const std::size_t at = bytes_.size();
    Grow(units * unit_size + unit_size);
    if (units) std::memcpy(&bytes_[at], data, units * unit_size);
    while (bytes_.size() % 4) bytes_.push_back(0);
    return pos;
  }

  void Put32(std::uint32_t value) {
    const std::size_t pos = bytes_.size();
    Grow(4);
    Patch(pos, value);
  }

 private:
  void Grow(std::size_t size) {
    if (size > kMaxBlockSize || bytes_.size() > kMaxBlockSize - size) {
      throw std::length_error("rule table too large");
    }
    bytes_.resize(bytes_.size() + size, 0);
  }

  std::vector<std::uint8_t> bytes_;
};

void PutText(Writer& w, std::size_t node, std::size_t field, std::string_view text) {
  const std::size_t at = w.PutCounted(text.data(), text.size(), 1);
  w.PatchRelative(node + field, node, at);  // node + t + 4 = the characters
}

std::size_t PutEnd(Writer& w) { return w.Reserve(kNodeHeaderSize); }

void PutCriterion(Writer& w, const Criterion& c, std::size_t& node) {
  const bool caption = c.kind == NodeKind::CaptionCriterion;
  node = w.Reserve(caption ? kCaptionNodeSize : kPatternNodeSize);
  w.Patch(node, static_cast<std::uint32_t>(c.kind));
  PutText(w, node, 12, c.pattern);
  if (caption) w.Patch(node + 16, static_cast<std::uint32_t>(static_cast<std::int32_t>(c.mode)));
}

void PutRule(Writer& w, const Rule& r, std::size_t& node) {
  node = w.Reserve(kRuleNodeSize);
  w.Patch(node, static_cast<std::uint32_t>(r.kind));
  w.Patch(node + 16, static_cast<std::uint32_t>(r.criteria.size()));
  w.Patch(node + 24, r.seed ? *r.seed : DefaultSeed(r));
  if (r.name) PutText(w, node, 12, *r.name);
  PutText(w, node, 20, r.params);
  if (r.special_icon) PutText(w, node, 28, *r.special_icon);
  // Children: the criteria, then the end of their list.
  std::size_t previous = 0;
  bool first = true;
  for (const Criterion& c : r.criteria) {
    std::size_t child = 0;
    PutCriterion(w, c, child);
    if (first) {
      w.PatchRelative(node + 4, node, child);
      first = false;
    } else {
      w.PatchRelative(previous + 8, previous, child);
    }
    previous = child;
  }
  const std::size_t end = PutEnd(w);
  if (first) {
    w.PatchRelative(node + 4, node, end);
  } else {
    w.PatchRelative(previous + 8, previous, end);
  }
}

void PutGroup(Writer& w, const Group& g, std::size_t& node) {
  node = w.Reserve(kGroupNodeSize);
  w.Patch(node, static_cast<std::uint32_t>(NodeKind::Group));
  w.Patch(node + 12, static_cast<std::uint32_t>(g.rules.size()));
  const std::size_t skin = w.PutCounted(g.skin.data(), g.skin.size(), 1);
  w.PatchRelative(node + 16, node, skin);
  if (!g.suffix.empty()) PutText(w, node, 20, g.suffix);
  std::size_t previous = 0;
  bool first = true;
  for (const Rule& r : g.rules) {
    std::size_t child = 0;
    PutRule(w, r, child);
    if (first) {
      w.PatchRelative(node + 4, node, child);
      first = false;
    } else {
      w.PatchRelative(previous + 8, previous, child);
    }
    previous = child;
  }
  const std::size_t end = PutEnd(w);
  if (first) {
    w.PatchRelative(node + 4, node, end);
  } else {
    w.PatchRelative(previous + 8, previous, end);
  }
}

void PutExplorerRule(Writer& w, const ExplorerRule& e, std::size_t& node) {
  node = w.Reserve(kExplorerNodeSize);
  w.Patch(node, static_cast<std::uint32_t>(NodeKind::ExplorerRule));
  w.Patch(node + 12, e.enabled ? 1u : 0u);
  const std::size_t path = w.PutCounted(e.path.data(), e.path.size(), 2);
  w.PatchRelative(node + 16, node, path);
}

}  // namespace

std::uint32_t DefaultSeed(const Rule& rule) {
  std::uint32_t state = kCrc32Init;
  const std::string name = rule.name.value_or(std::string());
  state = Crc32Update(state, name.data(), name.size() + 1);  // with its zero: fields stay apart
  state = Crc32Update(state, rule.params.data(), rule.params.size() + 1);
  if (rule.special_icon) {
    state = Crc32Update(state, rule.special_icon->data(), rule.special_icon->size());
  }
  return Crc32Final(state);
}

std::vector<std::uint8_t> BuildRuleTable(const std::vector<TopNode>& nodes) {
  Writer w;
  std::size_t previous = 0;
  bool first = true;
  for (const TopNode& top : nodes) {
    std::size_t node = 0;
    if (const Group* g = std::get_if<Group>(&top)) {
      PutGroup(w, *g, node);
    } else {
      PutExplorerRule(w, std::get<ExplorerRule>(top), node);
    }
    // The top-level list starts at offset 4: the first node sits there.
    if (!first) w.PatchRelative(previous + 8, previous, node);
    first = false;
    previous = node;
  }
  const std::size_t end = PutEnd(w);
  if (!first) w.PatchRelative(previous + 8, previous, end);
  return w.Finish();
}

ExplorerRule BuiltInExplorerRule(std::u16string_view container_command_line) {
  return ExplorerRule{true, std::u16string(container_command_line)};
}

std::u16string ToUtf16(std::wstring_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (wchar_t c : text)
    out.push_back(static_cast<char16_t>(static_cast<std::uint32_t>(c) & 0xFFFF));
  return out;
}

}  // namespace vm::rules
