// Printed figures, no timed assertions: how long a dock request takes from
// the post to the window sitting in a visible container, and how long the
// container's relayout and repaint take with many tabs.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/docking/docking_support.h"
#include "tests/fixtures/explorer/fixture_client.h"

namespace {

using vm::test::ContainerProgram;
using vm::test::ExplorerFixture;

double Ms(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
         static_cast<double>(f.QuadPart);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Polls without the 20 ms sleep of PumpUntil, for a finer clock.
template <typename Condition>
bool WaitTight(Condition done, DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  while (GetTickCount64() < deadline) {
    vm::test::RunUntilIdle();
    if (done()) return true;
    Sleep(0);
  }
  return false;
}

LARGE_INTEGER Now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t;
}

TEST(DockingBenchmark, DockLatencyAndRelayout) {
  // Two fixture processes: one holds at most 64 windows.
  constexpr int kWindows = 100;
  std::vector<std::unique_ptr<ExplorerFixture>> explorers;
  std::vector<HWND> windows;
  for (int first : {0, kWindows / 2}) {
    std::vector<std::wstring> captions;
    for (int i = first; i < first + kWindows / 2; ++i) {
      captions.push_back(L"Folder " + std::to_wstring(i + 1));
    }
    explorers.push_back(ExplorerFixture::Start(captions, 60000));
    ASSERT_NE(explorers.back(), nullptr);
    for (HWND w : explorers.back()->OpenWindows()) windows.push_back(w);
  }
  ASSERT_EQ(windows.size(), static_cast<std::size_t>(kWindows));
  ContainerProgram program;
  ASSERT_TRUE(program.Start());

  // Each request is posted once the previous window is docked, as windows
  // arrive one after the other; the container may still be finishing the
  // previous dock (its relayout and repaint), which counts.
  std::vector<double> docks;
  HWND container = nullptr;
  for (HWND w : windows) {
    const LARGE_INTEGER t0 = Now();
    program.PostDock(w);
    ASSERT_TRUE(WaitTight([&] { return ContainerProgram::IsDocked(w); }, 10000));
    docks.push_back(Ms(t0, Now()));
    container = ContainerProgram::ContainerOf(w);
  }
  // The cost grows with the tabs already there (the strip repaints them all).
  std::printf(
      "dock latency over %zu windows: median %.1f ms (first 20: %.1f ms), first %.1f ms, max %.1f "
      "ms\n",
      docks.size(), Median(docks), Median({docks.begin(), docks.begin() + 20}), docks.front(),
      *std::max_element(docks.begin(), docks.end()));

  HWND strip = FindWindowExW(container, nullptr, L"TUnicodePageControl", nullptr);
  ASSERT_NE(strip, nullptr);
  // Waits until the container painted its strip: only its WM_PAINT, from its
  // queue, empties the update region.
  auto painted = [&] {
    return WaitTight([&] { return GetUpdateRect(strip, nullptr, FALSE) == FALSE; }, 5000);
  };
  ASSERT_TRUE(painted());
  RECT home{};
  GetWindowRect(container, &home);
  DWORD_PTR r = 0;

  // Relayout and repaint after a size change: the container grows or shrinks
  // by a few pixels (tab widths, "+" button, page area and the active docked
  // window change), lays out (a sent request, handled at once) and repaints
  // the whole strip.
  std::vector<double> resized;
  for (int i = 0; i < 20; ++i) {
    const LARGE_INTEGER t0 = Now();
    SetWindowPos(container, nullptr, 0, 0, home.right - home.left + (i % 2 == 0 ? 40 : 0),
                 home.bottom - home.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageTimeoutW(container, vm::names::WM_TC_RELAYOUT, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
    InvalidateRect(strip, nullptr, FALSE);
    ASSERT_TRUE(painted());
    resized.push_back(Ms(t0, Now()));
  }
  // The same without a change: a relayout request and a full repaint.
  std::vector<double> unchanged;
  for (int i = 0; i < 20; ++i) {
    const LARGE_INTEGER t0 = Now();
    SendMessageTimeoutW(container, vm::names::WM_TC_RELAYOUT, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
    InvalidateRect(strip, nullptr, FALSE);
    ASSERT_TRUE(painted());
    unchanged.push_back(Ms(t0, Now()));
  }
  std::printf(
      "relayout + repaint with %d tabs: median %.2f ms after a size change, %.2f ms "
      "unchanged\n",
      kWindows, Median(resized), Median(unchanged));

  // Giving back 100 windows of another process costs several bounded calls
  // each; on a busy machine that alone can take half a minute. The bound
  // only keeps a stuck program from holding the run.
  const LARGE_INTEGER undock_start = Now();
  PostMessageW(program.main(), vm::names::WM_TC_UNDOCKALL, 0, 0);
  EXPECT_EQ(program.process().WaitExit(90000), 0u);
  std::printf("undock-all of %d windows and exit: %.0f ms\n", kWindows, Ms(undock_start, Now()));
}

}  // namespace
