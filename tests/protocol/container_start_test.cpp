// Finding and starting the container program: concurrent starters, a program
// that dies or never shows its window, the start lock held or abandoned
// elsewhere, and the dock and undock requests. Real processes, the real named
// mutex and real windows.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "common/container_protocol.h"
#include "common/names.h"
#include "tests/protocol/container_standin.h"
#include "tests/protocol/test_support.h"
#include "tests/support/paths.h"

namespace {

using namespace vm::protocol;
namespace cs = vm::test::container_standin;
using vm::test::Child;
using vm::test::MillisecondsSince;
using vm::test::WaitUntil;

constexpr wchar_t kStandin[] = L"container_standin.exe";
constexpr wchar_t kRealContainer[] = L"VellmarkToolsTabbedContainer64.exe";

std::wstring StandinCommand(const std::wstring& options) {
  return L"\"" + vm::test::TestPath(kStandin) + L"\" " + options;
}

std::wstring RealContainerCommand() { return L"\"" + vm::test::BinPath(kRealContainer) + L"\" -"; }

// Quotes one argument for the C runtime's command-line parser.
std::wstring QuoteArgument(const std::wstring& text) {
  std::wstring out = L"\"";
  for (wchar_t c : text) {
    if (c == L'"') out += L'\\';
    out += c;
  }
  return out + L"\"";
}

void StopProcessOfWindow(HWND window) {
  DWORD pid = 0;
  if (window && GetWindowThreadProcessId(window, &pid) && pid) vm::test::StopProcess(pid);
}

class ContainerStart : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(FindMainWindow(), nullptr) << "a container program is already running";
  }
  void TearDown() override {
    // Whatever the test started, directly or through a starter.
    StopProcessOfWindow(FindMainWindow());
    for (DWORD pid : vm::test::ProcessesNamed(kStandin, GetCurrentProcessId())) {
      vm::test::StopProcess(pid);
    }
  }
};

struct StarterResult {
  HWND window = nullptr;
  int outcome = -1;
  bool started = false;
  bool ran = false;
};

// Starts `count` container_starter.exe processes, lets them all reach the
// start together and collects what each got.
std::vector<StarterResult> RaceStarters(int count, const std::wstring& container_command) {
  const std::wstring tag = std::to_wstring(GetCurrentProcessId());
  const std::wstring ready_name = L"Local\\VellmarkTest_StarterReady_" + tag;
  const std::wstring go_name = L"Local\\VellmarkTest_StarterGo_" + tag;
  vm::UniqueHandle ready(CreateSemaphoreW(nullptr, 0, count, ready_name.c_str()));
  vm::UniqueHandle go(CreateEventW(nullptr, TRUE, FALSE, go_name.c_str()));

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::vector<std::wstring> files;
  std::vector<Child> starters;
  for (int i = 0; i < count; ++i) {
    files.push_back(std::wstring(temp) + L"vm_starter_" + tag + L"_" + std::to_wstring(i) +
                    L".txt");
    DeleteFileW(files.back().c_str());
    starters.emplace_back(QuoteArgument(vm::test::TestPath(L"container_starter.exe")) + L" " +
                          QuoteArgument(ready_name) + L" " + QuoteArgument(go_name) + L" " +
                          QuoteArgument(files.back()) + L" " + QuoteArgument(container_command));
  }
  for (int i = 0; i < count; ++i) WaitForSingleObject(ready.get(), 15000);
  SetEvent(go.get());

  std::vector<StarterResult> results(count);
  for (int i = 0; i < count; ++i) {
    if (starters[i].WaitExit(60000) != 0) continue;
    if (FILE* f = _wfopen(files[i].c_str(), L"r")) {
      unsigned long long window = 0;
      int started = 0;
      results[i].ran = std::fscanf(f, "%llx %d %d", &window, &results[i].outcome, &started) == 3;
      results[i].window = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(window));
      results[i].started = started != 0;
      std::fclose(f);
    }
    DeleteFileW(files[i].c_str());
  }
  return results;
}

void ExpectOneContainerFoundByAll(const std::vector<StarterResult>& results, const wchar_t* image) {
  const HWND main_window = FindMainWindow();
  ASSERT_NE(main_window, nullptr);
  int started = 0;
  for (const auto& r : results) {
    std::printf("starter: outcome %d, started %d\n", r.outcome, r.started ? 1 : 0);
    ASSERT_TRUE(r.ran) << "a starter did not finish";
    EXPECT_EQ(r.window, main_window) << "outcome " << r.outcome;
    started += r.started;
  }
  EXPECT_EQ(started, 1) << "exactly one starter may create the process";
  EXPECT_EQ(vm::test::ProcessesNamed(image).size(), 1u);
}

TEST_F(ContainerStart, TwoStartersAtOnceStartOneContainerAndBothFindIt) {
  // The stand-in's delay keeps the first start going while the second
  // starter arrives, whatever the real program's start-up time.
  const auto results = RaceStarters(2, StandinCommand(L"--window-delay=300"));
  ExpectOneContainerFoundByAll(results, kStandin);
}

TEST_F(ContainerStart, TwoStartersAtOnceWithTheRealContainerProgram) {
  const auto results = RaceStarters(2, RealContainerCommand());
  ExpectOneContainerFoundByAll(results, kRealContainer);
}

