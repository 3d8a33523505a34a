#include "controlcenter/rules_file_source.h"

#include <variant>

#include "common/rule_table_builder.h"
#include "common/rules_file.h"
#include "common/unique_handle.h"

namespace vm::controlcenter {
namespace {

// A rules file is a few hundred lines at most; anything far larger is no
// rules file, and reading it whole would only cost memory.
constexpr ULONGLONG kMaxRulesFileBytes = 4u << 20;

std::wstring Widen(const std::string& text) {
  std::wstring out;
  for (unsigned char c : text) out += static_cast<wchar_t>(c);
  return out;
}

}  // namespace

bool RulesFileTableSource::Stamp::operator==(const Stamp& other) const {
  return exists == other.exists && size == other.size &&
         CompareFileTime(&written, &other.written) == 0;
}

RulesFileTableSource::RulesFileTableSource(std::wstring path, std::wstring container_command_line,
                                           Report report)
    : path_(std::move(path)),
      command_line_(std::move(container_command_line)),
      report_(std::move(report)) {}

std::string RulesFileTableSource::DefaultText() {
  return "# Vellmark Foliant window rules, one rule a line; '#' starts a comment.\r\n"
         "# Saved changes apply at once to every window opened afterwards.\r\n"
         "#\r\n"
         "# The built-in rule that makes Explorer folder windows tabs (on or off):\r\n"
         "explorer on\r\n"
         "#\r\n"
         "# Other rules: kind name criteria... options...\r\n"
         "#   kind      specific | default | exclude\r\n"
         "#   criteria  class=NAME  file=PATTERN  caption=TEXT  caption*=PART  caption~=REGEX\r\n"
         "#   options   enabled=1|0  icon=TEXT  param:NAME=VALUE\r\n"
         "# for example:\r\n"
         "#   exclude NoDialogs class=#32770\r\n"
         "#   specific Notes file=*\\NOTEPAD.EXE caption~=\"^Notes \"\r\n";
}

RulesFileTableSource::Stamp RulesFileTableSource::Current() const {
  Stamp stamp;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data) &&
      !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    stamp.exists = true;
    stamp.size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    stamp.written = data.ftLastWriteTime;
  }
  return stamp;
}

bool RulesFileTableSource::Changed() const { return !(Current() == read_stamp_); }

bool RulesFileTableSource::ReadFileText(std::string& text) {
  if (!Current().exists) {
    // A new user's file: created once, then read like any other.
    UniqueHandle created(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (created) {
      const std::string body = DefaultText();
      DWORD written = 0;
      WriteFile(created.get(), body.data(), static_cast<DWORD>(body.size()), &written, nullptr);
      report_(L"created \"" + path_ + L"\" with the built-in Explorer rule", false);
    }
  }
  read_stamp_ = Current();
  UniqueHandle file(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
      static_cast<ULONGLONG>(size.QuadPart) > kMaxRulesFileBytes) {
    SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  text.assign(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!text.empty() &&
      !::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr)) {
    return false;
  }
  text.resize(read);
  return true;
}

std::string RulesFileTableSource::TableBytes(bool tabs_enabled) {
  const std::u16string command_line = rules::ToUtf16(command_line_);
  std::string text;
  std::vector<rules::TopNode> nodes;
  if (ReadFileText(text)) {
    rules::RulesFileContent content = rules::ReadRulesFile(text, command_line);
    for (const rules::RulesFileError& e : content.errors) {
      report_(L"\"" + path_ + L"\" line " + std::to_wstring(e.line) + L": " + Widen(e.reason) +
                  L" (left out)",
              true);
    }
    nodes = std::move(content.nodes);
  } else {
    // Without a readable file folder windows still become tabs: the
    // built-in rule alone, as for a new user.
    report_(L"cannot read \"" + path_ + L"\": built-in Explorer rule only", true);
    nodes.push_back(rules::BuiltInExplorerRule(command_line));
  }
  if (!tabs_enabled) {
    for (rules::TopNode& node : nodes) {
      if (auto* explorer = std::get_if<rules::ExplorerRule>(&node)) explorer->enabled = false;
    }
  }
  const std::vector<std::uint8_t> bytes = rules::BuildRuleTable(nodes);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace vm::controlcenter
