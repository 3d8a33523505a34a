#include "hooklib/app/rule_table.h"

#include <cstring>

#include "common/crc32.h"
#include "hooklib/framework/param_text.h"

#ifdef _WIN32
#include <windows.h>
#include <shlwapi.h>
#endif

namespace vm::hooklib {

namespace {

constexpr std::string_view kEnabledPrefix = "\\Enabled=31";  // hex of "1"
constexpr std::string_view kSpecialIcons = "\\special_icons=";
constexpr std::string_view kAfx = "Afx:";

std::uint32_t Load32(const std::uint8_t* p) noexcept {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;  // the block is little-endian, as every machine this runs on
}

struct Node {
  std::int64_t pos = 0;
  NodeKind kind = NodeKind::End;
  std::int32_t first_child = 0;
  std::int32_t next = 0;
  std::uint32_t field[5] = {};  // offsets 12, 16, 20, 24, 28 as far as the kind has them
};

struct Text {
  bool ok = false;       // inside the block and terminated there
  bool present = false;  // the offset was not 0
  std::string_view text;
};

std::size_t NodeSize(NodeKind kind) noexcept {
  switch (kind) {
    case NodeKind::Group:
      return kGroupNodeSize;
    case NodeKind::SpecificRule:
    case NodeKind::DefaultRule:
    case NodeKind::ExclusionRule:
      return kRuleNodeSize;
    case NodeKind::CaptionCriterion:
      return kCaptionNodeSize;
    case NodeKind::FileCriterion:
    case NodeKind::ClassCriterion:
      return kPatternNodeSize;
    case NodeKind::ExplorerRule:
      return kExplorerNodeSize;
    default:
      return kNodeHeaderSize;
  }
}

bool IsRule(NodeKind kind) noexcept {
  return kind == NodeKind::SpecificRule || kind == NodeKind::DefaultRule ||
         kind == NodeKind::ExclusionRule;
}

// Bounded reads from the block. Every node visit and every text byte
// scanned is paid from a budget sized so that a table the control program
// writes (each node visited and each text read at most once per match)
// never runs short, while cycles, huge counts and texts shared by many nodes
// end after work proportional to the block's size.
class TableReader {
 public:
  explicit TableReader(std::span<const std::uint8_t> view) noexcept : data_(view.data()) {
    if (view.size() < kBlockHeaderSize || data_ == nullptr) return;
    const std::uint32_t size = Load32(data_);
    if (size < kBlockHeaderSize || size > view.size()) return;
    limit_ = size;
    steps_left_ = size / kNodeHeaderSize + 1;
    bytes_left_ = 8 * static_cast<std::uint64_t>(size) + 65536;
  }

  bool valid() const noexcept { return limit_ != 0; }
  const void* base() const noexcept { return data_; }

  // The node at `pos`, when it and all fields of its kind lie in the block.
  bool ReadNode(std::int64_t pos, Node& out) noexcept {
    if (steps_left_ == 0) return false;
    --steps_left_;
    if (!Fits(pos, kNodeHeaderSize)) return false;
    const std::uint8_t* p = data_ + pos;
    out.pos = pos;
    out.kind = static_cast<NodeKind>(Load32(p));
    const std::size_t size = NodeSize(out.kind);
    if (!Fits(pos, size)) return false;
    out.first_child = static_cast<std::int32_t>(Load32(p + 4));
    out.next = static_cast<std::int32_t>(Load32(p + 8));
    for (std::size_t i = 0; i * 4 + kNodeHeaderSize < size; ++i) {
      out.field[i] = Load32(p + kNodeHeaderSize + i * 4);
    }
    return true;
  }

  // Zero-terminated ANSI text named by offset `t` of the node at `node`.
  Text ReadText(std::int64_t node, std::uint32_t t) noexcept {
    Text out;
    if (t == 0) {
      out.ok = true;
      return out;
    }
    out.present = true;
    const std::int64_t pos = node + static_cast<std::int32_t>(t) + 4;
    if (pos < static_cast<std::int64_t>(kBlockHeaderSize) || pos >= limit_) return out;
    const std::size_t room = static_cast<std::size_t>(limit_ - pos);
    const void* end = std::memchr(data_ + pos, 0, room);
    const std::size_t length =
        end ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - (data_ + pos))
            : room;
    if (!Pay(length + 1) || end == nullptr) return out;
    out.text = std::string_view(reinterpret_cast<const char*>(data_ + pos), length);
    out.ok = true;
    return out;
  }

