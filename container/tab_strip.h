#pragma once
// The container's tab strip: the system tab control ("SysTabControl32",
// superclassed as "TUnicodePageControl") with fixed-width single-line tabs,
// painted over after every system paint with each tab's icon, caption and
// close button, dark fills when dark, and a drop mark while a tab is dragged;
// plus the "+" button beside the last tab.
//
// Ownership and threading: one TabStrip per container window, created and used
// on the container's GUI thread. The strip window is a child of the container;
// the "+" button is a sibling of the strip (a child of the container too), so
// that it can sit in the free band the strip's window region leaves out.
//
// Notifications reach the container through TabStripEvents. The strip learns
// of tab changes (TCN_SELCHANGING/TCN_SELCHANGE) and "+" clicks from the
// messages the system sends to the container, so it subclasses the container
// window (SetWindowSubclass) for WM_NOTIFY and WM_COMMAND from its own
// controls only; everything else passes on untouched.
//
// Positions are in the strip's client coordinates unless said otherwise. On a
// right-to-left shell the strip (and the container) carry WS_EX_LAYOUTRTL and
// the system mirrors those coordinates on screen: tab 0 is at the right and a
// tab's close button at its left, with no extra code here.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "container/tab_strip_metrics.h"

namespace vm::container {

// State of a tab's close button; also the index of its image.
enum class CloseButtonState : int { Normal = 0, Hot = 1, Selected = 2 };

// What the strip tells the container. Called on the GUI thread from inside
// window procedures: implementations must not throw. The click notices
// (OnCloseClicked, OnMiddleClicked, OnAddClicked, OnTabChanged) come last in
// their message's handling, so the container may remove tabs or destroy the
// strip (close itself) from them; OnTabMouseDown may too.
class TabStripEvents {
 public:
  virtual ~TabStripEvents() = default;
  // The user is about to leave tab `current` (TCN_SELCHANGING); answer false to stay.
  virtual bool OnTabChanging(int current) {
    (void)current;
    return true;
  }
  // The user made `active` the active tab (click or keyboard). Not raised for
  // SetActiveIndex.
  virtual void OnTabChanged(int active, int previous) {
    (void)active;
    (void)previous;
  }
  // Left button down at `pt`, before the tab control handles it (it selects
  // the tab next). `tab` is the tab under the point or -1.
  virtual void OnTabMouseDown(int tab, POINT pt) {
    (void)tab;
    (void)pt;
  }
  // Left button released inside tab `tab`'s close button.
  virtual void OnCloseClicked(int tab) { (void)tab; }
  // Middle button released over tab `tab`.
  virtual void OnMiddleClicked(int tab) { (void)tab; }
  // The "+" button was clicked.
  virtual void OnAddClicked() {}
  // The pointer moved over the strip (after hover tracking); for tab drags.
  virtual void OnMouseMove(POINT pt, WPARAM keys) {
    (void)pt;
    (void)keys;
  }
  virtual void OnMouseLeave() {}
  // The strip's size changed: the container relayouts (WM_TC_RELAYOUT).
  virtual void OnResized() {}
  // After the strip painted itself (system tabs and the strip's own drawing).
  virtual void OnAfterPaint(HDC dc) { (void)dc; }
  // Text of tab `tab`'s tooltip; the caption when empty.
  virtual std::wstring TooltipText(int tab) {
    (void)tab;
    return {};
  }
};

struct TabStripOptions {
  bool right_to_left = false;      // the shell runs right-to-left
  bool windows10_or_later = true;  // page area grown by 4 px; drop mark 1 px higher
  int reference_dpi = 0;           // 0: the screen's LOGPIXELSY, read once per process
};

class TabStrip {
 public:
  // Creates the strip and the (hidden) "+" button as children of `container`,
  // with metrics for `dpi` (0: the container's monitor). Null on failure.
  // `events` may be null and must outlive the strip.
  static std::unique_ptr<TabStrip> Create(HWND container, TabStripEvents* events,
                                          const TabStripOptions& options, int dpi = 0);
  ~TabStrip();
  TabStrip(const TabStrip&) = delete;
  TabStrip& operator=(const TabStrip&) = delete;

  HWND hwnd() const { return hwnd_; }
  HWND add_button() const { return add_button_; }
  HWND container() const { return container_; }

