#pragma once
// The tab strip's geometry as plain code: DPI scaling of the system metrics,
// tab width, close-button and "+" button rectangles, the text and icon
// places inside a tab, the close glyph's strokes, the drop mark and
// hit-testing. Everything is in the strip's logical client coordinates; on a
// right-to-left strip the system mirrors those to the screen, so none of this
// needs to know the reading direction.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace vm::container {

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool empty() const { return right <= left || bottom <= top; }
  bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

struct Point {
  int x = 0, y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// System metrics as the system reports them at the reference (system) DPI.
struct RawMetrics {
  int minimized_width = 160;   // SM_CXMINIMIZED
  int caption_height = 23;     // SM_CYCAPTION
  int small_icon_width = 16;   // SM_CXSMICON
  int small_icon_height = 16;  // SM_CYSMICON
  // From SPI_GETNONCLIENTMETRICS, when that call worked.
  std::optional<int> caption_button_width;  // iCaptionWidth
  std::optional<int> message_font_height;   // lfMessageFont.lfHeight (may be negative)
};

// The strip's sizes at the DPI of the container's monitor.
struct StripMetrics {
  int dpi = 96;
  int minimized_width = 0;       // the widest a tab gets
  int caption_height = 0;        // the tab height
  int caption_button_width = 0;  // used by the container's frame hit-testing
  int icon_width = 0;
  int icon_height = 0;
  int font_height = 0;        // 0 when the non-client metrics were unavailable
  int close_button_size = 0;  // side of the square close button
  int close_glyph_width = 0;  // extra thickness of the cross strokes
};

// MulDiv as the system rounds it (half away from zero); `reference` 0 gives value.
int ScaleForDpi(int value, int target_dpi, int reference_dpi);

// Scales what the system reported at `reference_dpi` to `target_dpi`. The
// close button follows 96 DPI directly: 12 px at 96, 18 at 144, 24 at 192.
StripMetrics ComputeStripMetrics(const RawMetrics& raw, int target_dpi, int reference_dpi);

// Width of each tab: the room left of the "+" button shared by the tabs, but
// never wider than `minimized_width`. `available_width` is the container's
// client width (less the caption buttons when they overlap the row).
int TabWidth(int available_width, int tab_height, int tab_count, int minimized_width);

// The close button sits 4 px from the tab's far edge, centred vertically.
Rect CloseButtonRect(const Rect& tab, int close_button_size);

// Where a tab's icon is drawn (top-left corner).
Point TabIconOrigin(const Rect& tab, int icon_height);

// The caption's rectangle: after the icon, before the close button.
Rect TabTextRect(const Rect& tab, int icon_width, int close_button_size);

// The "+" button beside the last tab (both in the same coordinates).
Rect AddButtonRect(const Rect& last_tab, int tab_height);

// The part of the strip's client area that stays in its window region: all
// but the free band right of the last tab (where the "+" button and the
// container's caption area show through). Returned as the band to cut away.
Rect FreeBandBesideTabs(const Rect& client, const Rect& last_tab);

// One pen stroke of the close glyph; LineTo semantics (end point excluded).
struct Stroke {
  Point from, to;
  friend bool operator==(const Stroke&, const Stroke&) = default;
};

// The strokes of the cross in a size x size image with extra thickness g.
std::vector<Stroke> CloseGlyphStrokes(int size, int glyph_width);

// Insertion mark of a drag: the gap before tab `index` (tab_count = after the
// last). Empty for a negative index, no tabs or an index past the end.
Rect DropMarkRect(std::span<const Rect> tabs, int index);

// The mark's six strokes (end points excluded); on Windows 10 or later the
// mark sits one pixel higher. Nothing when DropMarkRect would be empty.
std::optional<std::array<Stroke, 6>> DropMarkStrokes(std::span<const Rect> tabs, int index,
                                                     bool windows10_or_later);

enum class StripPart { None, Tab, CloseButton, AddButton };

struct StripHit {
  StripPart part = StripPart::None;
  int index = -1;  // the tab for Tab and CloseButton
  friend bool operator==(const StripHit&, const StripHit&) = default;
};

// What lies under point p. `add_button` is in the same coordinates as the
// tabs (empty when hidden).
StripHit HitTestStrip(Point p, std::span<const Rect> tabs, int close_button_size,
                      const Rect& add_button);

}  // namespace vm::container
