#include "common/rules_file.h"

#include <optional>
#include <stdexcept>

namespace vm::rules {

namespace {

std::string Hex(std::string_view text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 2);
  for (unsigned char c : text) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

void Upper(std::string& text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

struct Word {
  std::string key;  // text before the first "=" outside quotes, or the whole word
  std::string value;
  bool has_value = false;
};

// Splits a line into words; nullopt with `reason` set for an unterminated quote.
std::optional<std::vector<Word>> SplitWords(std::string_view line, std::string& reason) {
  std::vector<Word> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    Word w;
    std::string* out = &w.key;
    while (i < line.size() && !IsBlank(line[i])) {
      const char c = line[i];
      if (c == '"') {
        ++i;
        bool closed = false;
        while (i < line.size()) {
          if (line[i] == '"') {
            if (i + 1 < line.size() && line[i + 1] == '"') {
              out->push_back('"');
              i += 2;
              continue;
            }
            closed = true;
            ++i;
            break;
          }
          out->push_back(line[i++]);
        }
        if (!closed) {
          reason = "unterminated quote";
          return std::nullopt;
        }
        continue;
      }
      if (c == '=' && !w.has_value) {
        w.has_value = true;
        out = &w.value;
        ++i;
        continue;
      }
      out->push_back(c);
      ++i;
    }
    words.push_back(std::move(w));
  }
  return words;
}

class Reader {
 public:
  explicit Reader(std::u16string_view container) : container_(container) {}

  RulesFileContent Run(std::string_view text) {
    // Editors that save UTF-8 put a byte-order mark first.
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::size_t number = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      std::string_view line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      ++number;
      std::string reason;
      if (!Line(line, reason)) content_.errors.push_back({number, std::move(reason)});
      if (end == text.size()) break;
      start = end + 1;
    }
    FlushGroup();
    if (!explorer_placed_) {
      content_.nodes.insert(content_.nodes.begin(), BuiltInExplorerRule(container_));
    }
    return std::move(content_);
  }

 private:
  bool Line(std::string_view line, std::string& reason) {
    std::size_t first = 0;
    while (first < line.size() && IsBlank(line[first])) ++first;
    if (first == line.size() || line[first] == '#') return true;
    if (line.find('\0') != std::string_view::npos) {
      reason = "the line holds a zero byte";
      return false;
    }
    auto words = SplitWords(line, reason);
    if (!words) return false;
    const Word& kind = words->front();
    if (kind.has_value) {
      reason = "a line starts with group, explorer, specific, default or exclude";
      return false;
    }
    if (kind.key == "group") return GroupLine(*words, reason);
    if (kind.key == "explorer") return ExplorerLine(*words, reason);
    if (kind.key == "specific") return RuleLine(NodeKind::SpecificRule, *words, reason);
    if (kind.key == "default") return RuleLine(NodeKind::DefaultRule, *words, reason);
    if (kind.key == "exclude") return RuleLine(NodeKind::ExclusionRule, *words, reason);
    reason = "unknown line kind '" + kind.key + "'";
    return false;
  }

  bool GroupLine(const std::vector<Word>& words, std::string& reason) {
    Group group;
    for (std::size_t i = 1; i < words.size(); ++i) {
      const Word& w = words[i];
      if (w.has_value && w.key == "suffix") {
        group.suffix = w.value;
      } else if (w.has_value && w.key == "skin") {
        group.skin = w.value;
      } else {
        reason = "unknown group setting '" + w.key + "'";
        return false;
      }
    }
    FlushGroup();
    group_ = std::move(group);
    return true;
  }

  bool ExplorerLine(const std::vector<Word>& words, std::string& reason) {
    if (explorer_placed_) {
      reason = "the built-in Explorer rule is already placed";
      return false;
    }
    bool enabled = true;
    if (words.size() > 2 ||
        (words.size() == 2 &&
         (words[1].has_value || (words[1].key != "on" && words[1].key != "off")))) {
      reason = "explorer takes on or off";
      return false;
    }
    if (words.size() == 2) enabled = words[1].key == "on";
    FlushGroup();
    ExplorerRule rule = BuiltInExplorerRule(container_);
    rule.enabled = enabled;
    content_.nodes.push_back(std::move(rule));
    explorer_placed_ = true;
    return true;
  }