TEST_F(ContainerStart, ProgramThatExitsDuringStartUpEndsTheWaitAtOnce) {
  const auto start = std::chrono::steady_clock::now();
  const StartResult r = FindOrStartContainer(StandinCommand(L"--exit"));
  const double ms = MillisecondsSince(start);
  std::printf("start of a program that exits at once ended after %.0f ms\n", ms);
  EXPECT_EQ(r.outcome, StartOutcome::ProcessEnded);
  EXPECT_TRUE(r.started_process);
  EXPECT_EQ(r.main_window, nullptr);
  // Waiting out the idle attempts would take 5 x 1.1 s; polling, forever.
  EXPECT_LT(ms, 4000);
}

TEST_F(ContainerStart, MissingProgramIsNotWaitedFor) {
  const StartResult r = FindOrStartContainer(L"\"C:\\no such folder\\nothing.exe\" -");
  EXPECT_EQ(r.outcome, StartOutcome::CreateProcessFailed);
  EXPECT_FALSE(r.started_process);
  EXPECT_EQ(r.main_window, nullptr);
}

TEST_F(ContainerStart, ProgramWithoutWindowIsGivenUpAfterTheBound) {
  StartTimings timings;
  timings.window_wait_after_idle_ms = 1500;
  const auto start = std::chrono::steady_clock::now();
  const StartResult r = FindOrStartContainer(StandinCommand(L"--no-window"), timings);
  const double ms = MillisecondsSince(start);
  std::printf("gave up on a program without window after %.0f ms\n", ms);
  EXPECT_EQ(r.outcome, StartOutcome::NoWindow);
  EXPECT_EQ(r.main_window, nullptr);
  EXPECT_LT(ms, 10000);
  EXPECT_EQ(vm::test::ProcessesNamed(kStandin, GetCurrentProcessId()).size(), 1u)
      << "the program is left running, only the wait ends";
}

TEST_F(ContainerStart, StartLockHeldElsewhereMeansNoStart) {
  vm::UniqueHandle lock(CreateMutexW(nullptr, FALSE, vm::names::kContainerStartLock));
  ASSERT_TRUE(lock);
  ASSERT_EQ(WaitForSingleObject(lock.get(), 5000), WAIT_OBJECT_0);
  StartResult r;
  std::thread other([&] {
    StartTimings timings;
    timings.lock_wait_ms = 300;
    r = FindOrStartContainer(StandinCommand(L""), timings);
  });
  other.join();
  ReleaseMutex(lock.get());
  EXPECT_EQ(r.outcome, StartOutcome::LockTimedOut);
  EXPECT_FALSE(r.started_process);
  EXPECT_TRUE(vm::test::ProcessesNamed(kStandin, GetCurrentProcessId()).empty());
}

TEST_F(ContainerStart, AbandonedStartLockDoesNotBlockLaterStarts) {
  // A starter that died while holding the lock.
  std::thread([] {
    // The handle stays open so the mutex outlives the thread, abandoned.
    HANDLE lock = CreateMutexW(nullptr, FALSE, vm::names::kContainerStartLock);
    WaitForSingleObject(lock, 5000);
  }).join();

  // The first request sees the abandoned lock and does not start; its thread
  // lives on (as an Explorer thread does) while the next request comes.
  StartResult first;
  vm::UniqueHandle first_done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  vm::UniqueHandle may_end(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::thread first_thread([&] {
    first = FindOrStartContainer(StandinCommand(L"--exit"));
    SetEvent(first_done.get());
    WaitForSingleObject(may_end.get(), 30000);
  });
  WaitForSingleObject(first_done.get(), 30000);

  StartTimings timings;
  timings.lock_wait_ms = 2000;
  const StartResult second = FindOrStartContainer(StandinCommand(L"--exit"), timings);
  SetEvent(may_end.get());
  first_thread.join();

  EXPECT_EQ(first.outcome, StartOutcome::LockTimedOut);
  EXPECT_FALSE(first.started_process);
  EXPECT_EQ(second.outcome, StartOutcome::ProcessEnded) << "the lock was not given back";
  EXPECT_TRUE(second.started_process);
}

TEST_F(ContainerStart, DockAndUndockRequestsReachTheMainWindow) {
  vm::UniqueWindow explorer(
      CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(explorer);
  const auto as_result = reinterpret_cast<LRESULT>(explorer.get());

  EXPECT_FALSE(RequestUndock(explorer.get())) << "nothing runs, nothing to undock";
  EXPECT_EQ(FindMainWindow(), nullptr) << "an undock request never starts the program";

  ASSERT_TRUE(RequestDock(explorer.get(), StandinCommand(L"")));
  const HWND main_window = FindMainWindow();
  ASSERT_NE(main_window, nullptr);
  auto query = [&](UINT message) { return SendMessageW(main_window, message, 0, 0); };
  ASSERT_TRUE(WaitUntil([&] { return query(cs::kQueryDockCount) == 1; }));
  EXPECT_EQ(query(cs::kQueryLastDockWindow), as_result);
  EXPECT_EQ(query(cs::kQueryLastDockLock), 1);

  ASSERT_TRUE(RequestUndock(explorer.get()));
  ASSERT_TRUE(WaitUntil([&] { return query(cs::kQueryUndockCount) == 1; }));
  EXPECT_EQ(query(cs::kQueryLastUndockWindow), as_result);
  EXPECT_EQ(query(cs::kQueryLastUndockLock), 1);

  // A second dock finds the running program instead of starting another.
  ASSERT_TRUE(RequestDock(explorer.get(), StandinCommand(L"")));
  ASSERT_TRUE(WaitUntil([&] { return query(cs::kQueryDockCount) == 2; }));
  EXPECT_EQ(vm::test::ProcessesNamed(kStandin).size(), 1u);
}

}  // namespace
