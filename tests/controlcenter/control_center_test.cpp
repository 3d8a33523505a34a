// The control program as a user runs it: its own process, started with test
// switches, driven by a test double of the hook library's messenger client.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/control_program.h"
#include "common/file_access_mutex.h"
#include "common/names.h"
#include "common/unique_handle.h"
#include "common/value_list.h"
#include "controlcenter/handler_commands.h"
#include "controlcenter/program.h"
#include "hooklib/app/rule_table.h"
#include "tests/controlcenter/test_client.h"
#include "tests/support/child_process.h"
#include "tests/support/message_pump.h"
#include "tests/support/paths.h"

namespace vm::test {
namespace {

using control::HandshakeCode;

constexpr DWORD kBound = 10000;

std::wstring TempFolder() {
  wchar_t path[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, path);
  return path;
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
  for (;;) {
    const std::size_t end = all.find("\r\n", start);
    if (end == std::string::npos) break;
    lines.push_back(all.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

DWORD OwnerOf(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

HWND FindMessageWindowOf(const wchar_t* class_name, DWORD pid) {
  HWND w = nullptr;
  while ((w = FindWindowExW(HWND_MESSAGE, w, class_name, nullptr)) != nullptr) {
    if (OwnerOf(w) == pid) return w;
  }
  return nullptr;
}

HWND FindTopLevelOf(const wchar_t* class_name, DWORD pid) {
  HWND w = nullptr;
  while ((w = FindWindowExW(nullptr, w, class_name, names::kControlCenterHandlerTitle)) !=
         nullptr) {
    if (OwnerOf(w) == pid) return w;
  }
  return nullptr;
}

// The running control program with its own log folder.
class Center {
 public:
  explicit Center(const std::wstring& extra = L"--no-tray") {
    folder_ = TempFolder() + UniqueName(L"vfo_center");
    CreateDirectoryW(folder_.c_str(), nullptr);
    process_ = ChildProcess(BinPath(L"VellmarkFoliantCenter.exe"),
                            L"--config-folder \"" + folder_ + L"\" --no-hook-host " + extra);
    PumpUntil(
        [&] {
          main_server = FindMessageWindowOf(names::kMessengerServerClass, process_.id());
          shell_server = FindMessageWindowOf(names::kMessengerShellServerClass, process_.id());
          handler = FindTopLevelOf(names::kControlCenterHandlerClass, process_.id());
          shell_handler = FindTopLevelOf(names::kShellControlCenterHandlerClass, process_.id());
          return (main_server && shell_server && handler && shell_handler) || !process_.Running();
        },
        kBound);
  }
  ~Center() { process_.Stop(); }
  // Why the program is not ready, when it ended instead.
  std::string Why() {
    if (ready()) return "ready";
    return process_.Running() ? "still starting"
                              : "ended with " + std::to_string(process_.WaitExit(0));
  }

  bool ready() const { return main_server && shell_server && handler && shell_handler; }
  ChildProcess& process() { return process_; }
  std::wstring LogPath() const { return folder_ + L"\\" + names::kEventLogFile; }
  std::wstring RulesPath() const { return folder_ + L"\\WindowRules.txt"; }
  std::vector<std::string> Log() const { return ReadLines(LogPath()); }
  bool WaitForLog(const std::string& needle, DWORD timeout = kBound) const {
    return PumpUntil(
        [&] {
          for (const std::string& line : Log()) {
            if (line.find(needle) != std::string::npos) return true;
          }
          return false;
        },
        timeout);
  }
  DWORD Close() {
    PostMessageW(handler, WM_CLOSE, 0, 0);
    return process_.WaitExit(kBound);
  }

  HWND main_server = nullptr;
  HWND shell_server = nullptr;
  HWND handler = nullptr;
  HWND shell_handler = nullptr;

 private:
  std::wstring folder_;
  ChildProcess process_;
};

std::string Ansi(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out.push_back(static_cast<char>(c));
  return out;
}

std::string UniqueText(const char* stem) {
  return std::string(stem) + "-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(GetTickCount64());
}

bool HasHandshake(const TestClient& c, HandshakeCode code) {
  for (const ClientEvent& e : c.Handshakes()) {
    if (e.code == static_cast<std::uint16_t>(code)) return true;
  }
  return false;
}

// ---- registration, the process handle and the event log ---------------------------

TEST(ControlCenter, ClientRegistersGetsAHandleOfTheProgramAndItsLinesLandInTheLog) {
  Center center(L"--no-tray --log-clients");
  ASSERT_TRUE(center.ready()) << center.Why();
  TestClient client;
  EXPECT_EQ(client.Register(center.main_server), 1);
  // Registered with the main server, the client is told its shell server.
  EXPECT_TRUE(client.WaitFor([&](const TestClient& c) {
    for (const ClientEvent& e : c.Handshakes()) {
      if (e.code == 0 && e.instance == 1 && reinterpret_cast<HWND>(e.lparam) == center.shell_server)
        return true;
    }
    return false;
  }));

  UniqueHandle program(client.RequestProcessHandle(center.main_server));
  ASSERT_TRUE(program);
  EXPECT_EQ(WaitForSingleObject(program.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

  // A line as the library formats it, asking for the result.
  const std::string text = UniqueText("hello");
  const std::uint32_t id =
      client.Send(center.main_server, "EventLogger", 75, "0000ABCD;00001234;" + text, true);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(center.WaitForLog(text));
  const std::regex line_format(
      R"(\d{4}-\d\d-\d\d \d\d.\d\d.\d\d\.\d{3};vfo;1\.0\.1;0000ABCD;00001234;hello-.*)");
  for (const std::string& line : center.Log()) {
    if (line.find(text) != std::string::npos) {
      EXPECT_TRUE(std::regex_match(line, line_format)) << line;
    }
  }
  EXPECT_TRUE(client.WaitFor([&](const TestClient& c) {
    for (const ClientEvent& e : c.Events()) {
      if (auto r = e.AsResult(); r && r->first == id) return true;
    }
    return false;
  }));

  // A line break inside a line cannot forge a second line.
  const std::string forged = UniqueText("forged");
  client.Send(center.main_server, "EventLogger", 75, "00000001;00000002;a\r\n" + forged, false);
  ASSERT_TRUE(center.WaitForLog(forged));
  for (const std::string& line : center.Log()) {
    if (line.find(forged) != std::string::npos) {
      EXPECT_NE(line.find("00000001;00000002;a"), std::string::npos) << line;
    }
  }

  // The line goes through the event log's file mutex: held here, nothing lands.
  const std::string held = UniqueText("held");
  {
    FileAccessMutex lock(center.LogPath());
    ASSERT_TRUE(lock.valid());
    client.Send(center.main_server, "EventLogger", 75, "00000001;00000002;" + held, false);
    // The program waits for the file, but not on its window thread: it goes
    // on serving meanwhile.
    TestClient meanwhile;
    EXPECT_EQ(meanwhile.Register(center.main_server), 1);
    PumpFor(500);
    for (const std::string& line : center.Log()) EXPECT_EQ(line.find(held), std::string::npos);
    lock.Unlock();
  }
  EXPECT_TRUE(center.WaitForLog(held));

  // The program's own lines: its start, the client's registration.
  EXPECT_TRUE(center.WaitForLog(";vfo;1.0.1;ControlCenter;TControlCenter;Succeeded;Start;"));
  EXPECT_TRUE(center.WaitForLog("ControlCenter;TMessengerServer;Succeeded;RegisterClient;process " +
                                std::to_string(GetCurrentProcessId())));

  EXPECT_EQ(center.Close(), 0u);
  EXPECT_EQ(WaitForSingleObject(program.get(), kBound), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_TRUE(center.WaitForLog("ControlCenter;TControlCenter;Succeeded;Exit;WM_CLOSE"));
}

TEST(ControlCenter, WindowRuleReportsOfClientsAreLogged) {
  Center center;
  ASSERT_TRUE(center.ready()) << center.Why();
  TestClient client;
  ASSERT_EQ(client.Register(center.main_server), 1);
  ValueListWriter report;
  report.AddUInt(0x00012345);
  report.AddBytes("C:\\windows\\explorer.exe");
  report.AddBytes("CabinetWClass");
  report.AddBytes("Documents");
  report.AddBytes("Foliant");
  report.AddInt(5);
  ASSERT_NE(client.Send(center.main_server, "", 1, report.bytes(), false), 0u);
  EXPECT_TRUE(center.WaitForLog("TMessengerServer;Succeeded;WindowGotRule;process " +
                                std::to_string(GetCurrentProcessId()) +
                                ", window 00012345, rule \"Foliant\" type 5"));
  EXPECT_EQ(center.Close(), 0u);
}

// ---- the service block and the rule table -----------------------------------------

struct BuiltInRule {
  std::uint32_t size = 0;
  std::uint32_t kind = 0;
  std::uint32_t enabled = 0;
  std::wstring path;
  std::uint32_t next_kind = 99;
};

std::uint32_t Load32(const char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// Reads the table the way the hook library does: size word, then the node
// list with offsets relative to each node.
std::optional<BuiltInRule> ReadRuleTable(std::uint32_t id) {
  UniqueHandle mapping(
      OpenFileMappingW(FILE_MAP_READ, FALSE, control::RuleTableBlockName(id).c_str()));
  if (!mapping) return std::nullopt;
  BuiltInRule rule;
  {
    UniqueMapView head(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 4));
    if (!head) return std::nullopt;
    rule.size = Load32(static_cast<const char*>(head.get()));
  }
  if (rule.size < 4 + 12) return std::nullopt;
  UniqueMapView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, rule.size));
  if (!view) return std::nullopt;
  const char* block = static_cast<const char*>(view.get());
  const char* node = block + 4;
  rule.kind = Load32(node);
  rule.enabled = Load32(node + 12);
  const std::uint32_t text = Load32(node + 16);
  const std::uint32_t next = Load32(node + 8);
  if (4 + text + 4 > rule.size || 4 + next + 12 > rule.size) return std::nullopt;
  const std::uint32_t chars = Load32(node + text);
  if (4 + text + 4 + chars * 2 > rule.size) return std::nullopt;
  for (std::uint32_t i = 0; i < chars; ++i) {
    std::uint16_t unit;
    std::memcpy(&unit, node + text + 4 + 2 * i, 2);
    rule.path.push_back(static_cast<wchar_t>(unit));
  }
  rule.next_kind = Load32(node + next);
  return rule;
}

struct ServiceBlockView {
  std::wstring product_folder;
  std::uint32_t event_log = 0;
  std::uint32_t rule_table_id = 0;
};

std::optional<ServiceBlockView> ReadServiceBlock() {
  UniqueHandle mapping(OpenFileMappingW(FILE_MAP_READ, FALSE, control::kServiceBlockName));
  if (!mapping) return std::nullopt;
  UniqueMapView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, control::kServiceBlockSize));
  if (!view) return std::nullopt;
  const char* p = static_cast<const char*>(view.get());
  ServiceBlockView s;
  for (std::size_t i = 0; i < control::kProductFolderChars; ++i) {
    std::uint16_t unit;
    std::memcpy(&unit, p + 2 * i, 2);
    if (unit == 0) break;
    s.product_folder.push_back(static_cast<wchar_t>(unit));
  }
  s.event_log = Load32(p + control::kServiceEventLogOffset);
  s.rule_table_id = Load32(p + control::kServiceRuleTableIdOffset);
  return s;
}

TEST(ControlCenter, PublishesTheServiceBlockAndTheBuiltInExplorerRule) {
  Center center;
  ASSERT_TRUE(center.ready()) << center.Why();
  const auto service = ReadServiceBlock();
  ASSERT_TRUE(service);
  EXPECT_EQ(service->product_folder, BinDir() + L"\\");
  EXPECT_EQ(service->event_log, 1u);  // "Enabled" is not 0 here
  ASSERT_NE(service->rule_table_id, 0u);
  const auto rule = ReadRuleTable(service->rule_table_id);
  ASSERT_TRUE(rule);
  EXPECT_EQ(rule->kind, 8u);
  EXPECT_EQ(rule->enabled, 1u);
  EXPECT_EQ(rule->path, L"\"" + BinDir() + L"\\VellmarkToolsTabbedContainer64.exe\" -");
  EXPECT_EQ(rule->next_kind, 0u);
  EXPECT_EQ(center.Close(), 0u);
}

// Matches a window against a published table the way the hook library does.
std::optional<hooklib::MatchResult> MatchPublished(std::uint32_t id, const char* file,
                                                   const char* window_class, bool in_explorer) {
  UniqueHandle mapping(
      OpenFileMappingW(FILE_MAP_READ, FALSE, control::RuleTableBlockName(id).c_str()));
  if (!mapping) return std::nullopt;
  std::uint32_t size = 0;
  {
    UniqueMapView head(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 4));
    if (!head) return std::nullopt;
    size = Load32(static_cast<const char*>(head.get()));
  }
  UniqueMapView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, size));
  if (!view) return std::nullopt;
  hooklib::WindowInfo info;
  info.file_name = file;
  info.window_class = window_class;
  info.window_caption = "Untitled";
  hooklib::MatchContext context;
  context.in_explorer = in_explorer;
  return hooklib::MatchWindowRule(
      info, std::span(static_cast<const std::uint8_t*>(view.get()), size), context);
}

void WriteText(const std::wstring& path, const std::string& text) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  ASSERT_TRUE(file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written,
                                nullptr));
}

