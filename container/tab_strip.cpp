#include "container/tab_strip.h"

#include <dwmapi.h>
#include <shellscalingapi.h>
#include <uxtheme.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>

#include "common/unique_handle.h"

namespace vm::container {
namespace {

constexpr wchar_t kStripClass[] = L"TUnicodePageControl";

// Colours of the strip's own drawing.
constexpr COLORREF kDarkTabFill = RGB(13, 13, 13);
constexpr COLORREF kDarkActiveFill = RGB(32, 32, 32);
constexpr COLORREF kDarkActiveFillInactiveContainer = RGB(24, 24, 24);
constexpr COLORREF kDarkActiveEdge = RGB(48, 48, 48);
constexpr COLORREF kDarkActiveEdgeInactiveContainer = RGB(32, 32, 32);
constexpr COLORREF kDarkBackground = RGB(32, 32, 32);
constexpr COLORREF kDarkActiveText = RGB(255, 255, 255);
constexpr COLORREF kDarkText = RGB(128, 128, 128);
// Close-button pens by CloseButtonState: normal, hot, active tab.
constexpr COLORREF kClosePens[] = {RGB(128, 128, 128), RGB(255, 116, 100), RGB(140, 44, 20)};
constexpr COLORREF kImageMask = RGB(255, 0, 255);
// "+" button face on glass in dark mode: pressed, hot, normal.
constexpr COLORREF kAddPressed = RGB(102, 102, 102);
constexpr COLORREF kAddHot = RGB(69, 69, 69);
constexpr COLORREF kAddNormal = RGB(51, 51, 51);

// The superclass: the system tab control's procedure and where our pointer
// goes in the window's extra bytes (after the system's own).
WNDPROC g_system_proc = nullptr;
int g_self_offset = 0;

void FillSolid(HDC dc, const RECT& r, COLORREF color) {
  SetDCBrushColor(dc, color);
  FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
}

RECT ToRECT(const Rect& r) { return {r.left, r.top, r.right, r.bottom}; }
Rect ToRect(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

// Maps a rectangle between windows; mirrored windows may swap its edges.
RECT MapRect(HWND from, HWND to, RECT r) {
  MapWindowPoints(from, to, reinterpret_cast<POINT*>(&r), 2);
  if (r.left > r.right) std::swap(r.left, r.right);
  if (r.top > r.bottom) std::swap(r.top, r.bottom);
  return r;
}

struct IconTraits {
  static HICON invalid() noexcept { return nullptr; }
  static bool valid(HICON h) noexcept { return h != nullptr; }
  static void close(HICON h) noexcept { DestroyIcon(h); }
};

// The two "+" images (12 x 12, a plus two pixels thick on rows and columns 5
// and 6 from 1 to 10): dark glyph on white for light mode, light glyph on
// black for dark mode; the background is transparent. Built once per process.
HIMAGELIST AddButtonImages(bool inverted) {
  static HIMAGELIST lists[2] = {nullptr, nullptr};
  HIMAGELIST& list = lists[inverted ? 1 : 0];
  if (list != nullptr) return list;
  const COLORREF background = inverted ? RGB(0, 0, 0) : RGB(255, 255, 255);
  const COLORREF glyph = inverted ? RGB(215, 215, 215) : RGB(40, 40, 40);
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = 12;
  bi.bmiHeader.biHeight = -12;  // top-down
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (bitmap == nullptr) {
    DeleteDC(dc);
    return nullptr;
  }
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT all{0, 0, 12, 12};
  FillSolid(dc, all, background);
  RECT across{1, 5, 11, 7};
  RECT down{5, 1, 7, 11};
  FillSolid(dc, across, glyph);
  FillSolid(dc, down, glyph);
  SelectObject(dc, old);
  DeleteDC(dc);
  list = ImageList_Create(12, 12, ILC_COLOR24 | ILC_MASK, 1, 0);
  if (list != nullptr) ImageList_AddMasked(list, bitmap, background);
  DeleteObject(bitmap);
  return list;
}

}  // namespace

struct BitmapTraits {
  static HBITMAP invalid() noexcept { return nullptr; }
  static bool valid(HBITMAP h) noexcept { return h != nullptr; }
  static void close(HBITMAP h) noexcept { DeleteObject(h); }
};

struct TabStrip::Tab {
  std::wstring caption;
  UniqueResource<HICON, IconTraits> icon;
  void* data = nullptr;
  // The icon at tab-icon size with premultiplied alpha, made at its first
  // paint: one blend per paint instead of DrawIconEx's temporary contexts.
  UniqueResource<HBITMAP, BitmapTraits> icon_image;
};

namespace {

// A top-down 32-bit DIB section of the given size; its bits in `bits`.
HBITMAP CreateBgra(HDC dc, int width, int height, void** bits) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  return CreateDIBSection(dc, &bi, DIB_RGB_COLORS, bits, nullptr, 0);
}

// `icon` drawn by DrawIconEx at width x height, as premultiplied BGRA: drawn
// once on black and once on white, the difference is the transparency.
// Null when the system cannot make the bitmaps.
HBITMAP PremultipliedIcon(HDC scratch, HICON icon, int width, int height) {
  if (icon == nullptr || width <= 0 || height <= 0) return nullptr;
  void* black_bits = nullptr;
  void* white_bits = nullptr;
  HBITMAP black = CreateBgra(scratch, width, height, &black_bits);
  HBITMAP white = CreateBgra(scratch, width, height, &white_bits);
  if (black == nullptr || white == nullptr) {
    if (black != nullptr) DeleteObject(black);
    if (white != nullptr) DeleteObject(white);
    return nullptr;
  }
  const RECT all{0, 0, width, height};
  HGDIOBJ old = SelectObject(scratch, black);
  FillRect(scratch, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  DrawIconEx(scratch, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  SelectObject(scratch, white);
  FillRect(scratch, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  DrawIconEx(scratch, 0, 0, icon, width, height, 0, nullptr, DI_NORMAL);
  SelectObject(scratch, old);
  GdiFlush();
  auto* on_black = static_cast<std::uint8_t*>(black_bits);
  const auto* on_white = static_cast<const std::uint8_t*>(white_bits);
  for (int i = 0; i < width * height * 4; i += 4) {
    // On white minus on black is what shows through; the green channel
    // stands for all three.
    const int through = on_white[i + 1] - on_black[i + 1];
    on_black[i + 3] = static_cast<std::uint8_t>(255 - std::clamp(through, 0, 255));
  }
  DeleteObject(white);
  return black;
}

}  // namespace

// ---------------------------------------------------------------------------
// Creation and destruction

bool TabStrip::RegisterStripClass() {
  static const bool registered = [] {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    if (!GetClassInfoExW(nullptr, WC_TABCONTROLW, &wc)) return false;
    g_system_proc = wc.lpfnWndProc;
    g_self_offset = wc.cbWndExtra;
    wc.cbWndExtra += sizeof(void*);
    wc.lpfnWndProc = StripProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kStripClass;
    wc.style &= ~CS_GLOBALCLASS;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

TabStrip::TabStrip(HWND container, TabStripEvents* events, const TabStripOptions& options)
    : container_(container), events_(events), options_(options) {}

std::unique_ptr<TabStrip> TabStrip::Create(HWND container, TabStripEvents* events,
                                           const TabStripOptions& options, int dpi) {
  if (container == nullptr || !IsWindow(container) || !RegisterStripClass()) return nullptr;
  std::unique_ptr<TabStrip> strip(new TabStrip(container, events, options));
  if (!strip->CreateWindows(dpi)) return nullptr;
  return strip;
}

bool TabStrip::CreateWindows(int dpi) {
  static TabStripEvents no_events;
  if (events_ == nullptr) events_ = &no_events;
  if (options_.reference_dpi <= 0) options_.reference_dpi = SystemDpi();
  buffered_paint_ = SUCCEEDED(BufferedPaintInit());

  RECT client;
  GetClientRect(container_, &client);
  const DWORD ex_style = options_.right_to_left ? WS_EX_LAYOUTRTL : 0;
  // Fixed-width single-line tabs; the active sheet is a child of the strip
  // and must not be painted over.
  const DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | TCS_TOOLTIPS |
                      TCS_FORCELABELLEFT | TCS_FIXEDWIDTH | TCS_SINGLELINE;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  hwnd_ = CreateWindowExW(ex_style, kStripClass, L"", style, 0, 0, client.right, client.bottom,
                          container_, nullptr, instance, this);
  if (hwnd_ == nullptr) return false;

  // The tooltip shows whether or not the container is active, belongs to no
  // window (so it is not hidden with one) and is made topmost when it shows.
  if (HWND tooltip = reinterpret_cast<HWND>(SendMessageW(hwnd_, TCM_GETTOOLTIPS, 0, 0))) {
    SetWindowLongPtrW(tooltip, GWL_STYLE, GetWindowLongPtrW(tooltip, GWL_STYLE) | TTS_ALWAYSTIP);
    SetWindowLongPtrW(tooltip, GWLP_HWNDPARENT, 0);
  }

  add_button_ = CreateWindowExW(0, WC_BUTTONW, L"+", WS_CHILD | WS_CLIPSIBLINGS | BS_PUSHBUTTON, 0,
                                0, 25, 25, container_, nullptr, instance, nullptr);
  if (add_button_ == nullptr) return false;

  subclassed_ =
      SetWindowSubclass(container_, ContainerSubclassProc, reinterpret_cast<UINT_PTR>(this),
                        reinterpret_cast<DWORD_PTR>(this));
  if (!subclassed_) return false;

  UpdateMetrics(dpi);
  UpdateAddButtonImage();
  return true;
}

TabStrip::~TabStrip() {
  if (subclassed_ && IsWindow(container_)) {
    RemoveWindowSubclass(container_, ContainerSubclassProc, reinterpret_cast<UINT_PTR>(this));
  }
  if (hwnd_ != nullptr) {
    // Detach first: the strip's last messages must not reach a dying object.
    SetWindowLongPtrW(hwnd_, g_self_offset, 0);
    DestroyWindow(hwnd_);
  }
  if (add_button_ != nullptr && IsWindow(add_button_)) DestroyWindow(add_button_);
  if (bold_font_ != nullptr) DeleteObject(bold_font_);
  if (normal_font_ != nullptr) DeleteObject(normal_font_);
  if (close_images_ != nullptr) ImageList_Destroy(close_images_);
  ReleaseImageDc();
  if (buffer_dc_ != nullptr) {
    SelectObject(buffer_dc_, buffer_old_);
    DeleteDC(buffer_dc_);
  }
  if (buffer_bitmap_ != nullptr) DeleteObject(buffer_bitmap_);
  if (layer_dc_ != nullptr) {
    if (layer_bitmap_ != nullptr) SelectObject(layer_dc_, layer_old_);
    DeleteDC(layer_dc_);
  }
  if (layer_bitmap_ != nullptr) DeleteObject(layer_bitmap_);
  if (buffered_paint_) BufferedPaintUnInit();
}

int TabStrip::SystemDpi() {
  static const int dpi = [] {
    HDC screen = GetDC(nullptr);
    int value = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return value > 0 ? value : 96;
  }();
  return dpi;
}

int TabStrip::MonitorDpi(HWND window) {
  // Per-monitor DPI exists from Windows 8.1 on; looked up at run time.
  using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, MONITOR_DPI_TYPE, UINT*, UINT*);
  static const GetDpiForMonitorFn get_dpi = [] {
    HMODULE shcore = LoadLibraryW(L"shcore.dll");
    return shcore ? reinterpret_cast<GetDpiForMonitorFn>(GetProcAddress(shcore, "GetDpiForMonitor"))
                  : nullptr;
  }();
  if (window != nullptr && get_dpi != nullptr) {
    UINT x = 0, y = 0;
    HMONITOR monitor = MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST);
    if (monitor != nullptr && SUCCEEDED(get_dpi(monitor, MDT_EFFECTIVE_DPI, &x, &y)) && y > 0) {
      return static_cast<int>(y);
    }
  }
  return SystemDpi();
}

// ---------------------------------------------------------------------------
// Tabs

int TabStrip::Count() const { return static_cast<int>(tabs_.size()); }

int TabStrip::Insert(int index, std::wstring caption, HICON icon, void* data, bool activate) {
  Tab tab{std::move(caption), UniqueResource<HICON, IconTraits>(icon), data, {}};
  if (hwnd_ == nullptr) return -1;
  index = std::clamp(index, 0, Count());
  // The system item carries no text: the strip draws the caption itself.
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = const_cast<wchar_t*>(L"");
  const int at = static_cast<int>(
      SendMessageW(hwnd_, TCM_INSERTITEMW, index, reinterpret_cast<LPARAM>(&item)));
  if (at < 0) return -1;
  tabs_.insert(tabs_.begin() + at, std::move(tab));
  if (hovered_tab_ >= at) hovered_tab_ = -1;
  if (Count() == 1 && ActiveIndex() < 0) SendMessageW(hwnd_, TCM_SETCURSEL, 0, 0);
  // Selected before arranging: selecting may scroll the row, which moves the
  // last tab and with it the "+" button and the window region.
  if (activate) SetActiveIndex(at);
  Arrange();
  InvalidateRect(hwnd_, nullptr, FALSE);
  return at;
}

bool TabStrip::Remove(int index) {
  if (hwnd_ == nullptr || index < 0 || index >= Count()) return false;
  const int active = ActiveIndex();
  if (!SendMessageW(hwnd_, TCM_DELETEITEM, index, 0)) return false;
  tabs_.erase(tabs_.begin() + index);
  hovered_tab_ = -1;
  hovered_state_ = CloseButtonState::Normal;
  // The page control's own choice when the active page goes: the page that
  // followed it, wrapping to the first. Whatever the system did, apply it.
  int next = active;
  if (active == index) {
    next = Count() == 0 ? -1 : (index < Count() ? index : 0);
  } else if (active > index) {
    next = active - 1;
  }
  SendMessageW(hwnd_, TCM_SETCURSEL, next, 0);
  Arrange();
  InvalidateRect(hwnd_, nullptr, FALSE);
  return true;
}

bool TabStrip::Move(int from, int to) {
  if (hwnd_ == nullptr || from < 0 || from >= Count() || to < 0 || to >= Count()) return false;
  if (from == to) return true;
  const int active = ActiveIndex();
  // The system items are all alike (no text), so only ours need moving; the
  // selection follows the moved tab.
  Tab moving = std::move(tabs_[from]);
  tabs_.erase(tabs_.begin() + from);
  tabs_.insert(tabs_.begin() + to, std::move(moving));
  int next = active;
  if (active == from) {
    next = to;
  } else if (from < active && to >= active) {
    next = active - 1;
  } else if (from > active && to <= active) {
    next = active + 1;
  }
  SendMessageW(hwnd_, TCM_SETCURSEL, next, 0);
  hovered_tab_ = -1;
  InvalidateRect(hwnd_, nullptr, FALSE);
  return true;
}

bool TabStrip::SetCaption(int index, std::wstring caption) {
  if (index < 0 || index >= Count()) return false;
  tabs_[index].caption = std::move(caption);
  if (auto r = TabRect(index)) InvalidateRect(hwnd_, &*r, FALSE);
  return true;
}

bool TabStrip::SetIcon(int index, HICON icon) {
  if (index < 0 || index >= Count()) {
    if (icon != nullptr) DestroyIcon(icon);
    return false;
  }
  tabs_[index].icon.reset(icon);
  tabs_[index].icon_image.reset();
  if (auto r = TabRect(index)) InvalidateRect(hwnd_, &*r, FALSE);
  return true;
}

const std::wstring& TabStrip::Caption(int index) const {
  static const std::wstring empty;
  return index >= 0 && index < Count() ? tabs_[index].caption : empty;
}

HICON TabStrip::Icon(int index) const {
  return index >= 0 && index < Count() ? tabs_[index].icon.get() : nullptr;
}

void* TabStrip::Data(int index) const {
  return index >= 0 && index < Count() ? tabs_[index].data : nullptr;
}

int TabStrip::IndexOfData(const void* data) const {
  for (int i = 0; i < Count(); ++i) {
    if (tabs_[i].data == data) return i;
  }
  return -1;
}

int TabStrip::ActiveIndex() const {
  return hwnd_ ? static_cast<int>(SendMessageW(hwnd_, TCM_GETCURSEL, 0, 0)) : -1;
}

bool TabStrip::SetActiveIndex(int index) {
  if (hwnd_ == nullptr || index < 0 || index >= Count()) return false;
  const int old = ActiveIndex();
  if (old == index) return true;
  SendMessageW(hwnd_, TCM_SETCURSEL, index, 0);
  // The active tab's close button and caption font differ: repaint both tabs.
  for (int i : {old, index}) {
    if (auto r = TabRect(i)) {
      InflateRect(&*r, 2, 2);
      InvalidateRect(hwnd_, &*r, FALSE);
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Geometry

std::optional<RECT> TabStrip::TabRect(int index) const {
  if (hwnd_ == nullptr || index < 0 || index >= Count()) return std::nullopt;
  RECT r{};
  if (!SendMessageW(hwnd_, TCM_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r)))
    return std::nullopt;
  return r;
}

std::optional<RECT> TabStrip::CloseButtonRect(int index) const {
  auto tab = TabRect(index);
  if (!tab) return std::nullopt;
  return ToRECT(vm::container::CloseButtonRect(ToRect(*tab), metrics_.close_button_size));
}

std::optional<RECT> TabStrip::AddButtonRect() const {
  if (add_button_ == nullptr || !IsWindowVisible(add_button_)) return std::nullopt;
  RECT r;
  GetWindowRect(add_button_, &r);
  return MapRect(HWND_DESKTOP, hwnd_, r);
}

void TabStrip::CollectTabRects() const {
  // Asked for at every paint and hit test: the system is asked for every tab
  // only when the row changed.
  RectsKey key;
  key.count = Count();
  key.active = ActiveIndex();
  if (key.count > 0) {
    SendMessageW(hwnd_, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&key.first));
    SendMessageW(hwnd_, TCM_GETITEMRECT, key.count - 1, reinterpret_cast<LPARAM>(&key.last));
  }
  if (key.count == rects_key_.count && key.active == rects_key_.active &&
      EqualRect(&key.first, &rects_key_.first) && EqualRect(&key.last, &rects_key_.last) &&
      rects_.size() == tabs_.size()) {
    return;
  }
  rects_key_ = key;
  rects_.resize(tabs_.size());
  for (int i = 0; i < Count(); ++i) {
    RECT r{};
    SendMessageW(hwnd_, TCM_GETITEMRECT, i, reinterpret_cast<LPARAM>(&r));
    rects_[i] = ToRect(r);
  }
}

StripHit TabStrip::HitTest(POINT pt) const {
  if (hwnd_ == nullptr) return {};
  CollectTabRects();
  const Rect add = AddButtonRect() ? ToRect(*AddButtonRect()) : Rect{};
  return HitTestStrip({pt.x, pt.y}, rects_, metrics_.close_button_size, add);
}

RECT TabStrip::DisplayRect() const {
  RECT r{};
  if (hwnd_ == nullptr) return r;
  GetClientRect(hwnd_, &r);
  SendMessageW(hwnd_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
  if (options_.windows10_or_later) InflateRect(&r, 4, 4);
  return r;
}

void TabStrip::ApplyItemSize(int width) {
  // The system lays out every tab again for TCM_SETITEMSIZE, and the
  // container arranges on every relayout: only a new size is sent.
  const SIZE size{width, metrics_.caption_height};
  if (size.cx == item_size_.cx && size.cy == item_size_.cy) return;
  item_size_ = size;
  // The system repaints the strip inside TCM_SETITEMSIZE (RDW_UPDATENOW).
  WithoutRedraw([&] {
    putting_off_paint_ = true;
    SendMessageW(hwnd_, TCM_SETITEMSIZE, 0,
                 MAKELPARAM(static_cast<WORD>(width), static_cast<WORD>(metrics_.caption_height)));
    putting_off_paint_ = false;
    paint_put_off_ = false;
  });
}

void TabStrip::WithoutRedraw(const std::function<void()>& change) {
  // Changes of the strip's layout or region make the system erase or paint
  // the strip's children before it returns, and one child is the active
  // docked window, of another thread: that waits for the thread, for ever
  // for a hung Explorer window. Meanwhile the strip's redraw is off (the
  // system's WM_SETREDRAW: the tab control's own only stops its painting),
  // so the system passes the strip and its children by; after, they are
  // invalidated and paint from their queues.
  SetRedraw(false);
  change();
  SetRedraw(true);
}

void TabStrip::SetRedraw(bool on) {
  if (hwnd_ == nullptr) return;
  if (!on) {
    if (redraw_off_++ == 0) DefWindowProcW(hwnd_, WM_SETREDRAW, FALSE, 0);
    return;
  }
  if (redraw_off_ == 0 || --redraw_off_ > 0) return;
  DefWindowProcW(hwnd_, WM_SETREDRAW, TRUE, 0);
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

void TabStrip::SetRegionCut(const RECT& cut, const RECT& extent) {
  // The region covers `extent`: it is made again when that changes.
  if (region_set_ && EqualRect(&cut, &region_cut_) &&
      (IsRectEmpty(&cut) || EqualRect(&extent, &region_extent_))) {
    return;
  }
  HRGN region = nullptr;
  if (!IsRectEmpty(&cut)) {
    region = CreateRectRgn(extent.left, extent.top, extent.right, extent.bottom);
    HRGN hole = CreateRectRgn(cut.left, cut.top, cut.right, cut.bottom);
    if (region != nullptr && hole != nullptr) CombineRgn(region, region, hole, RGN_DIFF);
    if (hole != nullptr) DeleteObject(hole);
    if (region == nullptr) return;
  }
  // Not redrawn by SetWindowRgn, and its frame change (which erases the
  // container and the strip's children at once) made without redraw: the
  // strip and the container where the band changed are invalidated instead
  // and paint from their queues.
  bool set = false;
  WithoutRedraw([&] { set = SetWindowRgn(hwnd_, region, FALSE) != FALSE; });
  if (!set) {
    if (region != nullptr) DeleteObject(region);
    return;
  }
  RECT changed{};
  UnionRect(&changed, &cut, &region_cut_);
  region_cut_ = cut;
  region_extent_ = extent;
  region_set_ = true;
  if (!IsRectEmpty(&changed)) {
    const RECT in_container = MapRect(hwnd_, container_, changed);
    RedrawWindow(container_, &in_container, nullptr, RDW_INVALIDATE | RDW_ERASE);
  }
}

void TabStrip::Arrange() {
  if (hwnd_ == nullptr) return;
  if (Count() == 0) {
    ShowWindow(add_button_, SW_HIDE);
    SetRegionCut(RECT{}, RECT{});
    return;
  }
  RECT container_client;
  GetClientRect(container_, &container_client);
  if (IsRectEmpty(&container_client)) return;

  const auto first = TabRect(0);
  const int h = first ? first->bottom - first->top : metrics_.caption_height;
  int available = container_client.right - container_client.left;
  // A maximised container on glass has the caption buttons over the tab row.
  RECT buttons{};
  if (glass_ && IsZoomed(container_) &&
      SUCCEEDED(DwmGetWindowAttribute(container_, DWMWA_CAPTION_BUTTON_BOUNDS, &buttons,
                                      sizeof(buttons)))) {
    available -= (buttons.right - buttons.left) + metrics_.icon_width - 7;
  }
  ApplyItemSize(TabWidth(available, h, Count(), metrics_.minimized_width));

  auto last = TabRect(Count() - 1);
  if (!last) return;
  RECT last_in_container = MapRect(hwnd_, container_, *last);
  if (glass_) OffsetRect(&last_in_container, 0, -1);
  const Rect add = vm::container::AddButtonRect(ToRect(last_in_container), h);
  RECT add_now{};
  GetWindowRect(add_button_, &add_now);
  add_now = MapRect(HWND_DESKTOP, container_, add_now);
  const bool shown = IsWindowVisible(add_button_) != FALSE;
  if (!shown || add_now.left != add.left || add_now.top != add.top ||
      add_now.right - add_now.left != add.width() || add_now.bottom - add_now.top != add.height()) {
    // It moves with the last tab at every dock. Raised above the strip once,
    // when shown; the uncovered container area is erased when the container
    // paints (an immediate erase reaches the docked windows too, and waits
    // for their threads).
    SetWindowPos(add_button_, HWND_TOP, add.left, add.top, add.width(), add.height(),
                 SWP_NOACTIVATE | SWP_DEFERERASE | (shown ? SWP_NOZORDER : SWP_SHOWWINDOW));
  }

  // Leave the band beside the tabs to the container (its caption area) and
  // the "+" button.
  // Setting a window region costs the system tens of milliseconds with a
  // docked window inside. Left to right, the band and the region reach far
  // beyond the client area (the system clips a region to the window), so
  // they change only when the last tab moves, not with every width of the
  // container. A mirrored window's region is mirrored about the width it has
  // when the region is set: there the region follows the width.
  constexpr int kFar = 0x4000;
  RECT extent{0, 0, kFar, kFar};
  if (options_.right_to_left) GetClientRect(hwnd_, &extent);
  const Rect band = FreeBandBesideTabs(ToRect(extent), ToRect(*last));
  SetRegionCut(RECT{band.left, band.top, band.right, band.bottom}, extent);
}

// ---------------------------------------------------------------------------
// Looks

void TabStrip::UpdateMetrics(int dpi) {
  if (hwnd_ == nullptr) return;
  ++layer_generation_;
  const int target = dpi > 0 ? dpi : MonitorDpi(container_);
  RawMetrics raw;
  raw.minimized_width = GetSystemMetrics(SM_CXMINIMIZED);
  raw.caption_height = GetSystemMetrics(SM_CYCAPTION);
  raw.small_icon_width = GetSystemMetrics(SM_CXSMICON);
  raw.small_icon_height = GetSystemMetrics(SM_CYSMICON);
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof(ncm);
  const bool have_ncm = SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(ncm), &ncm, 0);
  if (have_ncm) {
    raw.caption_button_width = ncm.iCaptionWidth;
    raw.message_font_height = ncm.lfMessageFont.lfHeight;
  }
  metrics_ = ComputeStripMetrics(raw, target, options_.reference_dpi);

  if (have_ncm) {
    LOGFONTW lf = ncm.lfMessageFont;
    lf.lfHeight = metrics_.font_height;
    lf.lfWeight = FW_BOLD;
    HFONT bold = CreateFontIndirectW(&lf);
    lf.lfWeight = FW_NORMAL;
    HFONT normal = CreateFontIndirectW(&lf);
    if (bold != nullptr && normal != nullptr) {
      if (bold_font_ != nullptr) DeleteObject(bold_font_);
      if (normal_font_ != nullptr) DeleteObject(normal_font_);
      bold_font_ = bold;
      normal_font_ = normal;
    } else {
      if (bold != nullptr) DeleteObject(bold);
      if (normal != nullptr) DeleteObject(normal);
    }
  }
  CreateCloseButtonImages();
  ApplyItemSize(metrics_.minimized_width);
  Arrange();
  InvalidateRect(hwnd_, nullptr, FALSE);
}

void TabStrip::CreateCloseButtonImages() {
  if (close_images_ != nullptr) ImageList_Destroy(close_images_);
  const int size = metrics_.close_button_size;
  close_images_ = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 3, 0);
  if (close_images_ == nullptr || size <= 0) return;
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  const auto strokes = CloseGlyphStrokes(size, metrics_.close_glyph_width);
  for (COLORREF pen_color : kClosePens) {
    void* bits = nullptr;
    HBITMAP bitmap = CreateBgra(screen, size, size, &bits);
    if (bitmap == nullptr) continue;
    HGDIOBJ old_bitmap = SelectObject(dc, bitmap);
    RECT all{0, 0, size, size};
    FillSolid(dc, all, kImageMask);
    HPEN pen = CreatePen(PS_SOLID, 1, pen_color);
    HGDIOBJ old_pen = SelectObject(dc, pen);
    for (const Stroke& s : strokes) {
      MoveToEx(dc, s.from.x, s.from.y, nullptr);
      LineTo(dc, s.to.x, s.to.y);
    }
    SelectObject(dc, old_pen);
    DeleteObject(pen);
    SelectObject(dc, old_bitmap);
    ImageList_AddMasked(close_images_, bitmap, kImageMask);
    DeleteObject(bitmap);
  }
  DeleteDC(dc);
  // The same three images side by side, the mask colour made transparent
  // (premultiplied alpha), for one blend per tab.
  ReleaseImageDc();
  image_dc_ = CreateCompatibleDC(screen);
  void* bits = nullptr;
  close_strip_ = image_dc_ != nullptr ? CreateBgra(screen, 3 * size, size, &bits) : nullptr;
  if (close_strip_ != nullptr) {
    image_dc_old_ = SelectObject(image_dc_, close_strip_);
    const RECT all{0, 0, 3 * size, size};
    FillSolid(image_dc_, all, kImageMask);
    for (int i = 0; i < 3; ++i) {
      ImageList_Draw(close_images_, i, image_dc_, i * size, 0, ILD_NORMAL);
    }
    GdiFlush();
    auto* pixel = static_cast<std::uint32_t*>(bits);
    const std::uint32_t mask =
        (GetRValue(kImageMask) << 16) | (GetGValue(kImageMask) << 8) | GetBValue(kImageMask);
    for (int i = 0; i < 3 * size * size; ++i) {
      pixel[i] = (pixel[i] & 0xFFFFFF) == mask ? 0 : (pixel[i] | 0xFF000000u);
    }
  }
  ReleaseDC(nullptr, screen);
  // The tab icons' size may have changed too.
  for (Tab& tab : tabs_) tab.icon_image.reset();
}

void TabStrip::ReleaseImageDc() {
  if (image_dc_ != nullptr) {
    SelectObject(image_dc_, image_dc_old_);
    DeleteDC(image_dc_);
    image_dc_ = nullptr;
  }
  if (close_strip_ != nullptr) DeleteObject(close_strip_);
  close_strip_ = nullptr;
}

void TabStrip::UpdateAddButtonImage() {
  if (add_button_ == nullptr) return;
  BUTTON_IMAGELIST images{AddButtonImages(dark_), {0, 0, 0, 0}, BUTTON_IMAGELIST_ALIGN_CENTER};
  // Where the button cannot show an image list (an old button class) it
  // keeps its "+" text rather than turning blank.
  if (images.himl != nullptr &&
      SendMessageW(add_button_, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&images))) {
    SetWindowLongPtrW(add_button_, GWL_STYLE, GetWindowLongPtrW(add_button_, GWL_STYLE) | BS_ICON);
  }
  InvalidateRect(add_button_, nullptr, TRUE);
}

void TabStrip::SetDarkTheme(bool dark) {
  if (dark_ == dark) return;
  dark_ = dark;
  UpdateAddButtonImage();
  if (hwnd_ != nullptr) InvalidateRect(hwnd_, nullptr, FALSE);
}

void TabStrip::SetContainerActive(bool active) {
  if (container_active_ == active) return;
  container_active_ = active;
  if (dark_ && hwnd_ != nullptr) {
    if (auto r = TabRect(ActiveIndex())) {
      InflateRect(&*r, 2, 2);
      InvalidateRect(hwnd_, &*r, FALSE);
    }
  }
}

void TabStrip::SetUseGlassBorder(bool glass) {
  if (glass_ == glass) return;
  glass_ = glass;
  Arrange();
  if (hwnd_ != nullptr) InvalidateRect(hwnd_, nullptr, FALSE);
}

void TabStrip::SetDropMarkIndex(int index) {
  if (hwnd_ == nullptr || index == drop_mark_) return;
  constexpr UINT kFlags = RDW_INVALIDATE | RDW_INTERNALPAINT | RDW_ERASE | RDW_ERASENOW | RDW_FRAME;
  CollectTabRects();
  const RECT old_mark = ToRECT(DropMarkRect(rects_, drop_mark_));
  if (!IsRectEmpty(&old_mark)) RedrawWindow(hwnd_, &old_mark, nullptr, kFlags);
  drop_mark_ = index < 0 ? -1 : index;
  const RECT new_mark = ToRECT(DropMarkRect(rects_, drop_mark_));
  if (!IsRectEmpty(&new_mark)) RedrawWindow(hwnd_, &new_mark, nullptr, kFlags | RDW_UPDATENOW);
}

// ---------------------------------------------------------------------------
// Painting

void TabStrip::FillBackground(HDC dc, const RECT& client) {
  if (glass_) {
    FillSolid(dc, client, RGB(0, 0, 0));  // black lets the glass show through
  } else if (dark_) {
    FillSolid(dc, client, kDarkBackground);
  } else {
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  }
}

// Paints into a context someone else gave (WM_PAINT with wParam, WM_PRINTCLIENT).
void TabStrip::Paint(HDC dc) {
  if (options_.right_to_left) SetLayout(dc, LAYOUT_RTL);
  RECT client;
  GetClientRect(hwnd_, &client);
  const int saved = SaveDC(dc);
  FillBackground(dc, client);
  CallSystem(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
  PaintTabs(dc);
  RestoreDC(dc, saved);
  events_->OnAfterPaint(dc);
}

// WM_PAINT: system tabs and our drawing go into a back buffer first, so the
// strip never shows the system's tabs without their captions (no flicker).
void TabStrip::PaintBuffered() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  if (dc == nullptr) return;
  RECT client;
  GetClientRect(hwnd_, &client);
  const SIZE size{client.right, client.bottom};
  if (size.cx > 0 && size.cy > 0) {
    // The buffer matches the client area exactly: a mirrored memory context
    // mirrors around its bitmap's width.
    if (buffer_dc_ == nullptr || size.cx != buffer_size_.cx || size.cy != buffer_size_.cy) {
      if (buffer_dc_ == nullptr) {
        buffer_dc_ = CreateCompatibleDC(dc);
      } else {
        SelectObject(buffer_dc_, buffer_old_);
      }
      if (buffer_bitmap_ != nullptr) DeleteObject(buffer_bitmap_);
      buffer_bitmap_ = CreateCompatibleBitmap(dc, size.cx, size.cy);
      buffer_old_ = SelectObject(buffer_dc_, buffer_bitmap_);
      buffer_size_ = size;
    }
    HDC mem = buffer_dc_;
    const bool layered = UpdateSystemLayer(dc, client);
    const int saved = SaveDC(mem);
    if (layered) {
      // Both unmirrored: the layer holds the pixels in screen order.
      SetLayout(mem, 0);
      BitBlt(mem, 0, 0, size.cx, size.cy, layer_dc_, 0, 0, SRCCOPY);
    }
    SetLayout(mem, options_.right_to_left ? LAYOUT_RTL : 0);
    // Only what needs repainting (a hover change is one close button).
    IntersectClipRect(mem, ps.rcPaint.left, ps.rcPaint.top, ps.rcPaint.right, ps.rcPaint.bottom);
    if (!layered) {
      FillBackground(mem, client);
      CallSystem(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem), PRF_CLIENT);
    }
    PaintTabs(mem);
    events_->OnAfterPaint(mem);
    RestoreDC(mem, saved);
    // Both contexts unmirrored for the copy: the buffer already holds the
    // pixels in screen order.
    SetLayout(mem, 0);
    const DWORD layout = SetLayout(dc, 0);
    BitBlt(dc, 0, 0, size.cx, size.cy, mem, 0, 0, SRCCOPY);
    SetLayout(dc, layout == GDI_ERROR ? 0 : layout);
  }
  EndPaint(hwnd_, &ps);
}

TabStrip::LayerKey TabStrip::CurrentLayerKey(const RECT& client) const {
  LayerKey key;
  key.size = {client.right, client.bottom};
  CollectTabRects();
  key.rects = rects_key_.count;
  key.first = rects_key_.first;
  key.last = rects_key_.last;
  key.active = rects_key_.active;
  key.focused = GetFocus() == hwnd_;
  key.focus_item = static_cast<int>(SendMessageW(hwnd_, TCM_GETCURFOCUS, 0, 0));
  // A themed tab control shows the tab under the pointer hot.
  if (GetWindowTheme(hwnd_) != nullptr) {
    POINT pt{};
    GetCursorPos(&pt);
    ScreenToClient(hwnd_, &pt);
    if (PtInRect(&client, pt)) {
      TCHITTESTINFO hit{};
      hit.pt = pt;
      key.hot =
          static_cast<int>(SendMessageW(hwnd_, TCM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    }
  }
  key.enabled = IsWindowEnabled(hwnd_) != FALSE;
  key.dark = dark_;
  key.glass = glass_;
  key.generation = layer_generation_;
  return key;
}

bool TabStrip::UpdateSystemLayer(HDC dc, const RECT& client) {
  // The system's tabs cost the same to paint whatever the clip, tens of
  // milliseconds with a hundred tabs under Wine: they are painted into the
  // layer only when something they show changed, and every paint copies
  // them from there.
  const LayerKey key = CurrentLayerKey(client);
  if (layer_dc_ != nullptr && key == layer_key_) return true;
  if (layer_dc_ == nullptr) layer_dc_ = CreateCompatibleDC(dc);
  if (layer_dc_ == nullptr) return false;
  if (layer_bitmap_ == nullptr || layer_key_.size.cx != key.size.cx ||
      layer_key_.size.cy != key.size.cy) {
    if (layer_bitmap_ != nullptr) {
      SelectObject(layer_dc_, layer_old_);
      DeleteObject(layer_bitmap_);
    }
    layer_bitmap_ = CreateCompatibleBitmap(dc, key.size.cx, key.size.cy);
    if (layer_bitmap_ == nullptr) {
      layer_key_ = LayerKey{};
      return false;
    }
    layer_old_ = SelectObject(layer_dc_, layer_bitmap_);
  }
  const int saved = SaveDC(layer_dc_);
  SetLayout(layer_dc_, options_.right_to_left ? LAYOUT_RTL : 0);
  FillBackground(layer_dc_, client);
  CallSystem(WM_PRINTCLIENT, reinterpret_cast<WPARAM>(layer_dc_), PRF_CLIENT);
  RestoreDC(layer_dc_, saved);
  SetLayout(layer_dc_, 0);
  layer_key_ = key;
  return true;
}

void TabStrip::MakeOpaque(HDC dc, const RECT& area) {
  if (!buffered_paint_ || IsRectEmpty(&area)) return;
  HDC buffer_dc = nullptr;
  HPAINTBUFFER buffer = BeginBufferedPaint(dc, &area, BPBF_TOPDOWNDIB, nullptr, &buffer_dc);
  if (buffer == nullptr) return;
  BitBlt(buffer_dc, area.left, area.top, area.right - area.left, area.bottom - area.top, dc,
         area.left, area.top, SRCCOPY);
  BufferedPaintSetAlpha(buffer, nullptr, 255);
  EndBufferedPaint(buffer, TRUE);
}

bool TabStrip::DrawIconImage(HDC dc, Tab& tab, Point at) {
  // DI_NOMIRROR has no counterpart for a blend into a mirrored context.
  if (options_.right_to_left || image_dc_ == nullptr) return false;
  if (!tab.icon_image) {
    tab.icon_image.reset(
        PremultipliedIcon(image_dc_, tab.icon.get(), metrics_.icon_width, metrics_.icon_height));
    if (!tab.icon_image) return false;
    SelectObject(image_dc_, close_strip_);
  }
  SelectObject(image_dc_, tab.icon_image.get());
  const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  const bool drawn =
      GdiAlphaBlend(dc, at.x, at.y, metrics_.icon_width, metrics_.icon_height, image_dc_, 0, 0,
                    metrics_.icon_width, metrics_.icon_height, blend) != FALSE;
  SelectObject(image_dc_, close_strip_);
  return drawn;
}

void TabStrip::PaintTabs(HDC dc) {
  const int sel = ActiveIndex();
  CollectTabRects();
  HGDIOBJ old_pen = SelectObject(dc, GetStockObject(DC_PEN));
  HGDIOBJ old_font = GetCurrentObject(dc, OBJ_FONT);

  if (dark_) {
    for (int i = 0; i < Count(); ++i) {
      if (i != sel) FillSolid(dc, ToRECT(rects_[i]), kDarkTabFill);
    }
    if (sel >= 0 && sel < Count()) {
      RECT r = ToRECT(rects_[sel]);
      r.left -= 2;
      r.right += 2;
      FillSolid(dc, r, container_active_ ? kDarkActiveFill : kDarkActiveFillInactiveContainer);
      SetDCPenColor(dc, container_active_ ? kDarkActiveEdge : kDarkActiveEdgeInactiveContainer);
      const POINT edge[] = {
          {r.left, r.bottom}, {r.left, r.top}, {r.right - 1, r.top}, {r.right - 1, r.bottom}};
      Polyline(dc, edge, 4);
    }
  }

  if (drop_mark_ >= 0) {
    if (auto strokes = DropMarkStrokes(rects_, drop_mark_, options_.windows10_or_later)) {
      SetDCPenColor(dc, dark_ ? RGB(255, 255, 255) : RGB(0, 0, 0));
      for (const Stroke& s : *strokes) {
        MoveToEx(dc, s.from.x, s.from.y, nullptr);
        LineTo(dc, s.to.x, s.to.y);
      }
      if (glass_) MakeOpaque(dc, ToRECT(DropMarkRect(rects_, drop_mark_)));
    }
  }

  SetBkMode(dc, TRANSPARENT);
  RECT clip{};
  const int clip_kind = GetClipBox(dc, &clip);
  const bool clipped = clip_kind == SIMPLEREGION || clip_kind == COMPLEXREGION;
  for (int i = 0; i < Count(); ++i) {
    const Rect& tab = rects_[i];
    const Tab& item = tabs_[i];
    if (clipped) {
      // Icons and close buttons may reach a little beyond narrow tabs.
      RECT reach = ToRECT(tab);
      InflateRect(&reach, metrics_.icon_width, 2);
      RECT overlap;
      if (!IntersectRect(&overlap, &reach, &clip)) continue;
    }
    if (item.icon) {
      const Point at = TabIconOrigin(tab, metrics_.icon_height);
      if (!DrawIconImage(dc, tabs_[i], at)) {
        DrawIconEx(dc, at.x, at.y, item.icon.get(), metrics_.icon_width, metrics_.icon_height, 0,
                   nullptr, DI_NORMAL | DI_NOMIRROR);
      }
    }
    RECT text = ToRECT(TabTextRect(tab, metrics_.icon_width, metrics_.close_button_size));
    HFONT font = i == sel ? bold_font_ : normal_font_;
    SelectObject(dc, font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));
    if (dark_) SetTextColor(dc, i == sel ? kDarkActiveText : kDarkText);
    // A tab narrower than its icon and close button has no room for text.
    if (text.right > text.left) {
      DrawTextW(dc, item.caption.c_str(), static_cast<int>(item.caption.size()), &text,
                DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    }

    int image = static_cast<int>(i == sel ? CloseButtonState::Selected : CloseButtonState::Normal);
    if (i == hovered_tab_) image = static_cast<int>(hovered_state_);
    const Rect close = vm::container::CloseButtonRect(tab, metrics_.close_button_size);
    const int size = metrics_.close_button_size;
    // The image list draws each image through temporary contexts; the same
    // pixels come from one blend out of the prepared strip. A mirrored
    // context would mirror the blend: there the image list draws.
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    if (close_strip_ == nullptr || options_.right_to_left ||
        !GdiAlphaBlend(dc, close.left, close.top, size, size, image_dc_, image * size, 0, size,
                       size, blend)) {
      if (close_images_ != nullptr)
        ImageList_Draw(close_images_, image, dc, close.left, close.top, ILD_NORMAL);
    }

    if (glass_) {
      RECT opaque = ToRECT(tab);
      if (!dark_) InflateRect(&opaque, -4, -4);
      MakeOpaque(dc, opaque);
    }
  }
  SelectObject(dc, old_font);
  SelectObject(dc, old_pen);
}

// ---------------------------------------------------------------------------
// Mouse

void TabStrip::InvalidateCloseButton(int index) {
  if (auto r = CloseButtonRect(index)) InvalidateRect(hwnd_, &*r, FALSE);
}

void TabStrip::OnMouseMove(POINT pt, WPARAM) {
  const StripHit hit = HitTest(pt);
  const bool on_tab = hit.part == StripPart::Tab || hit.part == StripPart::CloseButton;
  const int tab = on_tab ? hit.index : -1;
  CloseButtonState state = CloseButtonState::Normal;
  if (hit.part == StripPart::CloseButton) {
    state = CloseButtonState::Hot;
  } else if (tab >= 0 && tab == ActiveIndex()) {
    state = CloseButtonState::Selected;
  }
  if (tab != hovered_tab_) {
    InvalidateCloseButton(hovered_tab_);
    hovered_tab_ = tab;
    hovered_state_ = state;
    InvalidateCloseButton(tab);
  } else if (state != hovered_state_) {
    hovered_state_ = state;
    InvalidateCloseButton(tab);
  }
  // Asked again on every move: the strip's tooltip and the tab control track
  // the mouse too, and the system keeps one request per thread, so a request
  // made once may already have been replaced.
  TRACKMOUSEEVENT tme{sizeof(tme), TME_LEAVE, hwnd_, 0};
  TrackMouseEvent(&tme);
}

void TabStrip::OnMouseLeave() {
  if (hovered_tab_ >= 0) InvalidateCloseButton(hovered_tab_);
  hovered_tab_ = -1;
  hovered_state_ = CloseButtonState::Normal;
}

// ---------------------------------------------------------------------------
// Window procedures

LRESULT TabStrip::CallSystem(UINT msg, WPARAM wparam, LPARAM lparam) {
  return CallWindowProcW(g_system_proc, hwnd_, msg, wparam, lparam);
}

LRESULT CALLBACK TabStrip::StripProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) noexcept {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, g_self_offset, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* self = reinterpret_cast<TabStrip*>(GetWindowLongPtrW(hwnd, g_self_offset));
  if (self == nullptr) return CallWindowProcW(g_system_proc, hwnd, msg, wparam, lparam);
  if (self->hwnd_ == nullptr) self->hwnd_ = hwnd;  // messages during CreateWindowExW
  try {
    return self->OnStripMessage(msg, wparam, lparam);
  } catch (...) {
    return CallWindowProcW(g_system_proc, hwnd, msg, wparam, lparam);
  }
}

LRESULT TabStrip::OnStripMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
  const POINT pt{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
  switch (msg) {
    case WM_THEMECHANGED:
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
    case WM_SETFONT:
    case WM_STYLECHANGED:
    case WM_DPICHANGED_AFTERPARENT:
      // The system's tabs may look different now.
      ++layer_generation_;
      break;
    default:
      break;
  }
  switch (msg) {
    case WM_PAINT:
      if (putting_off_paint_ && wparam == 0) {
        ValidateRect(hwnd_, nullptr);
        paint_put_off_ = true;
        return 0;
      }
      if (wparam != 0) {
        Paint(reinterpret_cast<HDC>(wparam));
      } else {
        PaintBuffered();
      }
      return 0;
    case WM_PRINTCLIENT:
      Paint(reinterpret_cast<HDC>(wparam));
      return 0;
    case WM_ERASEBKGND:
      return 1;  // painting covers the whole client area
    case WM_LBUTTONDOWN: {
      const StripHit hit = HitTest(pt);
      const bool on_tab = hit.part == StripPart::Tab || hit.part == StripPart::CloseButton;
      // The container shows the tab's sheet before the control selects it.
      // Should it drop the strip meanwhile, the click ends here.
      HWND hwnd = hwnd_;
      events_->OnTabMouseDown(on_tab ? hit.index : -1, pt);
      if (!IsWindow(hwnd) || GetWindowLongPtrW(hwnd, g_self_offset) == 0) return 0;
      return CallSystem(msg, wparam, lparam);
    }
    case WM_LBUTTONUP: {
      const LRESULT result = CallSystem(msg, wparam, lparam);
      const StripHit hit = HitTest(pt);
      // Last: closing may remove the tab or even the whole strip.
      if (hit.part == StripPart::CloseButton) events_->OnCloseClicked(hit.index);
      return result;
    }
    case WM_MBUTTONUP: {
      const LRESULT result = CallSystem(msg, wparam, lparam);
      const StripHit hit = HitTest(pt);
      if (hit.part == StripPart::Tab || hit.part == StripPart::CloseButton) {
        events_->OnMiddleClicked(hit.index);
      }
      return result;
    }
    case WM_MOUSEMOVE: {
      const LRESULT result = CallSystem(msg, wparam, lparam);
      OnMouseMove(pt, wparam);
      events_->OnMouseMove(pt, wparam);
      return result;
    }
    case WM_MOUSELEAVE: {
      const LRESULT result = CallSystem(msg, wparam, lparam);
      OnMouseLeave();
      events_->OnMouseLeave();
      return result;
    }
    case WM_SIZE: {
      const LRESULT result = CallSystem(msg, wparam, lparam);
      events_->OnResized();
      return result;
    }
    case WM_NOTIFY: {
      // Some tab controls pass their tooltip's notices through themselves.
      LRESULT result = 0;
      if (lparam != 0 && OnContainerNotify(*reinterpret_cast<NMHDR*>(lparam), result))
        return result;
      return CallSystem(msg, wparam, lparam);
    }
    case WM_NCDESTROY: {
      const LRESULT result = CallSystem(msg, wparam, lparam);
      SetWindowLongPtrW(hwnd_, g_self_offset, 0);
      hwnd_ = nullptr;
      return result;
    }
    default:
      return CallSystem(msg, wparam, lparam);
  }
}

LRESULT CALLBACK TabStrip::ContainerSubclassProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                                 UINT_PTR id, DWORD_PTR ref) noexcept {
  auto* self = reinterpret_cast<TabStrip*>(ref);
  try {
    switch (msg) {
      case WM_NOTIFY: {
        LRESULT result = 0;
        if (lparam != 0 && self->OnContainerNotify(*reinterpret_cast<NMHDR*>(lparam), result)) {
          return result;
        }
        break;
      }
      case WM_COMMAND:
        if (lparam != 0 && reinterpret_cast<HWND>(lparam) == self->add_button_ &&
            HIWORD(wparam) == BN_CLICKED) {
          self->events_->OnAddClicked();
          return 0;
        }
        break;
      case WM_NCDESTROY:
        RemoveWindowSubclass(hwnd, ContainerSubclassProc, id);
        self->subclassed_ = false;
        break;
    }
  } catch (...) {
  }
  return DefSubclassProc(hwnd, msg, wparam, lparam);
}

bool TabStrip::OnContainerNotify(const NMHDR& hdr, LRESULT& result) {
  if (hwnd_ == nullptr) return false;
  if (hdr.hwndFrom == hwnd_) {
    if (hdr.code == static_cast<UINT>(TCN_SELCHANGING)) {
      previous_active_ = ActiveIndex();
      result = events_->OnTabChanging(previous_active_) ? FALSE : TRUE;
      return true;
    }
    if (hdr.code == static_cast<UINT>(TCN_SELCHANGE)) {
      const int active = ActiveIndex();
      for (int i : {previous_active_, active}) {
        if (auto r = TabRect(i)) {
          InflateRect(&*r, 2, 2);
          InvalidateRect(hwnd_, &*r, FALSE);
        }
      }
      const int previous = previous_active_;
      result = 0;
      events_->OnTabChanged(active, previous);
      return true;
    }
    return false;
  }
  HWND tooltip = reinterpret_cast<HWND>(SendMessageW(hwnd_, TCM_GETTOOLTIPS, 0, 0));
  if (tooltip != nullptr && hdr.hwndFrom == tooltip) {
    if (hdr.code == static_cast<UINT>(TTN_GETDISPINFOW)) {
      auto& info = const_cast<NMTTDISPINFOW&>(reinterpret_cast<const NMTTDISPINFOW&>(hdr));
      const int index = static_cast<int>(hdr.idFrom);
      tooltip_text_ = events_->TooltipText(index);
      if (tooltip_text_.empty()) tooltip_text_ = Caption(index);
      info.lpszText = tooltip_text_.data();
      info.hinst = nullptr;
      info.szText[0] = L'\0';
      return false;  // and the default handling
    }
    if (hdr.code == static_cast<UINT>(TTN_SHOW)) {
      SetWindowPos(tooltip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      return false;
    }
    return false;
  }
  if (hdr.hwndFrom == add_button_ && hdr.code == static_cast<UINT>(NM_CUSTOMDRAW) && glass_) {
    result = OnAddButtonCustomDraw(
        const_cast<NMCUSTOMDRAW&>(reinterpret_cast<const NMCUSTOMDRAW&>(hdr)));
    return true;
  }
  return false;
}

LRESULT TabStrip::OnAddButtonCustomDraw(NMCUSTOMDRAW& cd) {
  if (cd.dwDrawStage == CDDS_PREPAINT) {
    if (dark_) {
      RECT face = cd.rc;
      InflateRect(&face, -1, -1);
      const COLORREF color = (cd.uItemState & CDIS_SELECTED) ? kAddPressed
                             : (cd.uItemState & CDIS_HOT)    ? kAddHot
                                                             : kAddNormal;
      FillSolid(cd.hdc, face, color);
    }
    return CDRF_NOTIFYPOSTPAINT;
  }
  if (cd.dwDrawStage == CDDS_POSTPAINT) {
    RECT opaque = cd.rc;
    InflateRect(&opaque, -2, -2);
    MakeOpaque(cd.hdc, opaque);
  }
  return CDRF_DODEFAULT;
}

}  // namespace vm::container
