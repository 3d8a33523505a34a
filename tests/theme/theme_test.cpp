// The container follows the user's choice between light and dark apps while
// it runs, and passes settings changes on to the Explorer windows docked in
// it: ordinary ones at once, a burst of colour-set changes once, a second
// after the last (Explorer re-colours itself on each one it gets).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "container/container_theme.h"
#include "tests/docking/docking_support.h"
#include "tests/fixtures/explorer/fixture_client.h"
#include "tests/support/light_apps.h"
#include "tests/support/screen_image.h"

namespace {

using vm::test::ContainerProgram;
using vm::test::ExplorerFixture;
using vm::test::PumpFor;
using vm::test::PumpUntil;

TEST(ColorSetChange, OnlyTheColorSetAreaInAnyCaseCounts) {
  struct Case {
    const wchar_t* area;
    bool colour_set;
  } cases[] = {
      {L"ImmersiveColorSet", true},
      {L"immersivecolorset", true},
      {L"IMMERSIVECOLORSET", true},
      {nullptr, false},
      {L"", false},
      {L"ImmersiveColorSe", false},
      {L"ImmersiveColorSetX", false},
      {L"Policy", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(vm::container::IsColorSetChange(c.area), c.colour_set)
        << (c.area != nullptr ? std::wstring(c.area).size() : 0);
  }
}

// The strip's fill of a tab that is not the active one, drawn in dark mode only.
constexpr COLORREF kDarkTabFill = RGB(13, 13, 13);

// Sent as Windows sends it: the area text travels with the message.
bool SendSettingChange(HWND container, const wchar_t* area) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(container, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(area),
                             SMTO_ABORTIFHUNG, 3000, &result) != 0;
}

// Dark tab fills in the strip's tab row, as the screen shows it.
int DarkFillsIn(HWND container) {
  HWND strip = FindWindowExW(container, nullptr, L"TUnicodePageControl", nullptr);
  RECT row{};
  if (strip == nullptr || !GetWindowRect(strip, &row)) return -1;
  row.bottom = row.top + 40;
  const auto image = vm::test::ScreenImage::Capture();
  return image.ok() ? image.CountPixels(row, kDarkTabFill) : -1;
}

std::size_t ColorSetNotices(const ExplorerFixture& explorer, HWND window) {
  std::size_t n = 0;
  for (const auto& r : explorer.LogFor(window, WM_SETTINGCHANGE)) {
    if (r.lparam == vm::fixture::kAreaColorSet) ++n;
  }
  return n;
}

std::size_t OtherSettingNotices(const ExplorerFixture& explorer, HWND window) {
  std::size_t n = 0;
  for (const auto& r : explorer.LogFor(window, WM_SETTINGCHANGE)) {
    if (r.lparam == vm::fixture::kAreaOther) ++n;
  }
  return n;
}

TEST(Theme, TheContainerFollowsTheAppThemeAndPassesSettingChangesOn) {
  vm::test::LightAppsChoice light_apps;
  ASSERT_TRUE(light_apps.Set(true));
  auto explorer = ExplorerFixture::Start({L"Light", L"Dark", L"Third"});
  ASSERT_NE(explorer, nullptr);
  ContainerProgram program;
  ASSERT_TRUE(program.Start()) << "no container program, or another one is running";
  HWND container = nullptr;
  for (HWND w : explorer->OpenWindows()) {
    container = program.DockAndWait(w);
    ASSERT_NE(container, nullptr);
  }
  // Shown on top, so the screen shows its strip.
  SetWindowPos(container, HWND_TOPMOST, 40, 40, 900, 500, SWP_NOACTIVATE);
  ASSERT_TRUE(PumpUntil([&] { return DarkFillsIn(container) == 0; }, 5000))
      << "light at start: " << DarkFillsIn(container);

  // A burst of three colour-set notices, as the system sends when the user
  // switches to dark apps.
  ASSERT_TRUE(light_apps.Set(false));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(SendSettingChange(container, L"ImmersiveColorSet"));
  const ULONGLONG burst_end = GetTickCount64();
  EXPECT_TRUE(PumpUntil([&] { return DarkFillsIn(container) > 20; }, 5000)) << "dark strip";

  // Each docked window hears of it once, about a second after the last one.
  HWND first = explorer->Window(0);
  ASSERT_TRUE(PumpUntil([&] { return ColorSetNotices(*explorer, first) > 0; }, 5000));
  const ULONGLONG delay = GetTickCount64() - burst_end;
  EXPECT_GE(delay, 800u) << "passed on before the burst was over";
  PumpFor(300);
  for (HWND w : explorer->OpenWindows()) EXPECT_EQ(ColorSetNotices(*explorer, w), 1u);

  // Any other settings change reaches every docked window straight away.
  ASSERT_TRUE(SendSettingChange(container, L"Policy"));
  for (HWND w : explorer->OpenWindows()) {
    EXPECT_TRUE(PumpUntil([&] { return OtherSettingNotices(*explorer, w) == 1; }, 2000));
  }

  // And back to light.
  ASSERT_TRUE(light_apps.Set(true));
  ASSERT_TRUE(SendSettingChange(container, L"ImmersiveColorSet"));
  EXPECT_TRUE(PumpUntil([&] { return DarkFillsIn(container) == 0; }, 5000)) << "light again";
  std::printf("colour-set notice passed on %llu ms after the burst\n", delay);

  PostMessageW(program.main(), vm::names::WM_TC_UNDOCKALL, 0, 0);
  EXPECT_EQ(program.process().WaitExit(20000), 0u);
}

}  // namespace