TEST(ControlCenter, TheRulesFileIsMadeForANewUserAndEditsApplyWithoutARestart) {
  Center center;
  ASSERT_TRUE(center.ready()) << center.Why();
  TestClient client;
  ASSERT_EQ(client.Register(center.main_server), 1);

  // A new user's file holds the built-in rule, switched on.
  const auto first = ReadRuleTable(ReadServiceBlock()->rule_table_id);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->enabled, 1u);
  ASSERT_FALSE(ReadLines(center.RulesPath()).empty()) << "no rules file was made";
  const std::uint32_t before = ReadServiceBlock()->rule_table_id;
  auto folder = MatchPublished(before, "C:\\windows\\explorer.exe", "CabinetWClass", true);
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->info.rule_type, hooklib::RuleType::Foliant);

  // An edit with one rule and one line the reader refuses: the rule applies,
  // the bad line is reported with its number, and every client hears of it.
  const std::size_t commands_before = client.Commands().size();
  WriteText(center.RulesPath(),
            "explorer on\r\n"
            "specific Notes file=*\\NOTEPAD.EXE\r\n"
            "frobnicate everything\r\n");
  ASSERT_TRUE(PumpUntil([&] { return ReadServiceBlock()->rule_table_id != before; }, kBound))
      << "the edit was not published";
  const std::uint32_t edited = ReadServiceBlock()->rule_table_id;
  EXPECT_TRUE(client.WaitFor([&](const TestClient& c) {
    const auto commands = c.Commands();
    return commands.size() > commands_before && commands[commands_before].code == 2;
  }));
  EXPECT_TRUE(center.WaitForLog("TRulesFile;Failed;ReadRules;"));
  EXPECT_TRUE(center.WaitForLog("WindowRules.txt\" line 3: "));
  const auto notes = MatchPublished(edited, "C:\\WINDOWS\\NOTEPAD.EXE", "Notepad", false);
  ASSERT_TRUE(notes);
  EXPECT_EQ(notes->info.rule_type, hooklib::RuleType::Specific);
  EXPECT_EQ(notes->info.name, "Notes");
  folder = MatchPublished(edited, "C:\\windows\\explorer.exe", "CabinetWClass", true);
  ASSERT_TRUE(folder);
  EXPECT_EQ(folder->info.rule_type, hooklib::RuleType::Foliant);

  // "Tabs on" switched off takes the Explorer rule out of service, not the
  // user's own rules.
  PostMessageW(center.handler, WM_COMMAND, controlcenter::kCommandTabsOn, 0);
  ASSERT_TRUE(PumpUntil([&] { return ReadServiceBlock()->rule_table_id != edited; }, kBound));
  const std::uint32_t off = ReadServiceBlock()->rule_table_id;
  EXPECT_EQ(ReadRuleTable(off)->enabled, 0u);
  const auto still = MatchPublished(off, "C:\\WINDOWS\\NOTEPAD.EXE", "Notepad", false);
  ASSERT_TRUE(still);
  EXPECT_EQ(still->info.name, "Notes");
  EXPECT_EQ(center.Close(), 0u);
}

