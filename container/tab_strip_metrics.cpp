#include "container/tab_strip_metrics.h"

#include <algorithm>
#include <cstdlib>

namespace vm::container {

int ScaleForDpi(int value, int target_dpi, int reference_dpi) {
  if (reference_dpi <= 0) return value;
  const long long product = static_cast<long long>(value) * target_dpi;
  const long long half = reference_dpi / 2;
  const long long rounded =
      product >= 0 ? (product + half) / reference_dpi : -((-product + half) / reference_dpi);
  return static_cast<int>(rounded);
}

StripMetrics ComputeStripMetrics(const RawMetrics& raw, int target_dpi, int reference_dpi) {
  auto scale = [&](int v) { return ScaleForDpi(v, target_dpi, reference_dpi); };
  StripMetrics m;
  m.dpi = target_dpi;
  m.minimized_width = scale(raw.minimized_width);
  m.caption_height = scale(raw.caption_height);
  m.icon_width = scale(raw.small_icon_width);
  m.icon_height = scale(raw.small_icon_height);
  m.caption_button_width = raw.caption_button_width ? scale(*raw.caption_button_width) : 0;
  m.font_height = raw.message_font_height ? scale(*raw.message_font_height) : 0;
  // The close button is drawn for 96 DPI and grows with the monitor, not with
  // the system metrics.
  m.close_button_size = ScaleForDpi(12, target_dpi, 96);
  m.close_glyph_width = target_dpi / 96;
  return m;
}

int TabWidth(int available_width, int tab_height, int tab_count, int minimized_width) {
  if (tab_count <= 0) return minimized_width;
  // C++ division truncates towards zero, as the layout wants.
  const int shared = (available_width - tab_height - 6) / tab_count - 1;
  // A container narrower than its tabs still gets tabs of at least one pixel:
  // the system tab control takes 0 or less as "use your default width".
  return std::max(1, std::min(shared, minimized_width));
}

Rect CloseButtonRect(const Rect& tab, int size) {
  Rect r;
  r.left = tab.right - size - 4;
  r.top = tab.top + (tab.height() - size) / 2;
  r.right = r.left + size;
  r.bottom = r.top + size;
  return r;
}

Point TabIconOrigin(const Rect& tab, int icon_height) {
  return {tab.left + 4, tab.top + (tab.height() - icon_height) / 2};
}

Rect TabTextRect(const Rect& tab, int icon_width, int close_button_size) {
  return {tab.left + 4 + icon_width + icon_width / 4, tab.top,
          tab.right - (icon_width / 4 + close_button_size + 4), tab.bottom};
}

Rect AddButtonRect(const Rect& last_tab, int tab_height) {
  return {last_tab.right + 2, last_tab.top, last_tab.right + tab_height + 4,
          last_tab.top + tab_height};
}

Rect FreeBandBesideTabs(const Rect& client, const Rect& last_tab) {
  return {last_tab.right + 2, client.top, client.right, last_tab.bottom};
}

std::vector<Stroke> CloseGlyphStrokes(int size, int g) {
  std::vector<Stroke> strokes;
  if (size <= 0 || g < 0) return strokes;
  const int inset = (size + 3) / 6;  // size / 6, rounded
  const int L = inset, T = inset, R = size - inset, B = size - inset;
  for (int i = 0; i <= g; ++i) {
    strokes.push_back({{L + i, T - i + g}, {R + i - g, B - i}});
    strokes.push_back({{L + i, B + i - g - 1}, {R + i - g, T + i - 1}});
    if (i > 0) {
      strokes.push_back({{L + i - 1, T - i + g}, {R + i - g, B - i + 1}});
      strokes.push_back({{L + i - 1, B + i - g - 1}, {R + i - g, T + i - 2}});
    }
  }
  return strokes;
}

Rect DropMarkRect(std::span<const Rect> tabs, int index) {
  const int count = static_cast<int>(tabs.size());
  if (index < 0 || count == 0 || index > count) return {};
  const int x = index < count ? tabs[index].left : tabs[count - 1].right;
  return {x - 1 - 4, tabs[0].top - 2, x + 4, tabs[0].bottom + 2};
}

std::optional<std::array<Stroke, 6>> DropMarkStrokes(std::span<const Rect> tabs, int index,
                                                     bool windows10_or_later) {
  if (DropMarkRect(tabs, index).empty()) return std::nullopt;
  const int count = static_cast<int>(tabs.size());
  const int x = index < count ? tabs[index].left : tabs[count - 1].right;
  const int shift = windows10_or_later ? 1 : 0;
  const int T = tabs[0].top - shift, B = tabs[0].bottom - shift;
  const int l = x - 1, r = x;
  return std::array<Stroke, 6>{{
      {{l - 2, T}, {r + 3, T}},
      {{l - 2, B}, {r + 3, B}},
      {{l - 1, T + 1}, {r + 2, T + 1}},
      {{l - 1, B - 1}, {r + 2, B - 1}},
      {{l, T + 2}, {l, B - 1}},
      {{r, T + 2}, {r, B - 1}},
  }};
}

StripHit HitTestStrip(Point p, std::span<const Rect> tabs, int close_button_size,
                      const Rect& add_button) {
  if (add_button.contains(p.x, p.y)) return {StripPart::AddButton, -1};
  for (std::size_t i = 0; i < tabs.size(); ++i) {
    if (!tabs[i].contains(p.x, p.y)) continue;
    const int index = static_cast<int>(i);
    if (CloseButtonRect(tabs[i], close_button_size).contains(p.x, p.y)) {
      return {StripPart::CloseButton, index};
    }
    return {StripPart::Tab, index};
  }
  return {};
}

}  // namespace vm::container
