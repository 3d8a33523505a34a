// The messenger client in a process of its own (the client fixture, entered
// by the library's message hook like any hooked process) against stand-ins
// for the control program's servers: in this process, or in a helper
// process the test kills to play the control program's end.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/value_list.h"
#include "tests/messenger/fixtures/fixture_protocol.h"
#include "tests/messenger/server_double.h"
#include "tests/support/child_process.h"
#include "tests/support/message_pump.h"
#include "tests/support/paths.h"

namespace vm::test {
namespace {

using namespace messenger_fixture;

struct Posted {
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};
std::vector<Posted> g_posted;

LRESULT CALLBACK RecorderProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == kPluginCommand || m == kServerMessage || m == kServerRegister) {
    g_posted.push_back({m, wp, lp});
    return 0;
  }
  return DefWindowProcW(w, m, wp, lp);
}

// The test's window the fixtures report to.
class Recorder {
 public:
  Recorder() {
    g_posted.clear();
    WNDCLASSW wc{};
    wc.lpfnWndProc = &RecorderProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"vm_messenger_test_recorder";
    RegisterClassW(&wc);
    wnd_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           wc.hInstance, nullptr);
  }
  ~Recorder() { DestroyWindow(wnd_); }
  HWND wnd() const { return wnd_; }
  std::wstring Argument() const { return std::to_wstring(reinterpret_cast<LONG_PTR>(wnd_)); }
  // Plug-in command codes in the order they arrived.
  static std::vector<int> PluginCommands() {
    std::vector<int> out;
    for (const auto& p : g_posted)
      if (p.message == kPluginCommand) out.push_back(static_cast<int>(p.wparam));
    return out;
  }
  static std::vector<Posted> Of(UINT message) {
    std::vector<Posted> out;
    for (const auto& p : g_posted)
      if (p.message == message) out.push_back(p);
    return out;
  }

 private:
  HWND wnd_ = nullptr;
};

DWORD ProcessOf(HWND w) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  return pid;
}

// The fixture's client window, from its Handshake 4 to the server double.
HWND ClientWindowOf(ServerDouble& server, DWORD pid) {
  for (const auto& r : server.Records()) {
    const HWND w = reinterpret_cast<HWND>(r.lparam);
    if (r.kind == ServerRecord::Register && IsWindow(w) && ProcessOf(w) == pid) return w;
  }
  return nullptr;
}

std::string Item(const std::string& bytes) {
  ValueListWriter w;
  w.AddBytes(bytes);
  return w.Take();
}
std::string Int(std::int32_t v) {
  ValueListWriter w;
  w.AddInt(v);
  return w.Take();
}
// A bare byte count, little-endian, for items that lie about their size.
std::string Count(std::uint32_t n) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(n >> (8 * i));
  return bytes;
}

// A command for the fixture's recording plug-in.
std::string Command(std::int32_t code, const std::string& receiver = "plugins/Recorder") {
  return Int(1) + Int(0) + Item(receiver) + Int(code) + Item("data");
}

bool SendCopy(HWND to, ULONG_PTR dw_data, const std::string* body, DWORD_PTR* answer) {
  COPYDATASTRUCT cds{dw_data, body ? static_cast<DWORD>(body->size()) : 0,
                     body ? const_cast<char*>(body->data()) : nullptr};
  return SendMessageTimeoutW(to, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG,
                             5000, answer) != 0;
}