TEST(ControlCenter, TabsOnOffPublishesANewTableAndTellsEveryClientTwoThenFour) {
  Center center;
  ASSERT_TRUE(center.ready()) << center.Why();
  TestClient first, second;
  ASSERT_EQ(first.Register(center.main_server), 1);
  ASSERT_EQ(second.Register(center.main_server), 1);
  std::uint32_t id = ReadServiceBlock()->rule_table_id;

  for (const std::uint32_t enabled : {0u, 1u}) {
    const std::size_t before = first.Commands().size();
    PostMessageW(center.handler, WM_COMMAND, controlcenter::kCommandTabsOn, 0);
    for (TestClient* client : {&first, &second}) {
      ASSERT_TRUE(
          client->WaitFor([&](const TestClient& c) { return c.Commands().size() >= before + 2; }));
      const auto commands = client->Commands();
      ASSERT_EQ(commands.size(), before + 2);
      const auto& two = commands[before];
      const auto& four = commands[before + 1];
      EXPECT_EQ(two.code, 2);
      EXPECT_EQ(two.receiver, "plugins/RuleDispatcher");
      EXPECT_EQ(two.data, "");
      EXPECT_EQ(four.code, 4);
      EXPECT_EQ(four.receiver, "plugins/RuleDispatcher");
      EXPECT_EQ(four.data, "FoliantEnabled");
      EXPECT_NE(two.id, four.id);
    }
    // The table is in place before the clients hear of it.
    const auto service = ReadServiceBlock();
    ASSERT_TRUE(service);
    EXPECT_NE(service->rule_table_id, id);
    id = service->rule_table_id;
    const auto rule = ReadRuleTable(id);
    ASSERT_TRUE(rule);
    EXPECT_EQ(rule->enabled, enabled);
  }
  EXPECT_EQ(center.Close(), 0u);
}

