// The event-log writer against real files and registry values: where the
// lines go for each "ConfigFilesLocation", the "Enabled" switch, the error
// text of a failure, and two processes writing at once. Every registry value
// a case changes is put back as it was.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <map>
#include <regex>
#include <string>
#include <vector>

#include "common/event_log.h"
#include "common/names.h"
#include "tests/support/child_process.h"
#include "tests/support/paths.h"

namespace vm::test {
namespace {

constexpr DWORD kBound = 60000;

// Saves a value under HKCU and puts it back (or deletes it) on the way out.
class SavedValue {
 public:
  SavedValue(const wchar_t* key, const wchar_t* value) : key_(key), value_(value) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &k) == ERROR_SUCCESS) {
      DWORD size = 0;
      if (RegQueryValueExW(k, value, nullptr, &type_, nullptr, &size) == ERROR_SUCCESS) {
        data_.resize(size);
        existed_ =
            RegQueryValueExW(k, value, nullptr, &type_, data_.data(), &size) == ERROR_SUCCESS;
      }
      RegCloseKey(k);
    }
  }
  ~SavedValue() {
    HKEY k = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k,
                        nullptr) != ERROR_SUCCESS)
      return;
    if (existed_) {
      RegSetValueExW(k, value_, 0, type_, data_.data(), static_cast<DWORD>(data_.size()));
    } else {
      RegDeleteValueW(k, value_);
    }
    RegCloseKey(k);
  }
  void SetString(const std::wstring& text) const {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key_, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(k, value_, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
  }
  void SetDword(DWORD v) const {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key_, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(k, value_, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof(v));
    RegCloseKey(k);
  }
  void Delete() const {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key_, 0, KEY_SET_VALUE, &k) != ERROR_SUCCESS) return;
    RegDeleteValueW(k, value_);
    RegCloseKey(k);
  }

 private:
  const wchar_t* key_;
  const wchar_t* value_;
  bool existed_ = false;
  DWORD type_ = REG_NONE;
  std::vector<BYTE> data_;
};

bool MachineHasLocation() {
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, names::kProductKey, 0, KEY_READ, &k) != ERROR_SUCCESS)
    return false;
  const bool has = RegQueryValueExW(k, names::kConfigFilesLocationValue, nullptr, nullptr, nullptr,
                                    nullptr) == ERROR_SUCCESS;
  RegCloseKey(k);
  return has;
}

