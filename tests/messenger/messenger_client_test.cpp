// The messenger client in the test process, against a stand-in for the
// control program's messenger servers (the real control program is built
// elsewhere): registration and the Handshake codes, the queue and its ids,
// results and failures, the client's own thread states, event lines, and a
// hung server that must fail a send quickly while a busy one still gets it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "common/value_list.h"
#include "hooklib/messenger/event_line.h"
#include "hooklib/messenger/messenger_client.h"
#include "hooklib/messenger/messenger_protocol.h"
#include "tests/hooklib/test_support.h"
#include "tests/messenger/server_double.h"
#include "tests/support/message_pump.h"

namespace vm::hooklib {
namespace {

using framework::MakeCom;
using framework::siMain;
using framework::siShell;
using test::PumpUntil;
using test::ServerDouble;
using test::ServerRecord;

// Records what the client tells the application, on whatever thread.
class RecordingDispatcher : public test::FakeUnknown<IServerMessageDispatcher> {
 public:
  void STDMETHODCALLTYPE OnMessageFromServer(HWND wnd, std::wstring_view receiver, int code,
                                             std::string_view data) noexcept override {
    Add("message " + std::string(receiver.begin(), receiver.end()) + " " + std::to_string(code) +
        " " + std::string(data) + " " + std::to_string(reinterpret_cast<LONG_PTR>(wnd)));
  }
  void STDMETHODCALLTYPE OnClientRegistered(HWND wnd, ServerInstance instance) noexcept override {
    last_client_wnd = wnd;
    Add("registered " + std::to_string(instance));
  }
  void STDMETHODCALLTYPE OnClientUnregistered(ServerInstance instance) noexcept override {
    Add("unregistered " + std::to_string(instance));
  }
  void STDMETHODCALLTYPE OnUnloading() noexcept override { Add("unloading"); }

  std::vector<std::string> Log() {
    std::lock_guard lock(lock_);
    return log_;
  }
  void Clear() {
    std::lock_guard lock(lock_);
    log_.clear();
  }
  bool Has(const std::string& entry) {
    for (const auto& e : Log())
      if (e == entry) return true;
    return false;
  }
  std::atomic<HWND> last_client_wnd{nullptr};

 private:
  void Add(std::string entry) {
    std::lock_guard lock(lock_);
    log_.push_back(std::move(entry));
  }
  std::mutex lock_;
  std::vector<std::string> log_;
};

class RecordingSender : public test::FakeUnknown<IMessageSender> {
 public:
  void STDMETHODCALLTYPE OnMessageProcessed(int code, std::int64_t data_id,
                                            std::string_view result) noexcept override {
    std::lock_guard lock(lock_);
    log_.push_back("processed " + std::to_string(code) + " " + std::to_string(data_id) + " " +
                   std::string(result));
    at_ = GetTickCount64();
  }
  void STDMETHODCALLTYPE OnSendMessageFailed(int code, std::int64_t data_id) noexcept override {
    std::lock_guard lock(lock_);
    log_.push_back("failed " + std::to_string(code) + " " + std::to_string(data_id));
    at_ = GetTickCount64();
  }
  std::vector<std::string> Log() {
    std::lock_guard lock(lock_);
    return log_;
  }
  ULONGLONG at() {
    std::lock_guard lock(lock_);
    return at_;
  }

 private:
  std::mutex lock_;
  std::vector<std::string> log_;
  ULONGLONG at_ = 0;
};

std::vector<ServerRecord> CopiesOf(ServerDouble& server) {
  std::vector<ServerRecord> out;
  for (const auto& r : server.Records())
    if (r.kind == ServerRecord::CopyData) out.push_back(r);
  return out;
}

size_t RegistrationsOf(ServerDouble& server) {
  size_t n = 0;
  for (const auto& r : server.Records()) n += r.kind == ServerRecord::Register;
  return n;
}

std::wstring ClassOf(HWND w) {
  wchar_t name[128] = {};
  GetClassNameW(w, name, 128);
  return name;
}

class MessengerClientTest : public ::testing::Test {
 protected:
  void TearDown() override { EndClient(); }