TEST(ControlCenter, EachPluginCommandReachesTheRuleDispatcherOfEveryClient) {
  Center center;
  ASSERT_TRUE(center.ready()) << center.Why();
  TestClient client;
  ASSERT_EQ(client.Register(center.main_server), 1);
  ValueListWriter own_window;
  own_window.AddInt64Low(reinterpret_cast<std::uintptr_t>(client.window()));
  struct Case {
    WPARAM code;
    LPARAM option;
    std::string data;
  } const cases[] = {
      {2, 0, ""},
      {3, 0, ""},
      {4, 0, "FoliantEnabled"},
      {4, 1, "EventLogEnabled"},
      {33, 0, own_window.bytes()},
      {44, 0, ""},
  };
  // A code that is no plug-in command is refused: nothing reaches the client
  // before the command posted after it.
  PostMessageW(center.handler, controlcenter::kMessageSendPluginCommand, 5, 0);
  for (const Case& c : cases) {
    const std::size_t before = client.Commands().size();
    PostMessageW(center.handler, controlcenter::kMessageSendPluginCommand, c.code, c.option);
    ASSERT_TRUE(client.WaitFor([&](const TestClient& t) { return t.Commands().size() > before; }))
        << c.code;
    const auto command = client.Commands()[before];
    EXPECT_EQ(command.code, static_cast<std::int32_t>(c.code));
    EXPECT_EQ(command.receiver, "plugins/RuleDispatcher");
    EXPECT_EQ(command.receiver_window, 0u);
    EXPECT_EQ(command.data, c.data) << c.code;
  }
  EXPECT_EQ(client.Commands().size(), std::size(cases));
  EXPECT_EQ(center.Close(), 0u);
}

