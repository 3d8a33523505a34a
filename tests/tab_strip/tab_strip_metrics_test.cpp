// The strip's geometry and theme choice as plain code: DPI scaling, tab
// widths, the places inside a tab, the close glyph, the drop mark, hit-testing.
#include <gtest/gtest.h>

#include <vector>

#include "container/dark_mode.h"
#include "container/tab_strip_metrics.h"

namespace vm::container {
namespace {

TEST(StripMetrics, ScaleWithTheMonitorDpi) {
  RawMetrics raw;
  raw.minimized_width = 160;
  raw.caption_height = 23;
  raw.small_icon_width = 16;
  raw.small_icon_height = 16;
  raw.caption_button_width = 36;
  raw.message_font_height = -12;
  struct Case {
    int target, reference;
    StripMetrics want;  // dpi, minimized, caption, caption button, icon w/h, font, close, glyph
  };
  const Case cases[] = {
      {96, 96, {96, 160, 23, 36, 16, 16, -12, 12, 1}},
      {120, 96, {120, 200, 29, 45, 20, 20, -15, 15, 1}},
      {144, 96, {144, 240, 35, 54, 24, 24, -18, 18, 1}},
      {192, 96, {192, 320, 46, 72, 32, 32, -24, 24, 2}},
      // A 144-DPI system reports larger metrics; a 96-DPI monitor shrinks them.
      {96, 144, {96, 107, 15, 24, 11, 11, -8, 12, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.target << " on " << c.reference);
    StripMetrics m = ComputeStripMetrics(raw, c.target, c.reference);
    EXPECT_EQ(m.dpi, c.want.dpi);
    EXPECT_EQ(m.minimized_width, c.want.minimized_width);
    EXPECT_EQ(m.caption_height, c.want.caption_height);
    EXPECT_EQ(m.caption_button_width, c.want.caption_button_width);
    EXPECT_EQ(m.icon_width, c.want.icon_width);
    EXPECT_EQ(m.icon_height, c.want.icon_height);
    EXPECT_EQ(m.font_height, c.want.font_height);
    EXPECT_EQ(m.close_button_size, c.want.close_button_size);
    EXPECT_EQ(m.close_glyph_width, c.want.close_glyph_width);
  }
  // Without the non-client metrics the font and caption-button values stay 0.
  RawMetrics bare;
  StripMetrics m = ComputeStripMetrics(bare, 144, 96);
  EXPECT_EQ(m.font_height, 0);
  EXPECT_EQ(m.caption_button_width, 0);
  EXPECT_EQ(ScaleForDpi(7, 144, 0), 7) << "no reference: unscaled";
}

TEST(StripMetrics, TabWidthSharesTheRowUpToTheMinimizedWidth) {
  struct Case {
    int available, height, count, minimized, want;
  };
  const Case cases[] = {
      {1000, 20, 10, 160, 96},  // (1000 - 20 - 6) / 10 - 1
      {1000, 20, 10, 90, 90},   // never wider than a minimised window
      {1000, 20, 3, 160, 160}, {1000, 20, 1, 160, 160},
      {997, 23, 7, 200, 137},  // 968 / 7 = 138.28 -> 138 - 1
      {100, 20, 30, 160, 1},   // too narrow: one pixel, never zero or negative
      {20, 20, 1, 160, 1},     {1000, 20, 0, 160, 160},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TabWidth(c.available, c.height, c.count, c.minimized), c.want)
        << c.available << " px, " << c.count << " tabs";
  }
}

TEST(StripMetrics, PlacesInsideATab) {
  const Rect tab{100, 2, 200, 25};  // 23 high
  EXPECT_EQ(CloseButtonRect(tab, 12), (Rect{184, 7, 196, 19}));
  EXPECT_EQ(CloseButtonRect({0, 0, 96, 20}, 12), (Rect{80, 4, 92, 16}));
  EXPECT_EQ(CloseButtonRect({0, 0, 96, 20}, 24), (Rect{68, -2, 92, 22})) << "towards zero";
  EXPECT_EQ(TabIconOrigin(tab, 16), (Point{104, 5}));
  EXPECT_EQ(TabTextRect(tab, 16, 12), (Rect{124, 2, 180, 25}));
  EXPECT_EQ(AddButtonRect(tab, 23), (Rect{202, 2, 227, 25}));
  EXPECT_EQ(FreeBandBesideTabs({0, 0, 800, 300}, tab), (Rect{202, 0, 800, 25}));
}

TEST(StripMetrics, CloseGlyphStrokesThickenWithDpi) {
  // 96 DPI: a 12 px image, g = 1: two passes, the second with its extra pair.
  const std::vector<Stroke> at96 = {
      {{2, 3}, {9, 10}},  {{2, 8}, {9, 1}},   // i = 0
      {{3, 2}, {10, 9}},  {{3, 9}, {10, 2}},  // i = 1
      {{2, 2}, {10, 10}}, {{2, 9}, {10, 1}},
  };
  EXPECT_EQ(CloseGlyphStrokes(12, 1), at96);
  EXPECT_EQ(CloseGlyphStrokes(18, 1).size(), 6u);
  // 192 DPI: 24 px, g = 2: three passes of the loop.
  const auto at192 = CloseGlyphStrokes(24, 2);
  ASSERT_EQ(at192.size(), 10u);
  EXPECT_EQ(at192[0], (Stroke{{4, 6}, {18, 20}}));
  EXPECT_EQ(at192[8], (Stroke{{5, 4}, {20, 19}}));
  EXPECT_TRUE(CloseGlyphStrokes(0, 1).empty());
}

TEST(StripMetrics, DropMarkSitsInTheGapBeforeATab) {
  const std::vector<Rect> tabs = {{0, 2, 100, 25}, {100, 2, 200, 25}, {200, 2, 300, 25}};
  EXPECT_EQ(DropMarkRect(tabs, 1), (Rect{95, 0, 104, 27}));
  EXPECT_EQ(DropMarkRect(tabs, 3), (Rect{295, 0, 304, 27})) << "after the last tab";
  EXPECT_TRUE(DropMarkRect(tabs, 4).empty());
  EXPECT_TRUE(DropMarkRect(tabs, -1).empty());
  EXPECT_TRUE(DropMarkRect({}, 0).empty());
  auto strokes = DropMarkStrokes(tabs, 1, true);
  ASSERT_TRUE(strokes);
  // One pixel higher on Windows 10: T = 1, B = 24; x = 100, l = 99, r = 100.
  EXPECT_EQ((*strokes)[0], (Stroke{{97, 1}, {103, 1}}));
  EXPECT_EQ((*strokes)[5], (Stroke{{100, 3}, {100, 23}}));
  EXPECT_EQ((*DropMarkStrokes(tabs, 1, false))[0], (Stroke{{97, 2}, {103, 2}}));
  EXPECT_FALSE(DropMarkStrokes(tabs, -1, true));
}

TEST(StripMetrics, HitTestFindsTabsCloseButtonsAndPlus) {
  const std::vector<Rect> tabs = {{0, 2, 96, 25}, {96, 2, 192, 25}};
  const Rect plus{194, 2, 219, 25};
  struct Case {
    Point p;
    StripHit want;
  };
  const Case cases[] = {
      {{10, 10}, {StripPart::Tab, 0}},
      {{150, 10}, {StripPart::Tab, 1}},
      {{85, 13}, {StripPart::CloseButton, 0}},  // close of tab 0: x 80..91, y 7..18
      {{80, 7}, {StripPart::CloseButton, 0}},
      {{92, 13}, {StripPart::Tab, 0}},  // just right of it
      {{180, 18}, {StripPart::CloseButton, 1}},
      {{180, 19}, {StripPart::Tab, 1}},
      {{200, 10}, {StripPart::AddButton, -1}},
      {{193, 10}, {}},  // the gap
      {{400, 10}, {}},
      {{10, 40}, {}},  // below the tabs
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HitTestStrip(c.p, tabs, 12, plus), c.want) << c.p.x << "," << c.p.y;
  }
  EXPECT_EQ(HitTestStrip({200, 10}, tabs, 12, Rect{}), StripHit{}) << "hidden \"+\"";
}

TEST(DarkMode, FollowsTheUsersAppChoiceByBuild) {
  struct Case {
    DarkModeInputs in;
    bool dark;
  };
  const Case cases[] = {
      {{19045, false, std::nullopt}, true},  // AppsUseLightTheme 0 (or missing)
      {{19045, true, std::nullopt}, false},
      {{18363, false, std::nullopt}, true},
      {{18362, false, std::nullopt}, true},
      {{22631, true, std::nullopt}, false},
      {{17727, false, true}, false},  // up to 17727: light
      {{17134, false, true}, false},
      {{9600, false, std::nullopt}, false},  // before Windows 10
      {{17763, false, true}, true},          // between: uxtheme decides
      {{17763, false, false}, false},
      {{17763, false, std::nullopt}, false},  // entry point missing
      {{18361, true, true}, true},            // the registry is not consulted there
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DarkThemeWanted(c.in), c.dark) << "build " << c.in.build;
  }
  EXPECT_EQ(ImmersiveDarkModeAttribute(19045), 20u);
  EXPECT_EQ(ImmersiveDarkModeAttribute(19023), 20u);
  EXPECT_EQ(ImmersiveDarkModeAttribute(18363), 19u);
}

TEST(DarkMode, ReadsOnlyWhatTheBuildNeeds) {
  // Under test the registry value is whatever the prefix holds; the uxtheme
  // query must not be consulted outside its builds.
  EXPECT_FALSE(ReadDarkModeInputs(19045).should_apps_use_dark.has_value());
  EXPECT_FALSE(ReadDarkModeInputs(9600).should_apps_use_dark.has_value());
  EXPECT_FALSE(ReadDarkModeInputs(9600).apps_use_light_theme);
}

}  // namespace
}  // namespace vm::container