  // A client as the library makes it, but not published as the library's
  // messenger unless asked; its thread stays suspended until resumed.
  void MakeClient(bool publish = false, MessengerTimings timings = {}) {
    client_ = MakeCom<MessengerClient>(timings);
    ASSERT_TRUE(client_);
    client_->RegisterServerMessageDispatcher(&dispatcher_);
    client_->Start(publish);
    published_ = publish;
  }
  // Resumed as the message hook does it; true once the client waits.
  bool RunClient() {
    client_->ResumeClientThread();
    return PumpUntil([&] { return client_->GetState() == msWaiting; }, 10000);
  }
  // The thread ends as on the control program's unload order.
  void EndClient() {
    if (!client_) return;
    if (const HWND wnd = client_->GetWnd()) {
      DWORD_PTR answer = 0;
      SendMessageTimeoutW(wnd, HandshakeMessage(), 2, 0, SMTO_ABORTIFHUNG, 5000, &answer);
    }
    if (client_->GetState() == msSuspended) client_->ResumeClientThread();
    EXPECT_TRUE(PumpUntil([&] { return client_->GetState() == msNoThread; }, 10000));
    client_->UnregisterServerMessageDispatcher();
    if (published_) SetMessenger(nullptr);
    client_.Reset();
  }

  RecordingDispatcher dispatcher_;
  ComPtr<MessengerClient> client_;
  bool published_ = false;
};

TEST_F(MessengerClientTest, RegistersAndDeliversWhatWasQueuedBeforeItsWindowWithItsId) {
  ServerDouble server;
  const DWORD tick_before = GetTickCount();
  MakeClient();
  const DWORD tick_after = GetTickCount();
  const std::uint32_t first = client_->NextMessageId();
  EXPECT_GE(first, tick_before);
  EXPECT_LE(first, tick_after);
  EXPECT_EQ(client_->GetState(), msSuspended);
  EXPECT_TRUE(client_->IsActive()) << "a server window existed when the client was made";
  EXPECT_EQ(client_->GetServerProcessId(), GetCurrentProcessId());
  EXPECT_EQ(client_->GetServerThreadId(), server.thread_id());

  client_->SendMessage(L"Before", 7, std::string_view("abc"), 0, nullptr, siMain);
  EXPECT_EQ(client_->PendingCount(), 1u);
  EXPECT_EQ(client_->GetWnd(), nullptr);
  ASSERT_TRUE(RunClient());

  const HWND wnd = client_->GetWnd();
  ASSERT_NE(wnd, nullptr);
  EXPECT_EQ(ClassOf(wnd), L"vfo_MessengerClientWindow");
  EXPECT_EQ(ClassOf(GetAncestor(wnd, GA_PARENT)), L"Message") << "a message-only window";
  char title[MAX_PATH] = {};
  GetWindowTextA(wnd, title, MAX_PATH);
  EXPECT_NE(std::string(title).find("messenger_client_test.exe"), std::string::npos) << title;
  EXPECT_NE(client_->GetClientThreadId(), GetCurrentThreadId());

  // Handshake 4 with the client window, answered 1.
  const auto records = server.Records();
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records[0].kind, ServerRecord::Register);
  EXPECT_EQ(reinterpret_cast<HWND>(records[0].lparam), wnd);
  EXPECT_TRUE(dispatcher_.Has("registered 0"));
  EXPECT_EQ(dispatcher_.last_client_wnd.load(), wnd);

  client_->SendMessage(L"After", 8, std::wstring_view(L"text"), 0, nullptr, siMain);
  ASSERT_TRUE(PumpUntil([&] { return CopiesOf(server).size() == 2; }));
  const auto copies = CopiesOf(server);
  struct Expect {
    std::uint32_t id;
    const char* receiver;
    int code;
    const char* data;
  } expected[] = {{first, "Before", 7, "abc"}, {first + 1, "After", 8, "text"}};
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(copies[i].parsed);
    EXPECT_EQ(copies[i].dw_data, 1u);
    EXPECT_EQ(copies[i].wparam, 0u) << "no sender waits";
    EXPECT_EQ(copies[i].id, expected[i].id);
    EXPECT_EQ(copies[i].receiver, expected[i].receiver);
    EXPECT_EQ(copies[i].code, expected[i].code);
    EXPECT_EQ(copies[i].data, expected[i].data);
    EXPECT_EQ(copies[i].process_id, GetCurrentProcessId());
  }
  EXPECT_TRUE(PumpUntil([&] { return client_->PendingCount() == 0; }));
}