// ---- ending, and a second copy -----------------------------------------------------

TEST(ControlCenter, CloseUnregistersEveryClientThenUnloadsAndEndsWithZero) {
  TestClient early;  // a client that was there before the program
  Center center;
  ASSERT_TRUE(center.ready()) << center.Why();
  // It is told its servers.
  EXPECT_TRUE(early.WaitFor([&](const TestClient& c) {
    bool main = false, shell = false;
    for (const ClientEvent& e : c.Handshakes()) {
      if (e.code != 0) continue;
      main |= e.instance == 0 && reinterpret_cast<HWND>(e.lparam) == center.main_server;
      shell |= e.instance == 1 && reinterpret_cast<HWND>(e.lparam) == center.shell_server;
    }
    return main && shell;
  }));
  TestClient a, b;
  ASSERT_EQ(a.Register(center.main_server), 1);
  ASSERT_EQ(b.Register(center.main_server), 1);

  // A second copy ends at once and leaves the first alone.
  ChildProcess second(BinPath(L"VellmarkFoliantCenter.exe"), L"--no-tray");
  EXPECT_EQ(second.WaitExit(kBound), static_cast<DWORD>(controlcenter::kExitAlreadyRunning));
  EXPECT_TRUE(center.process().Running());

  const std::uint32_t table = ReadServiceBlock()->rule_table_id;
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(center.Close(), 0u);
  std::printf("control program ended %llu ms after WM_CLOSE\n", GetTickCount64() - start);
  for (TestClient* client : {&early, &a, &b}) {
    ASSERT_TRUE(client->WaitFor(
        [](const TestClient& c) { return HasHandshake(c, HandshakeCode::Unload); }));
    const auto handshakes = client->Handshakes();
    int unregister_main = -1, unload = -1;
    for (int i = 0; i < static_cast<int>(handshakes.size()); ++i) {
      if (handshakes[i].code == 1 && handshakes[i].instance == 0) unregister_main = i;
      if (handshakes[i].code == 2 && unload < 0) unload = i;
    }
    EXPECT_GE(unregister_main, 0);
    EXPECT_LT(unregister_main, unload);
  }
  // The blocks are gone with it.
  EXPECT_FALSE(ReadServiceBlock());
  EXPECT_FALSE(ReadRuleTable(table));
}