  // Counted UTF-16 text whose 32-bit length (in characters) is at node + off.
  bool ReadCountedUtf16(std::int64_t node, std::uint32_t off, std::u16string& out) noexcept {
    out.clear();
    if (off == 0) return true;
    const std::int64_t pos = node + static_cast<std::int32_t>(off);
    if (!Fits(pos, 4)) return false;
    const std::uint64_t chars = Load32(data_ + pos);
    if (!Fits(pos + 4, chars * 2) || !Pay(chars * 2)) return false;
    try {
      out.resize(static_cast<std::size_t>(chars));
    } catch (...) {
      return false;
    }
    for (std::uint64_t i = 0; i < chars; ++i) {
      std::uint16_t c;
      std::memcpy(&c, data_ + pos + 4 + 2 * i, 2);
      out[static_cast<std::size_t>(i)] = static_cast<char16_t>(c);
    }
    return true;
  }

 private:
  bool Fits(std::int64_t pos, std::uint64_t size) const noexcept {
    return pos >= static_cast<std::int64_t>(kBlockHeaderSize) && pos <= limit_ &&
           size <= static_cast<std::uint64_t>(limit_ - pos);
  }
  bool Pay(std::uint64_t bytes) noexcept {
    if (bytes > bytes_left_) {
      bytes_left_ = 0;
      steps_left_ = 0;  // a table that costs this much is not read any further
      return false;
    }
    bytes_left_ -= bytes;
    return true;
  }

  const std::uint8_t* data_;
  std::int64_t limit_ = 0;
  std::uint64_t steps_left_ = 0;
  std::uint64_t bytes_left_ = 0;
};

// MFC class names "Afx:module:style:cursor:brush:icon" match on module and
// class style whatever the other fields hold.
bool AfxFieldsMatch(std::string_view cls, std::string_view pattern) noexcept {
  if (!cls.starts_with(kAfx) || !pattern.starts_with(kAfx)) return false;
  auto fields = [](std::string_view s, std::string_view(&out)[2]) {
    // Fields 1 and 2 (0-based) and whether a third field exists.
    std::size_t a = s.find(':');
    std::size_t b = s.find(':', a + 1);
    if (b == std::string_view::npos) return false;
    out[0] = s.substr(a + 1, b - a - 1);
    std::size_t c = s.find(':', b + 1);
    out[1] = s.substr(b + 1, c == std::string_view::npos ? std::string_view::npos : c - b - 1);
    return true;
  };
  std::string_view cf[2];
  std::string_view pf[2];
  return fields(cls, cf) && fields(pattern, pf) && cf[0] == pf[0] && cf[1] == pf[1];
}

class Matcher {
 public:
  Matcher(const WindowInfo& info, std::span<const std::uint8_t> view, const MatchContext& context)
      : info_(info), reader_(view), context_(context) {}

  MatchResult Run() {
    MatchResult result;
    if (!reader_.valid()) return result;
    std::int64_t pos = kBlockHeaderSize;
    while (result.params.empty()) {
      Node node;
      if (!reader_.ReadNode(pos, node) || node.kind == NodeKind::End) break;
      if (node.kind == NodeKind::Group) {
        EvaluateGroup(node, result);
      } else if (node.kind == NodeKind::ExplorerRule) {
        EvaluateExplorerRule(node, result);
      }
      pos += node.next;
    }
    return result;
  }

 private:
  void EvaluateGroup(const Node& group, MatchResult& result) {
    // A suffix that is not a proper text puts the whole group out of play.
    const Text suffix = reader_.ReadText(group.pos, group.field[2]);
    if (!suffix.ok) return;
    const std::uint32_t child_count = group.field[0];
    std::int64_t pos = group.pos + group.first_child;
    std::string text;
    for (std::uint32_t i = 0; i < child_count; ++i) {
      Node child;
      if (!reader_.ReadNode(pos, child) || child.kind == NodeKind::End) break;
      text = EvaluateRule(child, result.info);
      if (result.info.name) break;
      pos += child.next;
    }
    if (text.empty()) return;
    text += suffix.text;
    result.info.params_crc = ContinueCrc32(result.info.params_crc, suffix.text);
    if (result.info.special_icon) {
      text += kSpecialIcons;
      text += *result.info.special_icon;
    }
    result.params = std::move(text);
  }