  // --- Tabs -------------------------------------------------------------
  int Count() const;
  // Inserts a tab before `index` (Count() or more appends); takes ownership of
  // `icon` (may be null). `data` is the caller's, returned by Data(). Returns
  // the new tab's index, or -1. Does not change the active tab unless
  // `activate` (as SetActiveIndex, no notices), except that the first tab
  // becomes active.
  int Insert(int index, std::wstring caption, HICON icon, void* data = nullptr,
             bool activate = false);
  int Add(std::wstring caption, HICON icon, void* data = nullptr, bool activate = false) {
    return Insert(Count(), std::move(caption), icon, data, activate);
  }
  // Removes tab `index`. The system then picks the new active tab (the one
  // that followed it, or none): the container applies its own rule.
  bool Remove(int index);
  // Moves a tab to another position, keeping it active when it was.
  bool Move(int from, int to);
  bool SetCaption(int index, std::wstring caption);
  // Takes ownership of `icon` and destroys the tab's previous one.
  bool SetIcon(int index, HICON icon);
  const std::wstring& Caption(int index) const;  // empty for a bad index
  HICON Icon(int index) const;
  void* Data(int index) const;
  int IndexOfData(const void* data) const;  // -1 when none

  int ActiveIndex() const;  // -1 when none
  // Makes `index` active without raising OnTabChanging/OnTabChanged.
  bool SetActiveIndex(int index);

  // --- Geometry ---------------------------------------------------------
  std::optional<RECT> TabRect(int index) const;
  // GetCloseButtonRect: none for an index outside the tabs.
  std::optional<RECT> CloseButtonRect(int index) const;
  // The "+" button in strip coordinates; none while it is hidden.
  std::optional<RECT> AddButtonRect() const;
  StripHit HitTest(POINT pt) const;
  // The page area (where the active sheet goes): the system's display
  // rectangle, grown by 4 px on every side on Windows 10 or later.
  RECT DisplayRect() const;

  // ArrangeTabs: tab width from the container's client width, "+" button
  // beside the last tab, window region leaving the band beside the tabs to
  // the container. Call after tabs come or go and when the container's size
  // changes (the container's relayout).
  void Arrange();

  // Turns the strip's redraw off (the system's WM_SETREDRAW) and on again,
  // nested; on again, the strip and its children are invalidated and paint
  // from their queues. While it is off the system passes the strip and its
  // children by when it erases or paints at once, as it does inside a size
  // change of the container: one child is the active docked window, of
  // another thread, and that would wait for the thread.
  void SetRedraw(bool on);

  // --- Looks ------------------------------------------------------------
  // UpdateMetrics: sizes, fonts and close-button images for `dpi` (0: the
  // container's monitor), then tab size and Arrange. The container calls it
  // on creation, WM_SETTINGCHANGE, WM_DPICHANGED and when shown.
  void UpdateMetrics(int dpi = 0);
  const StripMetrics& metrics() const { return metrics_; }

  // Drawn dark (the container decides, see dark_mode.h, and switches its
  // frame). Also gives the "+" button its matching image.
  void SetDarkTheme(bool dark);
  bool dark_theme() const { return dark_; }
  // The container looks active: the active tab's dark fill is lighter.
  void SetContainerActive(bool active);
  // The tab row lies on the extended glass frame: painted areas are made
  // opaque, the "+" button is custom-drawn.
  void SetUseGlassBorder(bool glass);
  bool use_glass_border() const { return glass_; }
  // Insertion mark of a tab drag: before tab `index`, Count() = after the
  // last, -1 = none.
  void SetDropMarkIndex(int index);
  int drop_mark_index() const { return drop_mark_; }

  // Hover state of the close buttons (kept from mouse moves).
  int hovered_tab() const { return hovered_tab_; }
  CloseButtonState hovered_close_state() const { return hovered_state_; }

  // The DPI of the monitor `window` is on (the reference DPI where the system
  // cannot tell).
  static int MonitorDpi(HWND window);
  // The system DPI all metrics are reported in.
  static int SystemDpi();

 private:
  struct Tab;
  TabStrip(HWND container, TabStripEvents* events, const TabStripOptions& options);
  bool CreateWindows(int dpi);
  static bool RegisterStripClass();

  static LRESULT CALLBACK StripProc(HWND, UINT, WPARAM, LPARAM) noexcept;
  static LRESULT CALLBACK ContainerSubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR,
                                                DWORD_PTR) noexcept;
  LRESULT OnStripMessage(UINT msg, WPARAM wparam, LPARAM lparam);
  bool OnContainerNotify(const NMHDR& hdr, LRESULT& result);
  LRESULT OnAddButtonCustomDraw(NMCUSTOMDRAW& cd);
  LRESULT CallSystem(UINT msg, WPARAM wparam, LPARAM lparam);

