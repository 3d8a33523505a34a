// The rule dispatcher of this process (the library's code linked in, its
// application started as in any hooked process) with a service block and
// rule table this test publishes itself: the lock order under stress, a
// missing rule table block, an extender that cannot be made.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/control_program.h"
#include "common/rule_table_builder.h"
#include "common/unique_handle.h"
#include "hooklib/app/embedded_application.h"
#include "hooklib/app/rule_dispatcher.h"
#include "hooklib/core/hook_procedures.h"
#include "hooklib/core/library.h"
#include "hooklib/framework/class_registry.h"
#include "hooklib/messenger/event_line.h"
#include "tests/extender/test_action.h"
#include "tests/support/message_pump.h"

namespace vm::test {
namespace {

using hooklib::ExtensionReason;
using hooklib::RuleDispatcher;

constexpr wchar_t kClass[] = L"vm_dispatcher_stress";
constexpr std::uint32_t kTableId = 0x5EED0001;

std::vector<std::uint8_t> Table() {
  using namespace rules;
  Group g;
  for (const char* name : {"Alpha", "Beta"}) {
    Rule r;
    r.kind = NodeKind::SpecificRule;
    r.name = std::string(name) + "Rule";
    r.params = "\\window_rule_name=" +
               std::string(name == std::string("Alpha") ? "416C706861" : "42657461") +
               "\\action=TESTACTION{name=T}";
    r.criteria = {{NodeKind::ClassCriterion, "vm_dispatcher_stress", CaptionMode::Part},
                  {NodeKind::CaptionCriterion, name, CaptionMode::Part}};
    g.rules.push_back(r);
  }
  return BuildRuleTable({g});
}

// The service block and one rule table, as the control program publishes them.
class Blocks {
 public:
  Blocks() {
    service_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      control::kServiceBlockSize, control::kServiceBlockName));
    view_.reset(MapViewOfFile(service_.get(), FILE_MAP_WRITE, 0, 0, 0));
    const std::vector<std::uint8_t> bytes = Table();
    table_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                    static_cast<DWORD>(bytes.size()),
                                    control::RuleTableBlockName(kTableId).c_str()));
    if (UniqueMapView v{MapViewOfFile(table_.get(), FILE_MAP_WRITE, 0, 0, 0)}) {
      std::memcpy(v.get(), bytes.data(), bytes.size());
    }
    SetTableId(kTableId);
  }
  void SetEventLog(bool on) {
    const std::uint32_t value = on ? 1 : 0;
    if (view_) {
      std::memcpy(static_cast<char*>(view_.get()) + control::kServiceEventLogOffset, &value, 4);
    }
  }
  void SetTableId(std::uint32_t id) {
    if (view_)
      std::memcpy(static_cast<char*>(view_.get()) + control::kServiceRuleTableIdOffset, &id, 4);
  }
  bool valid() const { return static_cast<bool>(view_); }

 private:
  UniqueHandle service_;
  UniqueMapView view_;
  UniqueHandle table_;
};

Blocks* g_blocks = nullptr;

class LibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // Linked in for their start-up registrations, as in the library itself.
    hooklib::EnsureRuleDispatcherPlugin();
    volatile auto factory = &hooklib::CreateLibraryApplication;
    (void)factory;
    ASSERT_TRUE(RegisterTestAction());
    g_blocks = new Blocks();
    ASSERT_TRUE(g_blocks->valid());
    hooklib::AttachLibrary();
    ASSERT_TRUE(hooklib::EnsureLibraryStarted());
    WNDCLASSW wc{};
    wc.lpfnWndProc = &DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassW(&wc);
  }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

RuleDispatcher* Dispatcher() {
  auto hook = hooklib::GetProcessHook();
  return dynamic_cast<RuleDispatcher*>(hook.Get());
}