TEST_F(MessengerClientTest, IdsGoOnAcrossARestartOfTheThread) {
  ServerDouble server;
  MakeClient();
  const std::uint32_t first = client_->NextMessageId();
  ASSERT_TRUE(RunClient());
  const DWORD first_thread = client_->GetClientThreadId();
  client_->SendMessage(L"One", 1, std::string_view(), 0, nullptr, siMain);
  ASSERT_TRUE(PumpUntil([&] { return CopiesOf(server).size() == 1; }));

  // The control program orders an unload: the thread ends.
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(client_->GetWnd(), HandshakeMessage(), 2, 0, SMTO_ABORTIFHUNG, 5000, &answer);
  ASSERT_TRUE(PumpUntil([&] { return client_->GetState() == msNoThread; }, 10000));
  EXPECT_TRUE(dispatcher_.Has("unloading"));
  EXPECT_EQ(client_->GetWnd(), nullptr);
  EXPECT_FALSE(client_->NeedRestart()) << "the same control program still serves";

  client_->Restart();
  ASSERT_TRUE(PumpUntil([&] { return client_->GetState() == msWaiting; }, 10000));
  EXPECT_NE(client_->GetClientThreadId(), first_thread);
  EXPECT_EQ(RegistrationsOf(server), 2u);
  client_->SendMessage(L"Two", 2, std::string_view(), 0, nullptr, siMain);
  ASSERT_TRUE(PumpUntil([&] { return CopiesOf(server).size() == 2; }));
  EXPECT_EQ(CopiesOf(server)[0].id, first);
  EXPECT_EQ(CopiesOf(server)[1].id, first + 1);
}