  // The rule's parameters when it holds (RuleInfo then describes it); an
  // empty text and RuleInfo unchanged when not.
  std::string EvaluateRule(const Node& rule, RuleInfo& info) {
    if (!IsRule(rule.kind)) return {};
    const std::uint32_t criteria_count = rule.field[1];
    std::int64_t pos = rule.pos + rule.first_child;
    std::uint32_t tested = 0;
    for (std::uint32_t i = 0; i < criteria_count; ++i) {
      Node criterion;
      if (!reader_.ReadNode(pos, criterion)) return {};
      if (criterion.kind == NodeKind::End) break;
      if (!CriterionHolds(criterion)) return {};
      ++tested;
      pos += criterion.next;
    }
    if (tested == 0 && rule.kind != NodeKind::DefaultRule) return {};

    const Text name = reader_.ReadText(rule.pos, rule.field[0]);
    const Text params = reader_.ReadText(rule.pos, rule.field[2]);
    const Text icon = reader_.ReadText(rule.pos, rule.field[4]);
    if (!name.ok || !params.ok || !icon.ok) return {};

    std::string text(params.text);
    if (name.present) info.name = std::string(name.text);
    info.enabled = true;
    switch (rule.kind) {
      case NodeKind::SpecificRule:
        info.rule_type = RuleType::Specific;
        break;
      case NodeKind::ExclusionRule:
        info.rule_type = RuleType::Exclusion;
        break;
      default:
        info.rule_type = RuleType::Default;
        info.enabled = text.starts_with(kEnabledPrefix);
        break;
    }
    info.params_crc ^= rule.field[3];
    if (icon.present) {
      info.special_icon = std::string(icon.text);
    } else {
      info.special_icon.reset();
    }
    return text;
  }

  bool CriterionHolds(const Node& criterion) {
    const Text pattern = reader_.ReadText(criterion.pos, criterion.field[0]);
    if (!pattern.ok || pattern.text.empty()) return false;
    const std::string_view p = pattern.text;
    switch (criterion.kind) {
      case NodeKind::CaptionCriterion: {
        const std::string_view caption = info_.window_caption;
        switch (static_cast<std::int32_t>(criterion.field[1])) {
          case static_cast<std::int32_t>(CaptionMode::Regex):
            return context_.regex != nullptr && context_.regex->Matches(reader_.base(), p, caption);
          case static_cast<std::int32_t>(CaptionMode::Whole):
            return caption == p;
          case static_cast<std::int32_t>(CaptionMode::Part):
            return caption.find(p) != std::string_view::npos;
          default:
            return false;
        }
      }
      case NodeKind::FileCriterion: {
        const std::string& file = UpperFileName();
        if (std::string_view(file).find(p) != std::string_view::npos) return true;
        return context_.spec_match != nullptr && context_.spec_match(file, p);
      }
      case NodeKind::ClassCriterion: {
        const std::string_view cls = info_.window_class;
        return cls.find(p) != std::string_view::npos || AfxFieldsMatch(cls, p);
      }
      default:
        return false;
    }
  }

  void EvaluateExplorerRule(const Node& node, MatchResult& result) {
    if (!context_.in_explorer || node.field[0] == 0) return;
    if (info_.window_class != "CabinetWClass" && info_.window_class != "ExploreWClass") return;
    std::u16string path;
    if (!reader_.ReadCountedUtf16(node.pos, node.field[1], path)) return;
    result.params = ExplorerRuleParams(path);
    result.info.name = "Foliant";
    result.info.params_crc = ContinueCrc32(result.info.params_crc, result.params);
    result.info.rule_type = RuleType::Foliant;
    result.info.enabled = true;
  }

  const std::string& UpperFileName() {
    if (!upper_file_) {
      upper_file_ = info_.file_name;
      if (context_.upper_case) context_.upper_case(*upper_file_);
    }
    return *upper_file_;
  }