HWND MakeWindow(const wchar_t* caption) {
  return CreateWindowExW(WS_EX_NOACTIVATE, kClass, caption, WS_POPUP | WS_CAPTION | WS_VISIBLE, 0,
                         0, 80, 60, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

void Offer(HWND w) {
  hooklib::ProcessWindowCandidate(w, ExtensionReason::Default, WM_WINDOWPOSCHANGING, true);
}

TEST(DispatcherInProcess, ServesWindowsOfTheTestsOwnTable) {
  RuleDispatcher* d = Dispatcher();
  ASSERT_NE(d, nullptr) << "the dispatcher did not start with the published blocks";
  EXPECT_TRUE(d->IsActive());
  EXPECT_EQ(d->RuleTableId(), kTableId);
  HWND w = MakeWindow(L"Alpha");
  Offer(w);
  EXPECT_TRUE(d->IsWindowExtended(w));
  DestroyWindow(w);
  EXPECT_FALSE(d->IsWindowExtended(w));  // closed on WM_DESTROY with kind 2
  EXPECT_FALSE(d->IsRegistered(w));
}

TEST(DispatcherInProcess, ARuleTableChangeToAMissingBlockKeepsTheOldTable) {
  RuleDispatcher* d = Dispatcher();
  ASSERT_NE(d, nullptr);
  g_blocks->SetTableId(0x5EED0FFF);  // no such block
  d->OnMessageFromServer(2, {});
  EXPECT_EQ(d->RuleTableId(), kTableId);
  HWND w = MakeWindow(L"Alpha kept");
  Offer(w);
  EXPECT_TRUE(d->IsWindowExtended(w));
  DestroyWindow(w);
  g_blocks->SetTableId(kTableId);
}

TEST(DispatcherInProcess, AnExtenderThatCannotBeMadeLeavesTheWindowAsItWas) {
  RuleDispatcher* d = Dispatcher();
  ASSERT_NE(d, nullptr);
  const framework::ItemClass* extender_class =
      framework::FindItemClass(framework::kWindowExtenderClassName);
  ASSERT_NE(extender_class, nullptr);
  ASSERT_TRUE(framework::UnregisterItemClass(framework::kWindowExtenderClassName));
  HWND w = MakeWindow(L"Alpha unmade");
  const LONG_PTR proc = GetWindowLongPtrW(w, GWLP_WNDPROC);
  Offer(w);
  framework::RegisterItemClass(*extender_class, framework::kWindowExtenderClassName);
  EXPECT_FALSE(d->IsWindowExtended(w));
  EXPECT_FALSE(d->HasWindowParams(w));  // taken off the pending list all the same
  EXPECT_EQ(GetWindowLongPtrW(w, GWLP_WNDPROC), proc);
  EXPECT_TRUE(SetWindowTextW(w, L"still works"));
  DestroyWindow(w);
}

// Threads that each own windows: make them, have them extended, switch
// their rule with caption changes (also with null texts and reads), destroy
// some. Others end with their windows alive, leaving extenders of dead
// windows for the purges that every extender creation runs.
struct Stress {
  std::atomic<bool> stop{false};
  std::atomic<long> windows_made{0};
  std::atomic<long> switches{0};
  std::atomic<long> purges{0};
  std::atomic<long> orphans{0};
};

DWORD WINAPI CaptionWorker(void* p) {
  auto* s = static_cast<Stress*>(p);
  RuleDispatcher* d = Dispatcher();
  std::vector<HWND> mine;
  unsigned round = 0;
  while (!s->stop.load()) {
    HWND w = MakeWindow(L"Alpha stress");
    if (w != nullptr) {
      ++s->windows_made;
      Offer(w);
      mine.push_back(w);
    }
    for (HWND x : mine) {
      const wchar_t* text = (round++ & 1) ? L"Beta stress" : L"Alpha stress";
      SetWindowTextW(x, text);
      d->OnCaptionChanged(x, WM_SETTEXT, reinterpret_cast<LPARAM>(text));
      d->OnCaptionChanged(x, WM_SETTEXT, 0);
      d->OnCaptionChanged(x, 0, 0);
      ++s->switches;
    }
    if (mine.size() > 6) {
      DestroyWindow(mine.front());
      mine.erase(mine.begin());
    }
    RunUntilIdle();
  }
  for (HWND x : mine) DestroyWindow(x);
  return 0;
}

DWORD WINAPI OrphanThread(void* p) {
  auto* s = static_cast<Stress*>(p);
  for (int i = 0; i < 3; ++i) {
    if (HWND w = MakeWindow(L"Beta orphan")) {
      Offer(w);
      ++s->orphans;
    }
  }
  return 0;  // the windows die with the thread, without WM_DESTROY
}

DWORD WINAPI OrphanMaker(void* p) {
  auto* s = static_cast<Stress*>(p);
  while (!s->stop.load()) {
    HANDLE t = CreateThread(nullptr, 0, &OrphanThread, p, 0, nullptr);
    if (t != nullptr) {
      WaitForSingleObject(t, 10000);
      CloseHandle(t);
    }
  }
  return 0;
}

DWORD WINAPI Purger(void* p) {
  auto* s = static_cast<Stress*>(p);
  RuleDispatcher* d = Dispatcher();
  while (!s->stop.load()) {
    d->PurgeDeadWindows();
    for (HWND w : d->GetExtendedWindowsList()) {
      d->IsWindowExtended(w);
      d->WindowIsUnbinding(w);
    }
    ++s->purges;
  }
  return 0;
}

TEST(DispatcherInProcess, CaptionChangesExtenderCreationAndPurgesAtOnceNeverDeadlock) {
  RuleDispatcher* d = Dispatcher();
  ASSERT_NE(d, nullptr);
  Stress s;
  std::vector<HANDLE> threads;
  for (int i = 0; i < 2; ++i)
    threads.push_back(CreateThread(nullptr, 0, &CaptionWorker, &s, 0, nullptr));
  threads.push_back(CreateThread(nullptr, 0, &OrphanMaker, &s, 0, nullptr));
  threads.push_back(CreateThread(nullptr, 0, &Purger, &s, 0, nullptr));
  for (HANDLE t : threads) ASSERT_NE(t, nullptr);
  Sleep(3000);  // the run's length, not a synchronisation
  s.stop.store(true);
  // The watchdog: a deadlock keeps a thread from ending.
  const DWORD r =
      WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, 30000);
  if (r == WAIT_TIMEOUT) {
    ADD_FAILURE() << "a dispatcher lock never came free: deadlock";
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
  }
  for (HANDLE t : threads) CloseHandle(t);
  d->PurgeDeadWindows();
  std::printf("[ STRESS ] %ld windows, %ld caption rounds, %ld purges, %ld orphaned windows\n",
              s.windows_made.load(), s.switches.load(), s.purges.load(), s.orphans.load());
  EXPECT_GT(s.windows_made.load(), 0);
  EXPECT_GT(s.orphans.load(), 0);
  EXPECT_EQ(d->ListProblems(), L"");
  EXPECT_TRUE(d->GetExtendedWindowsList().empty());
}

TEST(DispatcherInProcess, TheEventLogSwitchIsReadAgainWhenTheOptionChanges) {
  RuleDispatcher* d = Dispatcher();
  ASSERT_NE(d, nullptr);
  g_blocks->SetEventLog(true);
  d->OnMessageFromServer(4, "EventLogEnabled");
  EXPECT_TRUE(hooklib::LibraryEventLogEnabled());
  g_blocks->SetEventLog(false);
  d->OnMessageFromServer(4, "SomethingElse");  // other options change nothing
  EXPECT_TRUE(hooklib::LibraryEventLogEnabled());
  // After the unloading notice the service view is closed; the option
  // opens the block again.
  d->OnMessageFromServer(44, {});
  d->OnMessageFromServer(4, "EventLogEnabled");
  EXPECT_FALSE(hooklib::LibraryEventLogEnabled());
  EXPECT_EQ(d->RuleTableId(), kTableId);
}

// Last: the dispatcher goes as it does when the library unloads.
TEST(DispatcherInProcess, WhenTheDispatcherGoesEveryWindowKeepsItsOwnProcedure) {
  RuleDispatcher* d = Dispatcher();
  ASSERT_NE(d, nullptr);
  WNDCLASSW wc{};
  wc.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
    return m == WM_APP + 9 ? 99 : DefWindowProcW(w, m, wp, lp);
  };
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"vm_dispatcher_stress_own";
  RegisterClassW(&wc);
  // Windows of the rule's class whose own procedure answers WM_APP + 9.
  std::vector<HWND> windows;
  for (int i = 0; i < 3; ++i) {
    HWND w = MakeWindow(L"Alpha unload");
    SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(wc.lpfnWndProc));
    Offer(w);
    ASSERT_TRUE(d->IsWindowExtended(w));
    windows.push_back(w);
  }
  ComPtr<hooklib::ProcessHook> keep = hooklib::GetProcessHook();
  d->Done();
  EXPECT_FALSE(hooklib::GetProcessHook());
  for (HWND w : windows) {
    EXPECT_FALSE(d->IsWindowExtended(w));
    EXPECT_EQ(SendMessageW(w, WM_APP + 9, 0, 0), 99);
    DestroyWindow(w);
  }
}

}  // namespace
}  // namespace vm::test