  bool RuleLine(NodeKind kind, const std::vector<Word>& words, std::string& reason) {
    if (words.size() < 2 || words[1].has_value || words[1].key.empty()) {
      reason = "a rule needs a name after its kind";
      return false;
    }
    Rule rule;
    rule.kind = kind;
    rule.name = words[1].key;
    bool enabled = true;
    std::string extra;
    for (std::size_t i = 2; i < words.size(); ++i) {
      const Word& w = words[i];
      if (!w.has_value) {
        reason = "'" + w.key + "' is not key=value";
        return false;
      }
      std::optional<Criterion> criterion;
      if (w.key == "class") {
        criterion = Criterion{NodeKind::ClassCriterion, w.value, CaptionMode::Part};
      } else if (w.key == "file") {
        criterion = Criterion{NodeKind::FileCriterion, w.value, CaptionMode::Part};
        Upper(criterion->pattern);
      } else if (w.key == "caption") {
        criterion = Criterion{NodeKind::CaptionCriterion, w.value, CaptionMode::Whole};
      } else if (w.key == "caption*") {
        criterion = Criterion{NodeKind::CaptionCriterion, w.value, CaptionMode::Part};
      } else if (w.key == "caption~") {
        criterion = Criterion{NodeKind::CaptionCriterion, w.value, CaptionMode::Regex};
      } else if (w.key == "enabled") {
        if (w.value != "0" && w.value != "1") {
          reason = "enabled is 0 or 1";
          return false;
        }
        enabled = w.value == "1";
      } else if (w.key == "icon") {
        rule.special_icon = w.value;
      } else if (w.key.starts_with("param:")) {
        const std::string name = w.key.substr(6);
        if (name.empty() || name.find_first_of("\\={}") != std::string::npos) {
          reason = "bad parameter name '" + name + "'";
          return false;
        }
        extra += "\\" + name + "=" + Hex(w.value);
      } else if (w.key == "raw") {
        if (!w.value.empty() && w.value.front() != '\\') extra += "\\";
        extra += w.value;
      } else {
        reason = "unknown key '" + w.key + "'";
        return false;
      }
      if (criterion) {
        if (criterion->pattern.empty()) {
          reason = "an empty pattern never holds ('" + w.key + "')";
          return false;
        }
        rule.criteria.push_back(std::move(*criterion));
      }
    }
    if (kind != NodeKind::DefaultRule && rule.criteria.empty()) {
      reason = "a specific or exclusion rule needs at least one criterion";
      return false;
    }
    rule.params = std::string("\\Enabled=") + (enabled ? "31" : "30") +
                  "\\window_rule_name=" + Hex(*rule.name) + extra;
    if (!group_) group_ = Group{};
    group_->rules.push_back(std::move(rule));
    return true;
  }

  void FlushGroup() {
    if (group_ && !group_->rules.empty()) content_.nodes.push_back(std::move(*group_));
    group_.reset();
  }

  std::u16string_view container_;
  RulesFileContent content_;
  std::optional<Group> group_;
  bool explorer_placed_ = false;
};

}  // namespace

RulesFileContent ReadRulesFile(std::string_view text, std::u16string_view container_command_line) {
  return Reader(container_command_line).Run(text);
}

RulesFileTable BuildTableFromRules(std::string_view text,
                                   std::u16string_view container_command_line) {
  RulesFileTable out;
  try {
    RulesFileContent content = ReadRulesFile(text, container_command_line);
    out.errors = std::move(content.errors);
    try {
      out.bytes = BuildRuleTable(content.nodes);
      return out;
    } catch (const std::length_error&) {
      out.errors.push_back({0, "the rules make a table too large to publish"});
    }
    out.bytes = BuildRuleTable({BuiltInExplorerRule(container_command_line)});
  } catch (...) {
    out.errors.push_back({0, "out of memory while reading the rules"});
    out.bytes.clear();
  }
  return out;
}

}  // namespace vm::rules
