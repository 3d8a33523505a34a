// The hook host's window-free decisions and the launcher's command line.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/hook_host_launcher.h"
#include "common/system_info.h"
#include "hookhost/host_decisions.h"

namespace vm::hookhost {
namespace {

struct CommandCase {
  std::vector<std::wstring_view> arguments;
  HostMode mode;
  std::uint32_t parent_id;
  std::intptr_t window;
  bool stage;
};

TEST(HostCommandLine, CountDecidesAndEachArgumentParses) {
  const CommandCase cases[] = {
      {{}, HostMode::StartControlProgram, 0, 0, false},
      {{L"12"}, HostMode::Nothing, 0, 0, false},
      {{L"12", L"34"}, HostMode::Nothing, 0, 0, false},
      {{L"12", L"34", L"0", L"x"}, HostMode::Nothing, 0, 0, false},
      {{L"12", L"34", L"0"}, HostMode::Serve, 12, 34, true},
      {{L"12", L"34", L"1"}, HostMode::Serve, 12, 34, false},
      {{L"12", L"34", L"00"}, HostMode::Serve, 12, 34, false},
      {{L"12", L"34", L" 0"}, HostMode::Serve, 12, 34, false},
      {{L"12", L"34", L""}, HostMode::Serve, 12, 34, false},
      // Not numbers: 0, which the host then refuses.
      {{L"abc", L"34", L"0"}, HostMode::Serve, 0, 34, true},
      {{L"12", L"0x10", L"0"}, HostMode::Serve, 12, 0, true},
      {{L"12x", L"", L"0"}, HostMode::Serve, 0, 0, true},
      // Windows are 32-bit values, sign-extended, written either way.
      {{L"1", L"-2", L"1"}, HostMode::Serve, 1, -2, false},
      {{L"1", L"4294967294", L"1"}, HostMode::Serve, 1, -2, false},
      {{L"1", L"2147483647", L"1"}, HostMode::Serve, 1, 2147483647, false},
      {{L"1", L"-2147483648", L"1"}, HostMode::Serve, 1, -2147483647 - 1, false},
      {{L"1", L"4294967296", L"1"}, HostMode::Serve, 1, 0, false},
      {{L"1", L"-2147483649", L"1"}, HostMode::Serve, 1, 0, false},
      {{L" 77", L"+5", L"1"}, HostMode::Serve, 77, 5, false},
      {{L"-", L"99999999999999999999", L"1"}, HostMode::Serve, 0, 0, false},
  };
  for (const CommandCase& c : cases) {
    const HostCommand command = ParseHostCommand(c.arguments);
    std::wstring shown;
    for (auto a : c.arguments) shown += L"[" + std::wstring(a) + L"]";
    SCOPED_TRACE(std::string(shown.begin(), shown.end()));
    EXPECT_EQ(command.mode, c.mode);
    EXPECT_EQ(command.parent_id, c.parent_id);
    EXPECT_EQ(command.window, c.window);
    EXPECT_EQ(command.stage_library, c.stage);
  }
}

TEST(HostWakeMask, TouchAndPointerBitsOnlyFromWindows8On) {
  struct Case {
    VersionNumbers version;
    std::uint32_t mask;
  };
  const Case cases[] = {
      {{5, 1, 2600}, 0x04FF},   {{6, 0, 6002}, 0x04FF}, {{6, 1, 7601}, 0x04FF},
      {{6, 2, 9200}, 0x1CFF},   {{6, 3, 9600}, 0x1CFF}, {{10, 0, 19045}, 0x1CFF},
      {{10, 0, 22631}, 0x1CFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.version.major) + "." + std::to_string(c.version.minor));
    EXPECT_EQ(WakeMaskFor(ComputeVersionFlags(c.version).windows8_or_later), c.mask);
  }
  // Before Windows 8 the mask is QS_ALLINPUT without the touch and pointer bits.
  EXPECT_EQ(kWakeMaskBeforeWindows8, kWakeMaskWindows8 & ~0x1800u);
}

// A file system in memory: files with their contents' CRC and whether they
// may be deleted or written.
class FakeFiles final : public StagingFiles {
 public:
  struct File {
    std::uint32_t crc;
    bool locked = false;
  };
  std::map<std::wstring, File> files;
  bool copy_fails = false;
  std::vector<std::string> calls;