  void Paint(HDC target);
  void PaintBuffered();
  void FillBackground(HDC dc, const RECT& client);
  void PaintTabs(HDC dc);
  void MakeOpaque(HDC dc, const RECT& area);
  // What the system's painting of the tabs depends on.
  struct LayerKey {
    SIZE size{0, 0};
    int rects = -1, active = -1, focus_item = -1, hot = -1;
    RECT first{}, last{};
    bool focused = false, enabled = true, dark = false, glass = false;
    unsigned generation = 0;
    bool operator==(const LayerKey& o) const {
      return size.cx == o.size.cx && size.cy == o.size.cy && rects == o.rects &&
             active == o.active && focus_item == o.focus_item && hot == o.hot &&
             EqualRect(&first, &o.first) && EqualRect(&last, &o.last) && focused == o.focused &&
             enabled == o.enabled && dark == o.dark && glass == o.glass &&
             generation == o.generation;
    }
  };
  LayerKey CurrentLayerKey(const RECT& client) const;
  // Brings the system layer (background and the system's tabs) up to date;
  // false when there is none (the caller paints them itself).
  bool UpdateSystemLayer(HDC dc, const RECT& client);

  void OnMouseMove(POINT pt, WPARAM keys);
  void OnMouseLeave();
  void InvalidateCloseButton(int index);
  void CreateCloseButtonImages();
  void ReleaseImageDc();
  // The tab's icon from its prepared image; false when there is none (the
  // caller draws the icon itself).
  bool DrawIconImage(HDC dc, Tab& tab, Point at);
  void UpdateAddButtonImage();
  void ApplyItemSize(int width);
  // Runs `change` with the strip's redraw off, then invalidates the strip and
  // its children.
  void WithoutRedraw(const std::function<void()>& change);
  // The strip's window region: `extent` less `cut` (none when `cut` is empty).
  void SetRegionCut(const RECT& cut, const RECT& extent);
  void CollectTabRects() const;

  HWND container_ = nullptr;
  HWND hwnd_ = nullptr;
  HWND add_button_ = nullptr;
  TabStripEvents* events_ = nullptr;
  TabStripOptions options_;
  std::vector<Tab> tabs_;
  StripMetrics metrics_;
  HFONT bold_font_ = nullptr;
  HFONT normal_font_ = nullptr;
  HIMAGELIST close_images_ = nullptr;
  // Holds `close_strip_` (the three close images side by side on the mask
  // colour) between paints, and lends itself to the tab icons' images.
  HDC image_dc_ = nullptr;
  HGDIOBJ image_dc_old_ = nullptr;
  HBITMAP close_strip_ = nullptr;
  bool dark_ = false;
  bool container_active_ = false;
  bool glass_ = false;
  int drop_mark_ = -1;
  int hovered_tab_ = -1;
  CloseButtonState hovered_state_ = CloseButtonState::Normal;
  bool subclassed_ = false;
  bool buffered_paint_ = false;
  int previous_active_ = -1;
  std::wstring tooltip_text_;
  mutable std::vector<Rect> rects_;  // reused by painting and hit-testing
  // What Arrange last gave the system, so that it repeats nothing.
  SIZE item_size_{-1, -1};
  RECT region_cut_{};
  RECT region_extent_{};
  bool region_set_ = false;
  // Painting is put off while the system changes the tab layout (it would
  // repaint at once); `paint_put_off_` says a paint was asked for meanwhile.
  int redraw_off_ = 0;  // SetRedraw(false) calls not yet undone
  bool putting_off_paint_ = false;
  bool paint_put_off_ = false;
  // What rects_ was collected for: tab count, active tab, first and last
  // tab rectangles. Fixed-width tabs in one row lie evenly between those.
  struct RectsKey {
    int count = -1, active = -1;
    RECT first{}, last{};
  };
  mutable RectsKey rects_key_;
  // Back buffer of the double-buffered paint, kept between paints.
  HDC buffer_dc_ = nullptr;
  HBITMAP buffer_bitmap_ = nullptr;
  HGDIOBJ buffer_old_ = nullptr;
  SIZE buffer_size_{0, 0};
  // The system layer: what FillBackground and the system's own painting
  // drew, for the key it was drawn for.
  HDC layer_dc_ = nullptr;
  HBITMAP layer_bitmap_ = nullptr;
  HGDIOBJ layer_old_ = nullptr;
  LayerKey layer_key_;
  unsigned layer_generation_ = 0;
};

}  // namespace vm::container