std::wstring AppData() {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

std::wstring PerUserFolder() { return AppData() + L"\\Vellmark Tools\\Vellmark Foliant\\"; }

std::wstring TempPath() {
  wchar_t path[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, path);
  return path;
}

bool IsDirectory(const std::wstring& p) {
  const DWORD a = GetFileAttributesW(p.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::vector<std::string> lines;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return lines;
  std::string all;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
    all.append(buffer, read);
  CloseHandle(file);
  std::size_t start = 0;
  for (std::size_t end; (end = all.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(all.substr(start, end - start));
  }
  return lines;
}

bool FileHasText(const std::wstring& path, const std::string& text) {
  for (const std::string& line : ReadLines(path)) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

std::string Unique(const char* stem) {
  return std::string(stem) + "-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(GetTickCount64());
}

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::wstring NewFolder() {
  std::wstring folder = TempPath() + UniqueName(L"vfo_log") + L"\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

class EventLog : public ::testing::Test {
 protected:
  SavedValue location_{names::kProductKey, names::kConfigFilesLocationValue};
  SavedValue enabled_{names::kEventLoggerKey, names::kEnabledValue};
  void SetUp() override {
    enabled_.Delete();
    eventlog::SetAlternativeConfigFolder(L"");
  }
};

TEST_F(EventLog, WhereTheLinesGoForEachConfigFilesLocation) {
  if (MachineHasLocation()) GTEST_SKIP() << "HKLM names a folder on this machine";

  // No value anywhere: the per-user folder, both levels created when missing.
  location_.Delete();
  RemoveDirectoryW((AppData() + L"\\Vellmark Tools\\Vellmark Foliant").c_str());  // only if empty
  RemoveDirectoryW((AppData() + L"\\Vellmark Tools").c_str());
  EXPECT_EQ(eventlog::ResolveConfigFolder(), PerUserFolder());
  EXPECT_TRUE(IsDirectory(PerUserFolder()));
  const std::string first = Unique("per-user");
  eventlog::SetConfigFolder(PerUserFolder());
  eventlog::WriteEventLine(Wide(first));
  EXPECT_TRUE(FileHasText(PerUserFolder() + names::kEventLogFile, first));

  // "1": the alternative folder, which we never know: the temp folder's file.
  location_.SetString(L"1");
  EXPECT_EQ(eventlog::ResolveConfigFolder(), L"");
  EXPECT_EQ(eventlog::LogFilePathFor(L""), TempPath() + names::kInitErrorsLogFile);
  const std::string second = Unique("init-errors");
  eventlog::SetConfigFolder(L"");
  eventlog::WriteEventLine(Wide(second));
  EXPECT_TRUE(FileHasText(TempPath() + names::kInitErrorsLogFile, second));

  // A folder that does not exist: the per-user folder again.
  location_.SetString(L"C:\\no\\such\\folder\\" + UniqueName(L"x"));
  EXPECT_EQ(eventlog::ResolveConfigFolder(), PerUserFolder());

  // An existing folder, named without its backslash.
  std::wstring own = NewFolder();
  location_.SetString(own.substr(0, own.size() - 1));
  EXPECT_EQ(eventlog::ResolveConfigFolder(), own);
}

TEST_F(EventLog, EnabledZeroWritesNothingAndDeletingItTurnsTheLogOn) {
  const std::wstring folder = NewFolder();
  eventlog::SetConfigFolder(folder);
  const std::wstring file = folder + names::kEventLogFile;

  enabled_.SetDword(0);
  const std::string off = Unique("off");
  eventlog::LogEvent(L"Test", L"TCase", L"Op", Wide(off), true);
  EXPECT_FALSE(FileHasText(file, off));

  enabled_.Delete();
  const std::string on = Unique("on");
  eventlog::LogEvent(L"Test", L"TCase", L"Op", Wide(on), true);
  EXPECT_TRUE(FileHasText(file, "Test;TCase;Succeeded;Op;" + on));
}

TEST_F(EventLog, AFailureEndsWithTheCodeAndTheSystemTextWithoutAFullStop) {
  const std::wstring folder = NewFolder();
  eventlog::SetConfigFolder(folder);
  const std::string detail = Unique("failed");
  eventlog::LogEvent(L"Test", L"TCase", L"LoadLibrary", Wide(detail), false, 0x7E);
  const auto lines = ReadLines(folder + names::kEventLogFile);
  ASSERT_FALSE(lines.empty());
  const std::string& line = lines.back();
  const std::string marker = ";Failed;LoadLibrary;" + detail + ";$0000007E-";
  const std::size_t at = line.find(marker);
  ASSERT_NE(at, std::string::npos) << line;
  const std::string text = line.substr(at + marker.size());
  // The system's own text for the code, trimmed.
  char system[512] = {};
  FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 0x7E, 0,
                 system, sizeof(system), nullptr);
  std::string expected = system;
  while (!expected.empty() &&
         (static_cast<unsigned char>(expected.back()) <= ' ' || expected.back() == '.'))
    expected.pop_back();
  EXPECT_FALSE(expected.empty());
  EXPECT_EQ(text, expected);
  ASSERT_FALSE(text.empty());
  EXPECT_NE(text.back(), '.');
}

TEST_F(EventLog, TwoProcessesWritingAThousandLinesEachNeverInterleaveOrLoseOne) {
  const std::wstring folder = NewFolder();
  const std::wstring go_name = UniqueName(L"vfo_log_go");
  HANDLE go = CreateEventW(nullptr, TRUE, FALSE, go_name.c_str());
  ASSERT_NE(go, nullptr);
  constexpr int kLines = 1000;
  auto command = [&](const wchar_t* tag) {
    // Without its backslash: "\\\"" would escape the closing quote.
    return L"\"" + folder.substr(0, folder.size() - 1) + L"\" " + tag + L" " +
           std::to_wstring(kLines) + L" " + go_name;
  };
  ChildProcess a(TestPath(L"vm_event_log_writer.exe"), command(L"A"));
  ChildProcess b(TestPath(L"vm_event_log_writer.exe"), command(L"B"));
  ASSERT_TRUE(a.started() && b.started());
  const ULONGLONG start = GetTickCount64();
  SetEvent(go);
  EXPECT_EQ(a.WaitExit(kBound), 0u);
  EXPECT_EQ(b.WaitExit(kBound), 0u);
  std::printf("2 x %d lines in %llu ms\n", kLines, GetTickCount64() - start);
  CloseHandle(go);

  const std::regex format(R"(\d{4}-\d\d-\d\d \d\d.\d\d.\d\d\.\d{3};vfo;1\.0\.1;([AB]);(\d+))");
  std::map<std::string, int> next;
  const auto lines = ReadLines(folder + names::kEventLogFile);
  int switches = 0;  // how often the file changes writer: shows the two really ran at once
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].back() != lines[i - 1].back() && lines[i].find(";A;") != lines[i - 1].find(";A;"))
      ++switches;
  }
  std::printf("the writers took turns %d times\n", switches);
  EXPECT_EQ(lines.size(), 2u * kLines);
  for (const std::string& line : lines) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, format)) << line;
    EXPECT_EQ(std::stoi(m[2]), next[m[1]]++) << line;  // each writer's lines in order, none lost
  }
  EXPECT_EQ(next["A"], kLines);
  EXPECT_EQ(next["B"], kLines);
}

}  // namespace
}  // namespace vm::test