TEST(ControlCenter, TheEndOfTheSessionEndsItLikeClose) {
  Center center;
  ASSERT_TRUE(center.ready()) << center.Why();
  TestClient client;
  ASSERT_EQ(client.Register(center.main_server), 1);
  DWORD_PTR answer = 0;
  ASSERT_TRUE(
      SendMessageTimeoutW(center.handler, WM_QUERYENDSESSION, 0, 0, SMTO_BLOCK, kBound, &answer));
  EXPECT_EQ(answer, 1u);  // the session may end
  SendMessageTimeoutW(center.handler, WM_ENDSESSION, TRUE, 0, SMTO_BLOCK, kBound, &answer);
  EXPECT_EQ(center.process().WaitExit(kBound), 0u);
  ASSERT_TRUE(
      client.WaitFor([](const TestClient& c) { return HasHandshake(c, HandshakeCode::Unload); }));
  EXPECT_TRUE(HasHandshake(client, HandshakeCode::Unregister));
  EXPECT_TRUE(center.WaitForLog("TControlCenter;Succeeded;Exit;end of session"));
}

TEST(ControlCenter, StartsAndEndsWithItsNotificationIcon) {
  Center center(L"");
  ASSERT_TRUE(center.ready()) << center.Why();
  EXPECT_EQ(center.Close(), 0u);
}

TEST(ControlCenter, ALogFileLockedForGoodDoesNotKeepItFromEnding) {
  Center center;
  ASSERT_TRUE(center.ready()) << center.Why();
  TestClient client;
  ASSERT_EQ(client.Register(center.main_server), 1);
  FileAccessMutex lock(center.LogPath());  // a writer that hangs holding the file
  ASSERT_TRUE(lock.valid());
  client.Send(center.main_server, "EventLogger", 75, "00000001;00000002;locked out", false);
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(center.Close(), 0u);
  std::printf("ended %llu ms after WM_CLOSE with the log file locked\n", GetTickCount64() - start);
  EXPECT_TRUE(
      HasHandshake(client, HandshakeCode::Unload) ||
      client.WaitFor([](const TestClient& c) { return HasHandshake(c, HandshakeCode::Unload); }));
  lock.Unlock();
}