  const WindowInfo& info_;
  TableReader reader_;
  const MatchContext& context_;
  std::optional<std::string> upper_file_;
};

// One mask of a spec list (up to ";" or the end) against the whole name:
// "*" any run, "?" one character. The classic greedy walk with one
// remembered star costs at most name × mask steps.
bool MatchSingleMask(std::string_view name, std::string_view mask) noexcept {
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  std::size_t n = 0, m = 0;
  std::size_t star = std::string_view::npos, star_n = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      star = m++;
      star_n = n;
    } else if (m < mask.size() && (mask[m] == '?' || upper(mask[m]) == upper(name[n]))) {
      ++m;
      ++n;
    } else if (star != std::string_view::npos) {
      m = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace

MatchResult MatchWindowRule(const WindowInfo& info, std::span<const std::uint8_t> view,
                            const MatchContext& context) noexcept {
  try {
    return Matcher(info, view, context).Run();
  } catch (...) {
    return {};  // out of memory: no rule rather than an exception in the hook path
  }
}

bool PortableMatchSpec(std::string_view file_name, std::string_view spec) {
  std::string_view rest = spec;
  if (rest == "*.*") return true;
  while (!rest.empty()) {
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    const std::size_t semi = rest.find(';');
    const std::string_view mask = rest.substr(0, semi);
    if (!mask.empty() && MatchSingleMask(file_name, mask)) return true;
    if (semi == std::string_view::npos) break;
    rest.remove_prefix(semi + 1);
  }
  return false;
}

void AsciiUpperCase(std::string& text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

#ifdef _WIN32
namespace {

// PathMatchSpecA tries every split for every "*" by recursion; a spec with
// many of them against a long path can run for minutes. Such specs are never
// written by people: the portable walk answers them instead.
constexpr std::size_t kMaxSystemSpecStars = 3;

bool GuardedPathMatchSpec(std::string_view file_name, std::string_view spec) {
  std::size_t stars = 0;
  for (char c : spec) stars += c == '*';
  if (stars > kMaxSystemSpecStars) return PortableMatchSpec(file_name, spec);
  // Both texts get terminators of their own: the spec lies in a block other
  // processes may write while it is read.
  char file_buffer[512];
  char spec_buffer[512];
  std::string file_heap;
  std::string spec_heap;
  auto terminated = [](std::string_view text, char(&buffer)[512], std::string& heap) {
    if (text.size() < sizeof(buffer)) {
      std::memcpy(buffer, text.data(), text.size());
      buffer[text.size()] = '\0';
      return static_cast<const char*>(buffer);
    }
    heap.assign(text);
    return heap.c_str();
  };
  return PathMatchSpecA(terminated(file_name, file_buffer, file_heap),
                        terminated(spec, spec_buffer, spec_heap)) != FALSE;
}

void LocaleUpperCase(std::string& text) {
  if (text.empty() || text.size() > 0x7FFFFFFF) return AsciiUpperCase(text);
  const int n = static_cast<int>(text.size());
  std::string out(text.size(), '\0');
  if (LCMapStringA(LOCALE_USER_DEFAULT, LCMAP_UPPERCASE, text.data(), n, out.data(), n) == n) {
    text = std::move(out);
  } else {
    AsciiUpperCase(text);
  }
}

}  // namespace

SpecMatcher DefaultSpecMatcher() { return &GuardedPathMatchSpec; }
AnsiUpperCaser DefaultUpperCaser() { return &LocaleUpperCase; }
#else
SpecMatcher DefaultSpecMatcher() { return &PortableMatchSpec; }
AnsiUpperCaser DefaultUpperCaser() { return &AsciiUpperCase; }
#endif

std::string WindowFileName(std::string path) {
  if (path.find('\\') == std::string::npos && path.find('/') == std::string::npos) {
    path.insert(path.begin(), '\\');
  }
  return path;
}

bool IsWpfClassName(std::string_view name) {
  return name.size() > 50 && name.starts_with("HwndWrapper[") && name.ends_with("]");
}

std::string TrimWpfClassName(std::string name) {
  if (IsWpfClassName(name)) name.erase(name.size() - 1 - 36, 36);
  return name;
}

std::string AnsiHex(std::string_view text) { return framework::AnsiToHex<char>(text); }

std::string Utf16Hex(std::u16string_view text) { return framework::Utf16ToHex<char>(text); }

std::uint32_t ContinueCrc32(std::uint32_t start, std::string_view bytes) noexcept {
  return Crc32Final(Crc32Update(~start, bytes.data(), bytes.size()));
}

std::string ExplorerRuleParams(std::u16string_view path) {
  std::string params = "\\window_rule_name=" + AnsiHex("Foliant");
  params += "\\action=FOLIANTACTION{\\name=Foliant\\path=" + Utf16Hex(path) + "}";
  params += "\\action=BLOCKVISIBILITYACTION{\\name=BlockVisibility\\blocking=-1}";
  params += "\\action=RECENTFOLDERSACTION{\\name=RecentFolders}";
  return params;
}

}  // namespace vm::hooklib