TEST(MessengerProcess, AHookedProcessRegistersSendsEventLinesAndSurvivesHostileBodies) {
  Recorder recorder;
  ServerDouble server;
  ChildProcess fixture(TestPath(L"messenger_client_fixture.exe"), recorder.Argument());
  ASSERT_TRUE(fixture.started());

  // Resumed by the message hook (well before the 10 s fallback could), the
  // client registers: Handshake 4 with its window, answered 1, and the
  // plug-ins hear it (command 33).
  HWND client = nullptr;
  ASSERT_TRUE(
      PumpUntil([&] { return (client = ClientWindowOf(server, fixture.id())) != nullptr; }, 8000))
      << "no Handshake 4 from the fixture before the fallback's 10 s";
  wchar_t class_name[64] = {};
  GetClassNameW(client, class_name, 64);
  EXPECT_STREQ(class_name, L"vfo_MessengerClientWindow");
  ASSERT_TRUE(PumpUntil([&] { return !Recorder::PluginCommands().empty(); }));
  EXPECT_EQ(Recorder::PluginCommands(), std::vector<int>{33});
  EXPECT_EQ(static_cast<DWORD>(Recorder::Of(kPluginCommand)[0].lparam),
            GetWindowThreadProcessId(client, nullptr))
      << "plug-in commands run on the client thread";

  // Its event line.
  ServerRecord line;
  ASSERT_TRUE(PumpUntil([&] {
    for (const auto& r : server.Records())
      if (r.kind == ServerRecord::CopyData && r.process_id == fixture.id()) line = r;
    return line.parsed;
  }));
  char expected_prefix[32];
  std::snprintf(expected_prefix, sizeof(expected_prefix), "%08lX;", fixture.id());
  EXPECT_EQ(line.receiver, "EventLogger");
  EXPECT_EQ(line.code, 75);
  EXPECT_EQ(line.data.rfind(expected_prefix, 0), 0u) << line.data;
  EXPECT_EQ(line.data.size(), 18 + std::string("registered").size()) << line.data;
  EXPECT_EQ(line.data.substr(18), "registered");

  // Bodies any process may send: each is acknowledged with 1 and changes nothing.
  const std::string big(65536, '\xFF');
  const std::string full = Command(78);
  struct Case {
    const char* what;
    ULONG_PTR dw_data;
    std::string body;
    bool null_data;
  } cases[] = {
      {"result, cbData 0, lpData null", 1, "", true},
      {"command, cbData 0, lpData null", 2, "", true},
      {"unknown, cbData 0, lpData null", 0x77, "", true},
      {"three bytes", 2, std::string("\x04\x00\x00", 3), false},
      {"id with a count past the end", 2, Count(0x7FFFFFF0) + "abcd", false},
      {"count 0xFFFFFFFF", 1, Count(0xFFFFFFFF), false},
      {"id of 3 bytes", 2, Item("abc"), false},
      {"receiver count past the end", 2, Int(1) + Int(0) + Count(1000) + "plugins/Recorder", false},
      {"command cut one byte short", 2, full.substr(0, full.size() - 1), false},
      {"command without its data", 2, Int(1) + Int(0) + Item("plugins/Recorder") + Int(78), false},
      {"window item of 8 bytes", 2,
       Int(1) + Item("12345678") + Item("plugins/Recorder") + Int(78) + Item(""), false},
      {"result for an id never sent", 1, Int(12345) + Item("r"), false},
      {"unknown dwData", 0xDEADBEEF, Command(78), false},
      {"64 KB of 0xFF", 2, big, false},
      {"receiver of high bytes", 2, Command(78, "plugins/\xFF\xFE\x80"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DWORD_PTR answer = 0;
    EXPECT_TRUE(SendCopy(client, c.dw_data, c.null_data ? nullptr : &c.body, &answer));
    EXPECT_EQ(answer, 1u);
  }
  // Still alive, and still carrying out a well-formed command.
  DWORD_PTR answer = 0;
  const std::string good = Command(77);
  EXPECT_TRUE(SendCopy(client, 2, &good, &answer));
  ASSERT_TRUE(PumpUntil([&] { return Recorder::PluginCommands().size() == 2; }));
  EXPECT_EQ(Recorder::PluginCommands(), (std::vector<int>{33, 77}));
  EXPECT_TRUE(fixture.Running());
  EXPECT_TRUE(IsWindow(client));
}

TEST(MessengerProcess, WhenTheControlProgramEndsPluginsGet3Then44AndANewOneRestartsTheClient) {
  Recorder recorder;
  auto server = std::make_unique<ChildProcess>(TestPath(L"messenger_server_fixture.exe"),
                                               recorder.Argument());
  ASSERT_TRUE(server->started());
  HWND server_wnd = nullptr;
  ASSERT_TRUE(PumpUntil(
      [&] {
        server_wnd = FindWindowExW(HWND_MESSAGE, nullptr, L"vfo_MessengerServerWindow", nullptr);
        return server_wnd != nullptr && ProcessOf(server_wnd) == server->id();
      },
      20000));

  ChildProcess fixture(TestPath(L"messenger_client_fixture.exe"), recorder.Argument());
  ASSERT_TRUE(fixture.started());
  ASSERT_TRUE(PumpUntil([&] { return Recorder::Of(kServerMessage).size() == 1; }, 20000))
      << "no event line from the registered client";
  ASSERT_EQ(Recorder::PluginCommands(), std::vector<int>{33});
  const DWORD first_thread = static_cast<DWORD>(Recorder::Of(kPluginCommand)[0].lparam);
  const auto first_line = Recorder::Of(kServerMessage)[0];
  EXPECT_EQ(first_line.wparam, 75u);

  // The control program ends.
  server->Stop();
  ASSERT_TRUE(PumpUntil([&] { return Recorder::PluginCommands().size() == 3; }, 20000));
  EXPECT_EQ(Recorder::PluginCommands(), (std::vector<int>{33, 3, 44}));
  for (const auto& p : Recorder::Of(kPluginCommand))
    EXPECT_EQ(static_cast<DWORD>(p.lparam), first_thread);
  EXPECT_TRUE(fixture.Running());

  // A new control program: the fixture's next hook call restarts the client,
  // whose new thread registers and goes on with the same ids.
  server = std::make_unique<ChildProcess>(TestPath(L"messenger_server_fixture.exe"),
                                          recorder.Argument());
  ASSERT_TRUE(server->started());
  ASSERT_TRUE(PumpUntil([&] { return Recorder::Of(kServerMessage).size() == 2; }, 30000))
      << "the client did not come back";
  EXPECT_EQ(Recorder::PluginCommands(), (std::vector<int>{33, 3, 44, 33}));
  const DWORD second_thread = static_cast<DWORD>(Recorder::Of(kPluginCommand)[3].lparam);
  EXPECT_NE(second_thread, first_thread) << "a new client thread";
  EXPECT_EQ(static_cast<std::uint32_t>(Recorder::Of(kServerMessage)[1].lparam),
            static_cast<std::uint32_t>(first_line.lparam) + 1);
  EXPECT_EQ(Recorder::Of(kServerRegister).size(), 2u);
  server->Stop();
}

}  // namespace
}  // namespace vm::test