// ---- untrusted input and hung clients -----------------------------------------------

std::string Item(std::uint32_t count, std::string_view bytes) {
  std::string out(4, '\0');
  std::memcpy(out.data(), &count, 4);
  out.append(bytes);
  return out;
}

TEST(ControlCenter, HostileBodiesAndHandshakesLeaveItAliveAndAnswering) {
  Center center(L"--no-tray --log-clients");
  ASSERT_TRUE(center.ready()) << center.Why();
  TestClient client;
  ASSERT_EQ(client.Register(center.main_server), 1);

  const std::string id_item = Item(4, std::string("\x01\x00\x00\x00", 4));
  struct Case {
    const char* name;
    ULONG_PTR kind;
    std::string body;
    bool null_data;
  };
  const Case cases[] = {
      {"empty, no data", 1, "", true},
      {"shorter than a count", 1, "\x01\x02\x03", false},
      {"id with a count of 3", 1, Item(3, "abc"), false},
      {"receiver count past the end", 1, id_item + Item(100, "Event"), false},
      {"count near 2^32", 1, id_item + Item(0xFFFFFFF0u, "x"), false},
      {"truncated after the command", 1,
       id_item + Item(11, "EventLogger") + Item(4, std::string("\x4B\0\0\0", 4)), false},
      {"unknown kind", 7, id_item, false},
      {"a server's command kind", 2, id_item, false},
  };
  for (const Case& c : cases) {
    COPYDATASTRUCT cds{c.kind, static_cast<DWORD>(c.body.size()),
                       c.null_data ? nullptr : const_cast<char*>(c.body.data())};
    DWORD_PTR answer = 99;
    EXPECT_TRUE(SendMessageTimeoutW(center.main_server, WM_COPYDATA,
                                    reinterpret_cast<WPARAM>(client.window()),
                                    reinterpret_cast<LPARAM>(&cds), SMTO_BLOCK, kBound, &answer))
        << c.name;
    EXPECT_EQ(answer, 0u) << c.name;
  }
  // Also cbData 0 with lpData null as a bare WM_COPYDATA to the shell server.
  COPYDATASTRUCT empty{1, 0, nullptr};
  DWORD_PTR answer = 99;
  EXPECT_TRUE(SendMessageTimeoutW(center.shell_server, WM_COPYDATA, 0,
                                  reinterpret_cast<LPARAM>(&empty), SMTO_BLOCK, kBound, &answer));

  // Handshakes with nonsense: no window to register, a handle for a process
  // that is no client.
  DWORD_PTR registered = 99;
  const UINT handshake = RegisterWindowMessageW(names::kHandshakeMessage);
  EXPECT_TRUE(SendMessageTimeoutW(center.main_server, handshake, 4, 0x7FFF0001, SMTO_BLOCK, kBound,
                                  &registered));
  EXPECT_EQ(registered, 0u);
  EXPECT_EQ(client.RequestProcessHandle(center.main_server, 0x7FFFFFF0), nullptr);
  // The refusal answer of a readable id reaches the waiting client.
  EXPECT_TRUE(client.WaitFor([](const TestClient& c) {
    for (const ClientEvent& e : c.Events()) {
      if (auto r = e.AsResult(); r && r->first == 1) return true;
    }
    return false;
  }));

  // A result goes only to a window of the process the body names: a body
  // naming another process gets no answer sent to our window.
  auto body_from = [](std::uint32_t id, DWORD pid) {
    ValueListWriter w;
    w.AddUInt(id);
    w.AddBytes("EventLogger");
    w.AddInt(75);
    w.AddBytes("00000001;00000002;pid check");
    w.AddUInt(pid);
    return w.Take();
  };
  for (const auto& [id, pid] : {std::pair<std::uint32_t, DWORD>{77, GetCurrentProcessId() + 4},
                                std::pair<std::uint32_t, DWORD>{78, GetCurrentProcessId()}}) {
    const std::string body = body_from(id, pid);
    COPYDATASTRUCT cds{1, static_cast<DWORD>(body.size()), const_cast<char*>(body.data())};
    EXPECT_TRUE(SendMessageTimeoutW(center.main_server, WM_COPYDATA,
                                    reinterpret_cast<WPARAM>(client.window()),
                                    reinterpret_cast<LPARAM>(&cds), SMTO_BLOCK, kBound, &answer));
  }
  auto has_result = [](const TestClient& c, std::uint32_t id) {
    for (const ClientEvent& e : c.Events()) {
      if (auto r = e.AsResult(); r && r->first == id) return true;
    }
    return false;
  };
  EXPECT_TRUE(client.WaitFor([&](const TestClient& c) { return has_result(c, 78); }));
  EXPECT_FALSE(has_result(client, 77));  // answers go out in order: 77 would be here by now

  // Still serving.
  EXPECT_TRUE(center.process().Running());
  TestClient later;
  EXPECT_EQ(later.Register(center.main_server), 1);
  const std::string text = UniqueText("still-alive");
  later.Send(center.main_server, "EventLogger", 75, "00000001;00000002;" + text, false);
  EXPECT_TRUE(center.WaitForLog(text));
  EXPECT_TRUE(center.WaitForLog("TMessengerServer;Failed;Receive;malformed body"));
  EXPECT_EQ(center.Close(), 0u);
}

