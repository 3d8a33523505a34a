#pragma once
// The rule table from the user's rules file. The file is plain text (see
// common/rules_file.h for its lines); a missing file is created with the
// built-in Explorer rule and a few commented examples, so a new user has
// something to edit. Lines the reader refuses are reported with their number
// and left out; the rest of the table still applies. "Tabs on" switched off
// disables the Explorer rule whatever the file says.
#include <windows.h>

#include <functional>
#include <string>

#include "controlcenter/rule_table_source.h"

namespace vm::controlcenter {

class RulesFileTableSource final : public RuleTableSource {
 public:
  // `report` gets one text per refused line ("line 4: unknown key ...") and
  // per file that cannot be read or created.
  using Report = std::function<void(const std::wstring& text, bool failure)>;
  RulesFileTableSource(std::wstring path, std::wstring container_command_line, Report report);

  std::string TableBytes(bool tabs_enabled) override;

  // True when the file's size or last write time differs from what the last
  // TableBytes read (also when it appeared or went away).
  bool Changed() const override;

  const std::wstring& path() const { return path_; }

  // What a new rules file holds.
  static std::string DefaultText();

 private:
  struct Stamp {
    bool exists = false;
    ULONGLONG size = 0;
    FILETIME written{};
    bool operator==(const Stamp& other) const;
  };
  Stamp Current() const;
  bool ReadFileText(std::string& text);

  std::wstring path_;
  std::wstring command_line_;
  Report report_;
  Stamp read_stamp_;
};

}  // namespace vm::controlcenter