  bool Exists(const std::wstring& p) override { return files.count(p) != 0; }
  std::uint32_t Crc32Of(const std::wstring& p) override {
    auto it = files.find(p);
    return it == files.end() ? 0 : it->second.crc;
  }
  bool Delete(const std::wstring& p) override {
    calls.push_back("delete");
    auto it = files.find(p);
    if (it == files.end() || it->second.locked) return false;
    files.erase(it);
    return true;
  }
  bool Copy(const std::wstring& from, const std::wstring& to) override {
    calls.push_back("copy");
    if (copy_fails || !files.count(from)) return false;
    files[to] = files[from];
    return true;
  }
  void MakeNormal(const std::wstring&) override { calls.push_back("normal"); }
};

TEST(HostStaging, SameCrcIsUsedOtherCrcReplacedLockedAsksForRelogin) {
  const std::wstring source = L"C:\\prog\\vfoemb64.dll";
  const std::wstring staged = L"C:\\temp\\vfoemb64.dll";
  enum Staged { kNone, kSame, kOther, kOtherLocked, kSameLocked };
  struct Case {
    const char* name;
    Staged staged_state;
    bool source_exists;
    bool copy_fails;
    std::wstring staged_path;
    std::wstring loads;  // empty: nothing
    bool relogin;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"no staged copy: copied", kNone, true, false, staged, staged, false, {"copy", "normal"}},
      {"same CRC: used as it is", kSame, true, false, staged, staged, false, {}},
      {"same CRC, in use: used", kSameLocked, true, false, staged, staged, false, {}},
      {"other CRC: replaced",
       kOther,
       true,
       false,
       staged,
       staged,
       false,
       {"delete", "copy", "normal"}},
      {"other CRC, in use: relogin", kOtherLocked, true, false, staged, L"", true, {"delete"}},
      {"copy fails: source", kNone, true, true, staged, source, false, {"copy"}},
      {"replaced copy fails: source",
       kOther,
       true,
       true,
       staged,
       source,
       false,
       {"delete", "copy"}},
      {"no temporary folder: source", kOther, true, false, L"", source, false, {}},
      {"no source: its path, which then fails to load",
       kOther,
       false,
       false,
       staged,
       source,
       false,
       {"delete", "copy"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeFiles fs;
    if (c.source_exists) fs.files[source] = {0x1234};
    if (c.staged_state != kNone) {
      fs.files[staged] = {
          c.staged_state == kSame || c.staged_state == kSameLocked ? 0x1234u : 0x9999u,
          c.staged_state == kOtherLocked || c.staged_state == kSameLocked};
    }
    fs.copy_fails = c.copy_fails;
    const StagingResult result = StageLibrary(source, c.staged_path, fs);
    EXPECT_EQ(result.path, c.loads);
    EXPECT_EQ(result.relogin, c.relogin);
    EXPECT_EQ(fs.calls, c.calls);
  }
}

TEST(HostStaging, ExpandedTemporaryPathIsTakenOnlyWhenComplete) {
  EXPECT_EQ(StagedPathFromExpansion(L"C:\\t\\vfoemb64.dll", 18), L"C:\\t\\vfoemb64.dll");
  EXPECT_EQ(StagedPathFromExpansion(L"%temp%\\vfoemb64.dll", 20), L"");  // no TEMP
  EXPECT_EQ(StagedPathFromExpansion(L"", 300), L"");                     // did not fit
  EXPECT_EQ(StagedPathFromExpansion(L"", 0), L"");                       // failed
}

TEST(HostOtherCopies, SameNameFromAnotherPathIgnoringCase) {
  struct Case {
    const wchar_t* module;
    const wchar_t* path;
    bool other;
  };
  const Case cases[] = {
      {L"C:\\a\\vfoemb64.dll", L"C:\\a\\vfoemb64.dll", false},
      {L"c:\\A\\VFOEMB64.DLL", L"C:\\a\\vfoemb64.dll", false},
      {L"C:\\b\\vfoemb64.dll", L"C:\\a\\vfoemb64.dll", true},
      {L"C:\\b\\VfoEmb64.Dll", L"C:\\a\\vfoemb64.dll", true},
      {L"C:\\a\\vfoemb32.dll", L"C:\\a\\vfoemb64.dll", false},
      {L"C:\\a\\xvfoemb64.dll", L"C:\\b\\vfoemb64.dll", false},
      {L"vfoemb64.dll", L"C:\\a\\vfoemb64.dll", true},
      {L"C:\\a/vfoemb64.dll", L"C:\\b\\vfoemb64.dll", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsOtherCopy(c.module, c.path), c.other)
        << std::wstring(c.module).size() << " " << c.other;
  }
  EXPECT_EQ(FileNamePart(L"C:\\x\\y.dll"), L"y.dll");
  EXPECT_EQ(FileNamePart(L"y.dll"), L"y.dll");
}

TEST(HostMouseHook, InstallWhenOffUninstallWhenOnOthersLeftAlone) {
  struct Case {
    std::uintptr_t code;
    bool installed;
    MouseHookAction action;
    bool handled;
  };
  const Case cases[] = {
      {74, false, MouseHookAction::Install, true},  {74, true, MouseHookAction::None, false},
      {75, true, MouseHookAction::Uninstall, true}, {75, false, MouseHookAction::None, false},
      {73, false, MouseHookAction::None, false},    {76, true, MouseHookAction::None, false},
      {0, false, MouseHookAction::None, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.code) + (c.installed ? " on" : " off"));
    const MouseHookDecision d = DecideMouseHookRequest(c.code, c.installed);
    EXPECT_EQ(d.action, c.action);
    EXPECT_EQ(d.handled, c.handled);
  }
}

TEST(HookHostLauncherCommandLine, PidWindowAsSigned32BitAndSwitch) {
  EXPECT_EQ(HookHostCommandLine(L"C:\\p\\h.exe", 42, reinterpret_cast<HWND>(0x10040), true),
            L"\"C:\\p\\h.exe\" 42 65600 0");
  EXPECT_EQ(HookHostCommandLine(L"h.exe", 7, reinterpret_cast<HWND>(0xFFFFFFFE), false),
            L"\"h.exe\" 7 -2 1");
  // What the launcher writes, the host reads back.
  const std::wstring_view args[] = {L"7", L"-2", L"1"};
  EXPECT_EQ(ParseHostCommand(args).window, reinterpret_cast<std::intptr_t>(HWND(-2)));
}

}  // namespace
}  // namespace vm::hookhost
