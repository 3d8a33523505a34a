// Printed figures, no timed assertions: how long a dock request takes from
// the post to the window sitting in a visible container, and how long the
// container's relayout takes with many tabs.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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
bool WaitTight(HWND window, DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  while (GetTickCount64() < deadline) {
    vm::test::RunUntilIdle();
    if (ContainerProgram::IsDocked(window)) return true;
    Sleep(0);
  }
  return false;
}

TEST(DockingBenchmark, DockLatencyAndRelayout) {
  constexpr int kWindows = 60;
  std::vector<std::wstring> captions;
  for (int i = 0; i < kWindows; ++i) captions.push_back(L"Folder " + std::to_wstring(i + 1));
  auto explorer = ExplorerFixture::Start(captions, 60000);
  ASSERT_NE(explorer, nullptr);
  ContainerProgram program;
  ASSERT_TRUE(program.Start());

  std::vector<double> docks;
  HWND container = nullptr;
  for (HWND w : explorer->OpenWindows()) {
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    program.PostDock(w);
    ASSERT_TRUE(WaitTight(w, 10000));
    QueryPerformanceCounter(&t1);
    docks.push_back(Ms(t0, t1));
    container = ContainerProgram::ContainerOf(w);
  }
  std::printf("dock latency over %zu windows: median %.1f ms, first %.1f ms, max %.1f ms\n",
              docks.size(), Median(docks), docks.front(),
              *std::max_element(docks.begin(), docks.end()));

  // Relayout: sheets, the active docked window and the strip's arrangement,
  // timed as a sent request round trip (the container handles it at once).
  std::vector<double> layouts;
  for (int i = 0; i < 20; ++i) {
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    DWORD_PTR r = 0;
    SendMessageTimeoutW(container, vm::names::WM_TC_RELAYOUT, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
    RedrawWindow(container, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
    SendMessageTimeoutW(container, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &r);
    QueryPerformanceCounter(&t1);
    layouts.push_back(Ms(t0, t1));
  }
  std::printf("relayout with %d tabs (sent round trip): median %.2f ms\n", kWindows,
              Median(layouts));

  PostMessageW(program.main(), vm::names::WM_TC_UNDOCKALL, 0, 0);
  EXPECT_EQ(program.process().WaitExit(20000), 0u);
}

}  // namespace