TEST(ControlCenter, AHungClientDoesNotHoldTheProgram) {
  Center center;
  ASSERT_TRUE(center.ready()) << center.Why();
  TestClient hung, healthy;
  ASSERT_EQ(hung.Register(center.main_server), 1);
  ASSERT_EQ(healthy.Register(center.main_server), 1);
  hung.Hang(6000);

  const ULONGLONG start = GetTickCount64();
  PostMessageW(center.handler, WM_COMMAND, controlcenter::kCommandTabsOn, 0);
  ASSERT_TRUE(healthy.WaitFor([](const TestClient& c) { return c.Commands().size() >= 2; }));
  std::printf("healthy client told after %llu ms beside a hung one\n", GetTickCount64() - start);
  // The program answers a new client while the hung one still sleeps.
  TestClient newcomer;
  EXPECT_EQ(newcomer.Register(center.main_server), 1);
  // And ends without waiting for it.
  EXPECT_EQ(center.Close(), 0u);
}

// ---- the command line ------------------------------------------------------------------

struct Captured {
  DWORD exit_code = STILL_ACTIVE;
  std::string output;
};

Captured RunCaptured(const std::wstring& arguments) {
  Captured result;
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE read = nullptr, write = nullptr;
  if (!CreatePipe(&read, &write, &inherit, 1 << 16)) return result;
  SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
  std::wstring command = L"\"" + BinPath(L"VellmarkFoliantCenter.exe") + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write;
  startup.hStdError = write;
  PROCESS_INFORMATION info{};
  const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &info);
  CloseHandle(write);
  if (started) {
    if (WaitForSingleObject(info.hProcess, kBound) == WAIT_OBJECT_0) {
      GetExitCodeProcess(info.hProcess, &result.exit_code);
    } else {
      TerminateProcess(info.hProcess, 99);
    }
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(read, buffer, sizeof(buffer), &n, nullptr) && n > 0)
      result.output.append(buffer, n);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
  }
  CloseHandle(read);
  return result;
}

TEST(ControlCenter, CommandLineIsCheckedBeforeAnythingStarts) {
  struct Case {
    const wchar_t* arguments;
    DWORD exit_code;
    const char* says;
  } const cases[] = {
      {L"--bogus", 2, "unknown argument: --bogus"},
      {L"--config-folder", 2, "--config-folder needs a path"},
      {L"--no-tray --rules-file", 2, "--rules-file needs a path"},
      {L"--help", 0, "--config-folder <path>"},
  };
  for (const Case& c : cases) {
    const Captured r = RunCaptured(c.arguments);
    EXPECT_EQ(r.exit_code, c.exit_code) << Ansi(c.arguments);
    EXPECT_NE(r.output.find(c.says), std::string::npos) << Ansi(c.arguments) << ": " << r.output;
  }
  // None of them left a program behind.
  EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, names::kMessengerServerClass, nullptr), nullptr);
}

}  // namespace
}  // namespace vm::test