TEST_F(MessengerClientTest, HandshakeCodesFromServers) {
  ServerDouble server(/*with_shell=*/true);
  server.SetRegisterAnswer(0);
  MakeClient();
  ASSERT_TRUE(RunClient());
  ASSERT_EQ(RegistrationsOf(server), 1u);
  EXPECT_FALSE(client_->IsClientRegistered(siMain)) << "Handshake 4 answered 0";
  EXPECT_TRUE(dispatcher_.Log().empty());

  const HWND other_main = server.AddMainWindow();
  ASSERT_NE(other_main, nullptr);
  const UINT handshake = HandshakeMessage();
  auto shake = [&](WPARAM code, int instance, HWND lparam) {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(client_->GetWnd(), handshake, code | (static_cast<WPARAM>(instance) << 16),
                        reinterpret_cast<LPARAM>(lparam), SMTO_ABORTIFHUNG, 5000, &answer);
  };
  struct Case {
    const char* what;
    WPARAM code;
    int instance;
    HWND server;
    std::vector<std::string> log;
  } cases[] = {
      {"0 with the same window registers", 0, 0, server.main_wnd(), {"registered 0"}},
      {"0 with the same window again: nothing", 0, 0, server.main_wnd(), {}},
      {"0 with a new window", 0, 0, other_main, {"unregistered 0", "registered 0"}},
      {"0 for the shell server", 0, 1, server.shell_wnd(), {"registered 1"}},
      {"0 for an instance that does not exist", 0, 7, server.main_wnd(), {}},
      {"0 with something that is no window",
       0,
       1,
       reinterpret_cast<HWND>(0x1234),
       {"unregistered 1"}},
      {"1 unregisters", 1, 0, nullptr, {"unregistered 0"}},
      {"1 when not registered: nothing", 1, 0, nullptr, {}},
      {"3, 4 and 5 are not for the client", 4, 0, nullptr, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    dispatcher_.Clear();
    shake(c.code, c.instance, c.server);
    EXPECT_EQ(dispatcher_.Log(), c.log);
  }
  EXPECT_EQ(client_->GetServerWnd(siMain), other_main);
  EXPECT_FALSE(client_->IsActive()) << "unregistered from the main server";
  EXPECT_EQ(client_->GetState(), msWaiting);
}

TEST_F(MessengerClientTest, ResultsReachTheSenderAndOtherBodiesAreAcknowledged) {
  ServerDouble server;
  server.SetAnswerResults(true);
  MakeClient();
  ASSERT_TRUE(RunClient());
  RecordingSender sender;
  client_->SendMessage(L"Asks", 21, std::string_view("q"), 99, &sender, siMain);
  ASSERT_TRUE(PumpUntil([&] { return !sender.Log().empty(); }));
  EXPECT_EQ(sender.Log(), std::vector<std::string>{"processed 21 99 result:q"});
  EXPECT_EQ(CopiesOf(server).at(0).wparam, reinterpret_cast<WPARAM>(client_->GetWnd()));
  EXPECT_TRUE(PumpUntil([&] { return client_->PendingCount() == 0; }));

  // A command for a plug-in, and a body of a kind the client does not know.
  ValueListWriter command;
  command.AddUInt(5);
  command.AddUInt(0x4242);
  command.AddBytes("plugins/Some");
  command.AddInt(2);
  command.AddBytes("data");
  ValueListWriter other;
  other.AddUInt(6);
  for (auto [dw_data, body] : {std::pair<ULONG_PTR, std::string>{2, command.bytes()},
                               std::pair<ULONG_PTR, std::string>{3, other.bytes()}}) {
    COPYDATASTRUCT cds{dw_data, static_cast<DWORD>(body.size()), body.data()};
    DWORD_PTR answer = 0;
    EXPECT_NE(SendMessageTimeoutW(client_->GetWnd(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds),
                                  SMTO_ABORTIFHUNG, 5000, &answer),
              0);
    EXPECT_EQ(answer, 1u);
  }
  EXPECT_TRUE(
      PumpUntil([&] { return !dispatcher_.Log().empty() && dispatcher_.Log().size() > 1; }));
  EXPECT_EQ(dispatcher_.Log(),
            (std::vector<std::string>{"registered 0", "message plugins/Some 2 data 16962"}));
}

// A sender waits for its result; what else may finish its message: only a
// body for a message the server was given, and the sender always hears.
TEST_F(MessengerClientTest, BodiesThatEndAWaitingMessageWithoutAResultFailItsSender) {
  ServerDouble server;  // takes messages, answers none
  MakeClient();
  ASSERT_TRUE(RunClient());
  RecordingSender sender;
  auto deliver = [&](int code) {
    const std::uint32_t id = client_->NextMessageId();
    client_->SendMessage(L"Waits", code, std::string_view(), code, &sender, siMain);
    EXPECT_TRUE(PumpUntil([&] {
      for (const auto& r : CopiesOf(server))
        if (r.id == id) return true;
      return false;
    }));
    return id;
  };
  auto send_body = [&](ULONG_PTR dw_data, const std::string& body) {
    COPYDATASTRUCT cds{dw_data, static_cast<DWORD>(body.size()), const_cast<char*>(body.data())};
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(client_->GetWnd(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds),
                        SMTO_ABORTIFHUNG, 5000, &answer);
    EXPECT_EQ(answer, 1u);
  };
  auto id_item = [](std::uint32_t id) {
    ValueListWriter w;
    w.AddUInt(id);
    return w.Take();
  };

  // A result body whose result item cannot be read.
  const std::uint32_t first = deliver(41);
  send_body(1, id_item(first) + std::string("\x09\x00\x00\x00r", 5));
  ASSERT_TRUE(PumpUntil([&] { return sender.Log().size() == 1; }));
  EXPECT_EQ(sender.Log()[0], "failed 41 41");

  // A body of another kind with the id cleans the message up.
  const std::uint32_t second = deliver(42);
  send_body(3, id_item(second));
  ASSERT_TRUE(PumpUntil([&] { return sender.Log().size() == 2; }));
  EXPECT_EQ(sender.Log()[1], "failed 42 42");

  // A result for an id the client has not used finds nothing to finish.
  send_body(1, id_item(client_->NextMessageId()) + id_item(0));
  test::PumpFor(100);
  EXPECT_EQ(sender.Log().size(), 2u);
  EXPECT_EQ(client_->PendingCount(), 0u);
}

TEST_F(MessengerClientTest, SendsThatCannotReachTheServerFailTheirSender) {
  auto server = std::make_unique<ServerDouble>();
  MakeClient();
  ASSERT_TRUE(RunClient());
  server.reset();  // the server window is gone, the control program is not
  RecordingSender sender;
  client_->SendMessage(L"Lost", 4, std::string_view("x"), 7, &sender, siMain);
  ASSERT_TRUE(PumpUntil([&] { return !sender.Log().empty(); }));
  EXPECT_EQ(sender.Log(), std::vector<std::string>{"failed 4 7"});
  EXPECT_EQ(client_->PendingCount(), 0u);
  // A shell message while no shell server is known fails too.
  client_->SendMessage(L"Shell", 5, std::string_view(), 8, &sender, siShell);
  ASSERT_TRUE(PumpUntil([&] { return sender.Log().size() == 2; }));
  EXPECT_EQ(sender.Log()[1], "failed 5 8");
}

TEST_F(MessengerClientTest, NothingIsQueuedWhileTheClientIsNotActive) {
  MessengerTimings timings;
  timings.no_wait_poll_ms = 100;
  timings.resume_after_ms = 200;
  MakeClient(false, timings);  // no server at all
  EXPECT_FALSE(client_->IsActive());
  RecordingSender sender;
  client_->SendMessage(L"Nobody", 1, std::string_view("x"), 0, &sender, siMain);
  EXPECT_EQ(client_->PendingCount(), 0u);
  EXPECT_TRUE(sender.Log().empty()) << "dropped silently";
  // Nobody resumes it (no message hook here): its timer does. Without a
  // control program to wait on, the client polls for its server window and
  // unloads when there is none.
  EXPECT_TRUE(PumpUntil([&] { return client_->GetState() != msSuspended; }, 10000));
  ASSERT_TRUE(PumpUntil([&] { return client_->GetState() == msNoThread; }, 10000));
  EXPECT_EQ(dispatcher_.Log(), std::vector<std::string>{"unloading"});
}

TEST_F(MessengerClientTest, EventLinesGoToTheEventLoggerWhileTheFlagIsSet) {
  ServerDouble server;
  MakeClient(/*publish=*/true);
  ASSERT_TRUE(RunClient());
  SetLibraryEventLogEnabled(false);
  EXPECT_FALSE(SendEventLine(L"not sent"));
  SetLibraryEventLogEnabled(true);
  EXPECT_TRUE(SendEventLine(L"FoliantAction;Succeeded;Dock;x"));
  SetLibraryEventLogEnabled(false);
  ASSERT_TRUE(PumpUntil([&] { return CopiesOf(server).size() == 1; }));
  test::PumpFor(100);
  const auto copies = CopiesOf(server);
  ASSERT_EQ(copies.size(), 1u);
  char expected[64];
  std::snprintf(expected, sizeof(expected), "%08lX;%08lX;FoliantAction;Succeeded;Dock;x",
                GetCurrentProcessId(), GetCurrentThreadId());
  EXPECT_EQ(copies[0].receiver, "EventLogger");
  EXPECT_EQ(copies[0].code, 75);
  EXPECT_EQ(copies[0].data, expected);
}

// The control program's thread stops taking messages: without giving up on
// a hung window every queued message would hold the client thread for
// 1000 tries of a second each. A server that is only busy for a moment
// still gets its message.
TEST_F(MessengerClientTest, AHungServerFailsASendQuicklyABusyOneStillGetsIt) {
  ServerDouble server;
  server.SetAnswerResults(true);
  MakeClient();
  ASSERT_TRUE(RunClient());

  RecordingSender busy_sender;
  server.Busy(2500);
  ASSERT_TRUE(server.blocked());
  const ULONGLONG busy_start = GetTickCount64();
  client_->SendMessage(L"Busy", 31, std::string_view("b"), 1, &busy_sender, siMain);
  ASSERT_TRUE(PumpUntil([&] { return !busy_sender.Log().empty(); }, 30000));
  EXPECT_EQ(busy_sender.Log(), std::vector<std::string>{"processed 31 1 result:b"});
  EXPECT_EQ(CopiesOf(server).size(), 1u) << "delivered once";
  std::printf("busy server (2.5 s): result after %llu ms\n",
              static_cast<unsigned long long>(busy_sender.at() - busy_start));

  RecordingSender hung_sender;
  server.Hang();
  const ULONGLONG hang_start = GetTickCount64();
  client_->SendMessage(L"Hung", 32, std::string_view("h"), 2, &hung_sender, siMain);
  // Bounded far below the ~17 minutes of 1000 tries; Wine, like Windows,
  // calls a thread hung after about 5 s without taking messages.
  ASSERT_TRUE(PumpUntil([&] { return !hung_sender.Log().empty(); }, 60000));
  EXPECT_EQ(hung_sender.Log(), std::vector<std::string>{"failed 32 2"});
  std::printf("hung server: send failed after %llu ms\n",
              static_cast<unsigned long long>(hung_sender.at() - hang_start));
  EXPECT_EQ(client_->GetState(), msWaiting) << "the client thread is free again";
  server.Release();
}

// Server bodies read item by item: what is read from each, and nothing past its end.
TEST(ServerBody, ReadsAsFarAsTheItemsGo) {
  auto item = [](std::string bytes) {
    ValueListWriter w;
    w.AddBytes(bytes);
    return w.Take();
  };
  auto integer = [](std::int32_t v) {
    ValueListWriter w;
    w.AddInt(v);
    return w.Take();
  };
  const std::string id = integer(77);
  const std::string command = id + integer(0x10) + item("plugins/X") + integer(4) + item("d");
  struct Case {
    const char* what;
    ULONG_PTR dw_data;
    std::string body;
    bool has_id;
    bool has_result;
    bool has_command;
  } cases[] = {
      {"empty", 1, "", false, false, false},
      {"three bytes", 1, std::string("\x04\x00\x00", 3), false, false, false},
      {"id of 3 bytes", 1, item("abc"), false, false, false},
      {"id only, result missing", 1, id, true, false, false},
      {"id and result", 1, id + item("r"), true, true, false},
      {"result count past the end", 1, id + std::string("\x09\x00\x00\x00r", 5), true, false,
       false},
      {"count 0xFFFFFFFF", 1, id + std::string("\xFF\xFF\xFF\xFF", 4), true, false, false},
      {"full command", 2, command, true, false, true},
      {"command cut short", 2, command.substr(0, command.size() - 1), true, false, false},
      {"command without data", 2, id + integer(0x10) + item("plugins/X") + integer(4), true, false,
       false},
      {"window item of 8 bytes", 2,
       id + item("12345678") + item("plugins/X") + integer(4) + item(""), true, false, false},
      {"unknown kind", 9, command, true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto parsed = messenger::ParseServerBody(c.dw_data, c.body);
    EXPECT_EQ(parsed.message_id.has_value(), c.has_id);
    EXPECT_EQ(parsed.result.has_value(), c.has_result);
    EXPECT_EQ(parsed.command.has_value(), c.has_command);
    if (parsed.command) {
      EXPECT_EQ(parsed.command->receiver_wnd, 0x10u);
      EXPECT_EQ(parsed.command->receiver, "plugins/X");
      EXPECT_EQ(parsed.command->command_code, 4);
      EXPECT_EQ(parsed.command->command_data, "d");
    }
  }
  EXPECT_EQ(messenger::FormatEventLine(0xAB, 0x1234CDEF, L"t"), L"000000AB;1234CDEF;t");
}

}  // namespace
}  // namespace vm::hooklib
