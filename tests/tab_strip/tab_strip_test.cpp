// The tab strip on real windows in this process: a top-level test window
// plays the container. Tabs come and go, hit-testing finds tabs, close
// buttons and "+", real mouse input (SendInput) reaches the container as
// notifications, metrics follow the DPI, right-to-left mirrors everything on
// screen, and what the strip paints shows up in its pixels.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "container/tab_sheet.h"
#include "container/tab_strip.h"
#include "tests/support/input.h"
#include "tests/support/message_pump.h"

namespace vm::container {
namespace {

using test::MoveMouse;
using test::PumpUntil;

// Records what the strip reports.
struct Recorder : TabStripEvents {
  std::vector<std::string> log;
  bool allow_change = true;
  std::function<void(int)> on_close;

  bool OnTabChanging(int current) override {
    log.push_back("changing " + std::to_string(current));
    return allow_change;
  }
  void OnTabChanged(int active, int previous) override {
    log.push_back("changed " + std::to_string(active) + " from " + std::to_string(previous));
  }
  void OnTabMouseDown(int tab, POINT) override { log.push_back("down " + std::to_string(tab)); }
  void OnCloseClicked(int tab) override {
    log.push_back("close " + std::to_string(tab));
    if (on_close) on_close(tab);
  }
  void OnMiddleClicked(int tab) override { log.push_back("middle " + std::to_string(tab)); }
  void OnAddClicked() override { log.push_back("add"); }
  void OnMouseLeave() override { log.push_back("leave"); }
  std::wstring TooltipText(int tab) override {
    return tab == 2 ? L"C:\\Users\\Public\\Music" : std::wstring{};
  }

  bool Has(const std::string& entry) const {
    return std::find(log.begin(), log.end(), entry) != log.end();
  }
  std::string Dump() const {
    std::string s;
    for (const auto& e : log) s += e + "; ";
    return s;
  }
};

// A top-level window standing in for the container.
class Host {
 public:
  explicit Host(bool rtl = false, int width = 800, int height = 300) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"VmTabStripTestHost";
    RegisterClassW(&wc);
    RECT r{0, 0, width, height};
    AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, 0);
    // Topmost: windows of tests running beside this one must not come
    // between the real mouse input and the strip.
    hwnd_ = CreateWindowExW((rtl ? WS_EX_LAYOUTRTL : 0) | WS_EX_TOPMOST, wc.lpszClassName,
                            L"strip host", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, 40,
                            40, r.right - r.left, r.bottom - r.top, nullptr, nullptr, wc.hInstance,
                            nullptr);
  }
  ~Host() {
    if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
  }
  HWND hwnd() const { return hwnd_; }
  bool Activate() const {
    return PumpUntil([&] {
      SetForegroundWindow(hwnd_);
      return GetForegroundWindow() == hwnd_;
    });
  }

 private:
  HWND hwnd_ = nullptr;
};

std::unique_ptr<TabStrip> MakeStrip(const Host& host, TabStripEvents* events, bool rtl = false,
                                    int dpi = 96) {
  TabStripOptions options;
  options.right_to_left = rtl;
  options.reference_dpi = 96;
  auto strip = TabStrip::Create(host.hwnd(), events, options, dpi);
  if (strip) {
    RECT client;
    GetClientRect(host.hwnd(), &client);
    MoveWindow(strip->hwnd(), 0, 0, client.right, client.bottom, TRUE);
  }
  return strip;
}

HICON SolidIcon(COLORREF color) {
  const int size = GetSystemMetrics(SM_CXSMICON);
  HDC screen = GetDC(nullptr);
  HBITMAP bits = CreateCompatibleBitmap(screen, size, size);
  HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(dc, bits);
  RECT r{0, 0, size, size};
  SetDCBrushColor(dc, color);
  FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
  SelectObject(dc, mask);
  PatBlt(dc, 0, 0, size, size, BLACKNESS);
  SelectObject(dc, old);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
  ICONINFO info{TRUE, 0, 0, mask, bits};
  HICON icon = CreateIconIndirect(&info);
  DeleteObject(bits);
  DeleteObject(mask);
  return icon;
}

POINT Center(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

RECT ToScreen(HWND from, RECT r) {
  MapWindowPoints(from, HWND_DESKTOP, reinterpret_cast<POINT*>(&r), 2);
  if (r.left > r.right) std::swap(r.left, r.right);
  return r;
}

POINT ScreenPoint(HWND from, POINT p) {
  ClientToScreen(from, &p);
  return p;
}

// Real clicks; the pointer must get there first.
void Click(POINT screen, bool middle = false) {
  EXPECT_TRUE(test::Click(screen, middle))
      << "pointer did not reach " << screen.x << "," << screen.y;
}

// The strip's pixels as they are on its window, or as PrintWindow renders them.
class Pixels {
 public:
  Pixels(HWND hwnd, bool print) {
    RECT r;
    GetClientRect(hwnd, &r);
    width_ = r.right;
    height_ = r.bottom;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = width_;
    bi.bmiHeader.biHeight = -height_;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, bitmap);
    if (print) {
      PrintWindow(hwnd, mem, PW_CLIENTONLY);
    } else {
      HDC dc = GetDC(hwnd);
      // Copy in screen order even from a mirrored window.
      SetLayout(dc, 0);
      BitBlt(mem, 0, 0, width_, height_, dc, 0, 0, SRCCOPY);
      ReleaseDC(hwnd, dc);
    }
    GdiFlush();
    const auto* p = static_cast<const DWORD*>(bits);
    data_.assign(p, p + width_ * height_);
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(bitmap);
    ReleaseDC(nullptr, screen);
  }
  COLORREF At(int x, int y) const {
    const DWORD v = data_[y * width_ + x];
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
  }
  // Pixels of `color` inside r (device coordinates of the strip).
  int Count(const RECT& r, COLORREF color) const {
    int n = 0;
    for (int y = std::max(0L, r.top); y < std::min<long>(height_, r.bottom); ++y)
      for (int x = std::max(0L, r.left); x < std::min<long>(width_, r.right); ++x)
        if (At(x, y) == color) ++n;
    return n;
  }
  int CountOther(const RECT& r, COLORREF color) const {
    return static_cast<int>((r.right - r.left) * (r.bottom - r.top)) - Count(r, color);
  }

 private:
  int width_ = 0, height_ = 0;
  std::vector<DWORD> data_;
};

class TabStripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = std::make_unique<Host>();
    ASSERT_TRUE(IsWindow(host_->hwnd()));
    strip_ = MakeStrip(*host_, &events_);
    ASSERT_TRUE(strip_);
  }
  void AddThree() {
    ASSERT_EQ(strip_->Add(L"Documents", SolidIcon(RGB(0, 0, 255)), &data_[0]), 0);
    ASSERT_EQ(strip_->Add(L"Music", SolidIcon(RGB(0, 160, 0)), &data_[1]), 1);
    ASSERT_EQ(strip_->Add(L"Pictures & Video", nullptr, &data_[2]), 2);
    test::RunUntilIdle();
  }

  Recorder events_;
  std::unique_ptr<Host> host_;
  std::unique_ptr<TabStrip> strip_;
  int data_[4] = {};
};

TEST_F(TabStripTest, TabsComeAndGoWithTheirCaptionsIconsAndData) {
  EXPECT_EQ(strip_->Count(), 0);
  EXPECT_EQ(strip_->ActiveIndex(), -1);
  EXPECT_FALSE(strip_->AddButtonRect()) << "\"+\" stays hidden until there is a tab";
  AddThree();
  EXPECT_EQ(strip_->Count(), 3);
  EXPECT_EQ(strip_->ActiveIndex(), 0) << "the first tab becomes active";
  EXPECT_EQ(strip_->Caption(2), L"Pictures & Video");
  EXPECT_NE(strip_->Icon(0), nullptr);
  EXPECT_EQ(strip_->Icon(2), nullptr);
  EXPECT_EQ(strip_->IndexOfData(&data_[1]), 1);
  EXPECT_EQ(strip_->IndexOfData(&data_[3]), -1);
  EXPECT_EQ(strip_->Caption(7), L"");
  EXPECT_EQ(strip_->Data(-1), nullptr);
  EXPECT_EQ(TabCtrl_GetItemCount(strip_->hwnd()), 3) << "the system control holds the same tabs";

  // Insert before the active tab: it stays active, one place further.
  ASSERT_TRUE(strip_->SetActiveIndex(1));
  EXPECT_EQ(strip_->Insert(0, L"Downloads", nullptr, &data_[3]), 0);
  EXPECT_EQ(strip_->ActiveIndex(), 2);
  EXPECT_EQ(strip_->Caption(2), L"Music");

  EXPECT_TRUE(strip_->SetCaption(2, L"Music (2)"));
  EXPECT_EQ(strip_->Caption(2), L"Music (2)");
  EXPECT_TRUE(strip_->SetIcon(3, SolidIcon(RGB(255, 0, 0))));
  EXPECT_NE(strip_->Icon(3), nullptr);
  EXPECT_FALSE(strip_->SetCaption(4, L"none"));

  // Move keeps the moved tab active.
  ASSERT_TRUE(strip_->Move(2, 0));
  EXPECT_EQ(strip_->Caption(0), L"Music (2)");
  EXPECT_EQ(strip_->ActiveIndex(), 0);
  EXPECT_EQ(strip_->IndexOfData(&data_[1]), 0);
  ASSERT_TRUE(strip_->Move(0, 3));
  EXPECT_EQ(strip_->ActiveIndex(), 3);

  // Removing the active tab activates the one that followed it, or the first
  // when it was the last; removing another keeps the active one.
  // Now: Downloads, Documents, Pictures & Video, Music (2) [active].
  ASSERT_TRUE(strip_->Remove(3));
  EXPECT_EQ(strip_->ActiveIndex(), 0);
  ASSERT_TRUE(strip_->SetActiveIndex(1));
  ASSERT_TRUE(strip_->Remove(1));
  EXPECT_EQ(strip_->ActiveIndex(), 1);
  EXPECT_EQ(strip_->Caption(1), L"Pictures & Video");
  ASSERT_TRUE(strip_->Remove(0));
  EXPECT_EQ(strip_->ActiveIndex(), 0);
  EXPECT_FALSE(strip_->Remove(1));
  ASSERT_TRUE(strip_->Remove(0));
  EXPECT_EQ(strip_->Count(), 0);
  EXPECT_EQ(strip_->ActiveIndex(), -1);
  EXPECT_FALSE(strip_->AddButtonRect());
  EXPECT_TRUE(events_.log.empty()) << "programmatic changes raise no notifications";
}

TEST_F(TabStripTest, ArrangeSharesTheRowAndPutsPlusBesideTheLastTab) {
  AddThree();
  const StripMetrics& m = strip_->metrics();
  EXPECT_EQ(m.close_button_size, 12);
  RECT client;
  GetClientRect(host_->hwnd(), &client);
  auto first = strip_->TabRect(0);
  ASSERT_TRUE(first);
  const int h = first->bottom - first->top;
  const int want = TabWidth(client.right, h, 3, m.minimized_width);
  for (int i = 0; i < 3; ++i) {
    auto r = strip_->TabRect(i);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->right - r->left, want) << "tab " << i;
  }
  // Many tabs share the row.
  for (int i = 0; i < 17; ++i) strip_->Add(L"More " + std::to_wstring(i), nullptr);
  auto narrow = strip_->TabRect(19);
  ASSERT_TRUE(narrow);
  EXPECT_EQ(narrow->right - narrow->left, TabWidth(client.right, h, 20, m.minimized_width));
  EXPECT_LE(narrow->right, client.right) << "all twenty tabs fit";

  auto last = strip_->TabRect(19);
  auto plus = strip_->AddButtonRect();
  ASSERT_TRUE(plus);
  EXPECT_EQ(plus->left, last->right + 2);
  EXPECT_EQ(plus->top, last->top);
  EXPECT_EQ(plus->right - plus->left, h + 2);
  EXPECT_TRUE(IsWindowVisible(strip_->add_button()));

  // The band beside the tabs belongs to the container: the strip's window
  // region leaves it out, while the tabs and the page area stay the strip's.
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(GetWindowRgn(strip_->hwnd(), region), ERROR);
  EXPECT_FALSE(PtInRegion(region, plus->right + 20, (plus->top + plus->bottom) / 2));
  EXPECT_FALSE(PtInRegion(region, client.right - 1, 0));
  EXPECT_TRUE(PtInRegion(region, Center(*last).x, Center(*last).y));
  const RECT page = strip_->DisplayRect();
  EXPECT_GT(page.top, last->bottom - 6) << "the page area starts below the tabs";
  EXPECT_TRUE(PtInRegion(region, client.right - 1, page.top + 10));
  DeleteObject(region);
  EXPECT_EQ(WindowFromPoint(ScreenPoint(strip_->hwnd(), Center(*plus))), strip_->add_button());
}

TEST_F(TabStripTest, HitTestFindsTabsCloseButtonsAndPlus) {
  AddThree();
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    auto tab = strip_->TabRect(i);
    auto close = strip_->CloseButtonRect(i);
    ASSERT_TRUE(tab && close);
    EXPECT_EQ(strip_->HitTest({tab->left + 6, Center(*tab).y}), (StripHit{StripPart::Tab, i}));
    EXPECT_EQ(strip_->HitTest(Center(*close)), (StripHit{StripPart::CloseButton, i}));
    EXPECT_EQ(close->right, tab->right - 4);
    EXPECT_EQ(close->right - close->left, 12);
  }
  EXPECT_EQ(strip_->HitTest(Center(*strip_->AddButtonRect())),
            (StripHit{StripPart::AddButton, -1}));
  EXPECT_EQ(strip_->HitTest(Center(strip_->DisplayRect())), StripHit{});
  EXPECT_FALSE(strip_->CloseButtonRect(3));
  EXPECT_FALSE(strip_->CloseButtonRect(-1));
}

TEST_F(TabStripTest, ClicksReachTheContainerAsNotifications) {
  AddThree();
  ASSERT_TRUE(host_->Activate());
  // Left click on tab 1's close button: the tab control selects tab 1 on the
  // way down, the release inside the button asks to close it.
  Click(ScreenPoint(strip_->hwnd(), Center(*strip_->CloseButtonRect(1))));
  ASSERT_TRUE(PumpUntil([&] { return events_.Has("close 1"); }));
  EXPECT_TRUE(events_.Has("down 1"));
  EXPECT_TRUE(events_.Has("changing 0"));
  EXPECT_TRUE(events_.Has("changed 1 from 0"));
  EXPECT_EQ(strip_->ActiveIndex(), 1);
  EXPECT_EQ(strip_->Count(), 3) << "the strip only reports; the container closes";

  // A click on a tab's body selects it and closes nothing.
  events_.log.clear();
  Click(ScreenPoint(strip_->hwnd(), {strip_->TabRect(2)->left + 8, Center(*strip_->TabRect(2)).y}));
  ASSERT_TRUE(PumpUntil([&] { return events_.Has("changed 2 from 1"); })) << events_.Dump();
  test::PumpFor(100);
  EXPECT_FALSE(events_.Has("close 2"));

  // The container may refuse a change.
  events_.log.clear();
  events_.allow_change = false;
  Click(ScreenPoint(strip_->hwnd(), {strip_->TabRect(0)->left + 8, Center(*strip_->TabRect(0)).y}));
  ASSERT_TRUE(PumpUntil([&] { return events_.Has("changing 2"); }));
  test::PumpFor(100);
  EXPECT_EQ(strip_->ActiveIndex(), 2);
  EXPECT_FALSE(events_.Has("changed 0 from 2"));
  events_.allow_change = true;

  // Middle click on an inactive tab.
  events_.log.clear();
  Click(ScreenPoint(strip_->hwnd(), Center(*strip_->TabRect(0))), /*middle=*/true);
  ASSERT_TRUE(PumpUntil([&] { return events_.Has("middle 0"); }));
  EXPECT_EQ(strip_->ActiveIndex(), 2);

  // "+".
  events_.log.clear();
  Click(ScreenPoint(strip_->hwnd(), Center(*strip_->AddButtonRect())));
  ASSERT_TRUE(PumpUntil([&] { return events_.Has("add"); }));
}

TEST_F(TabStripTest, HoverTracksTheCloseButtonState) {
  AddThree();
  ASSERT_TRUE(host_->Activate());
  ASSERT_EQ(strip_->ActiveIndex(), 0);
  // Inactive tab, body: normal; its button: hot.
  MoveMouse(
      ScreenPoint(strip_->hwnd(), {strip_->TabRect(1)->left + 8, Center(*strip_->TabRect(1)).y}));
  ASSERT_TRUE(PumpUntil([&] { return strip_->hovered_tab() == 1; }));
  EXPECT_EQ(strip_->hovered_close_state(), CloseButtonState::Normal);
  MoveMouse(ScreenPoint(strip_->hwnd(), Center(*strip_->CloseButtonRect(1))));
  ASSERT_TRUE(PumpUntil([&] { return strip_->hovered_close_state() == CloseButtonState::Hot; }));
  EXPECT_EQ(strip_->hovered_tab(), 1);
  // The active tab's body: selected.
  MoveMouse(
      ScreenPoint(strip_->hwnd(), {strip_->TabRect(0)->left + 8, Center(*strip_->TabRect(0)).y}));
  ASSERT_TRUE(PumpUntil([&] { return strip_->hovered_tab() == 0; }));
  EXPECT_EQ(strip_->hovered_close_state(), CloseButtonState::Selected);
  // Leaving the strip clears it.
  RECT host_rect;
  GetWindowRect(host_->hwnd(), &host_rect);
  MoveMouse({host_rect.right + 50, host_rect.bottom + 50});
  ASSERT_TRUE(PumpUntil([&] { return strip_->hovered_tab() == -1; }));
  EXPECT_TRUE(PumpUntil([&] { return events_.Has("leave"); }));
}

TEST_F(TabStripTest, MetricsFollowTheDpi) {
  AddThree();
  const int height96 = strip_->metrics().caption_height;
  strip_->UpdateMetrics(192);
  EXPECT_EQ(strip_->metrics().dpi, 192);
  EXPECT_EQ(strip_->metrics().close_button_size, 24);
  EXPECT_EQ(strip_->metrics().close_glyph_width, 2);
  EXPECT_EQ(strip_->metrics().caption_height, ScaleForDpi(GetSystemMetrics(SM_CYCAPTION), 192, 96));
  auto tab = strip_->TabRect(0);
  ASSERT_TRUE(tab);
  EXPECT_EQ(tab->bottom - tab->top, strip_->metrics().caption_height) << "tabs are a caption high";
  EXPECT_EQ(strip_->CloseButtonRect(0)->right - strip_->CloseButtonRect(0)->left, 24);
  strip_->UpdateMetrics(96);
  EXPECT_EQ(strip_->TabRect(0)->bottom - strip_->TabRect(0)->top, height96);
  EXPECT_EQ(strip_->metrics().close_button_size, 12);
  // Wine reports 96 for every monitor; the strip asks the monitor when not told.
  EXPECT_EQ(TabStrip::MonitorDpi(host_->hwnd()), 96);
}

TEST_F(TabStripTest, PlusButtonShowsItsImageForTheTheme) {
  AddThree();
  // With the common controls of the container's manifest the "+" button takes
  // an image list (and BS_ICON); without them it keeps its "+" text.
  BUTTON_IMAGELIST light{};
  ASSERT_TRUE(
      SendMessageW(strip_->add_button(), BCM_GETIMAGELIST, 0, reinterpret_cast<LPARAM>(&light)));
  ASSERT_NE(light.himl, nullptr);
  EXPECT_TRUE(GetWindowLongPtrW(strip_->add_button(), GWL_STYLE) & BS_ICON);
  strip_->SetDarkTheme(true);
  BUTTON_IMAGELIST dark{};
  ASSERT_TRUE(
      SendMessageW(strip_->add_button(), BCM_GETIMAGELIST, 0, reinterpret_cast<LPARAM>(&dark)));
  EXPECT_NE(dark.himl, light.himl);
  int cx = 0, cy = 0;
  ImageList_GetIconSize(dark.himl, &cx, &cy);
  EXPECT_EQ(cx, 12);
  EXPECT_EQ(cy, 12);
  EXPECT_EQ(dark.uAlign, static_cast<UINT>(BUTTON_IMAGELIST_ALIGN_CENTER));
}

TEST_F(TabStripTest, TooltipShowsTheContainersTextOrTheCaption) {
  AddThree();
  HWND tooltip = TabCtrl_GetToolTips(strip_->hwnd());
  ASSERT_NE(tooltip, nullptr);
  EXPECT_TRUE(GetWindowLongPtrW(tooltip, GWL_STYLE) & TTS_ALWAYSTIP);
  EXPECT_EQ(GetWindow(tooltip, GW_OWNER), nullptr);
  for (int tab : {1, 2}) {
    NMTTDISPINFOW info{};
    info.hdr.hwndFrom = tooltip;
    info.hdr.idFrom = static_cast<UINT_PTR>(tab);
    info.hdr.code = TTN_GETDISPINFOW;
    SendMessageW(host_->hwnd(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&info));
    ASSERT_NE(info.lpszText, nullptr);
    EXPECT_STREQ(info.lpszText, tab == 1 ? L"Music" : L"C:\\Users\\Public\\Music");
  }
}

TEST_F(TabStripTest, ClosingFromTheNotificationMayDestroyTheStrip) {
  AddThree();
  ASSERT_TRUE(host_->Activate());
  // The container closes its last tab and with it the strip, from inside
  // the strip's own click handling.
  events_.on_close = [&](int) { strip_.reset(); };
  HWND strip_window = strip_->hwnd();
  Click(ScreenPoint(strip_window, Center(*strip_->CloseButtonRect(2))));
  ASSERT_TRUE(PumpUntil([&] { return strip_ == nullptr; }));
  EXPECT_FALSE(IsWindow(strip_window));
  test::PumpFor(100);
  // The container window lives on without the strip's subclass.
  EXPECT_EQ(SendMessageW(host_->hwnd(), WM_NOTIFY, 0, 0), 0);
}

TEST_F(TabStripTest, ContainerDestroyedFirst) {
  AddThree();
  HWND strip_window = strip_->hwnd();
  host_.reset();  // the container window goes, with its children
  EXPECT_FALSE(IsWindow(strip_window));
  EXPECT_EQ(strip_->hwnd(), nullptr);
  EXPECT_EQ(strip_->Count(), 3);
  EXPECT_EQ(strip_->ActiveIndex(), -1);
  strip_->Arrange();  // harmless without a window
  strip_.reset();
}

class RtlTabStripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = std::make_unique<Host>(/*rtl=*/true);
    strip_ = MakeStrip(*host_, &events_, /*rtl=*/true);
    ASSERT_TRUE(strip_);
    for (const wchar_t* c : {L"One", L"Two", L"Three"}) strip_->Add(c, nullptr);
    test::RunUntilIdle();
  }
  Recorder events_;
  std::unique_ptr<Host> host_;
  std::unique_ptr<TabStrip> strip_;
};

TEST_F(RtlTabStripTest, TabsCloseButtonsAndPlusAreMirroredOnScreen) {
  EXPECT_TRUE(GetWindowLongPtrW(strip_->hwnd(), GWL_EXSTYLE) & WS_EX_LAYOUTRTL);
  RECT strip_screen;
  GetWindowRect(strip_->hwnd(), &strip_screen);
  const RECT tab0 = ToScreen(strip_->hwnd(), *strip_->TabRect(0));
  const RECT tab1 = ToScreen(strip_->hwnd(), *strip_->TabRect(1));
  const RECT close1 = ToScreen(strip_->hwnd(), *strip_->CloseButtonRect(1));
  const RECT plus = ToScreen(strip_->hwnd(), *strip_->AddButtonRect());
  // Tab 0 at the right edge, the next one to its left.
  EXPECT_GT(tab0.left, (strip_screen.left + strip_screen.right) / 2);
  EXPECT_LT(tab1.right, tab0.left + 3);
  // The close button sits at the tab's left on screen, 4 px in.
  EXPECT_EQ(close1.left, tab1.left + 4);
  // "+" is left of the last tab.
  const RECT tab2 = ToScreen(strip_->hwnd(), *strip_->TabRect(2));
  EXPECT_EQ(plus.right, tab2.left - 2);
  RECT plus_window;
  GetWindowRect(strip_->add_button(), &plus_window);
  EXPECT_EQ(plus_window.left, plus.left);
  // The free band (left of "+" on screen) shows the container: the strip's
  // window region is mirrored with it. The host paints white there, the dark
  // strip would paint RGB(32,32,32).
  strip_->SetDarkTheme(true);
  RedrawWindow(host_->hwnd(), nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  test::RunUntilIdle();
  Pixels px(host_->hwnd(), false);
  RECT client = ToScreen(host_->hwnd(), {0, 0, 800, 300});
  auto device = [&](RECT r) {  // screen -> the host's client pixels
    OffsetRect(&r, -client.left, -client.top);
    return r;
  };
  const RECT band = device({plus.left - 60, plus.top + 3, plus.left - 10, plus.bottom - 3});
  EXPECT_EQ(px.Count(band, RGB(255, 255, 255)),
            (band.right - band.left) * (band.bottom - band.top));
  // ... while the tabs there are the strip's dark fills.
  const RECT inactive = device(tab1);
  EXPECT_GT(px.Count(inactive, RGB(13, 13, 13)), 100);
}

TEST_F(RtlTabStripTest, ClicksHitTheMirroredCloseButton) {
  ASSERT_TRUE(host_->Activate());
  const RECT close1 = ToScreen(strip_->hwnd(), *strip_->CloseButtonRect(1));
  Click(Center(close1));
  ASSERT_TRUE(PumpUntil([&] { return events_.Has("close 1"); })) << events_.Dump();
  EXPECT_EQ(strip_->ActiveIndex(), 1);
  // The same distance from the tab's other edge is the body.
  events_.log.clear();
  const RECT tab2 = ToScreen(strip_->hwnd(), *strip_->TabRect(2));
  Click({tab2.right - (Center(close1).x - ToScreen(strip_->hwnd(), *strip_->TabRect(1)).left),
         Center(close1).y});
  ASSERT_TRUE(PumpUntil([&] { return events_.Has("changed 2 from 1"); }));
  test::PumpFor(100);
  EXPECT_FALSE(events_.Has("close 2"));
}

TEST(TabSheet, AParkedSheetShowsOnlyWhenMarkedVisible) {
  Host host;
  auto sheet = TabSheet::Create(host.hwnd());
  ASSERT_TRUE(sheet);
  HWND w = sheet->hwnd();
  wchar_t cls[64];
  GetClassNameW(w, cls, 64);
  EXPECT_STREQ(cls, L"VellmarkTools_FoliantTab");
  EXPECT_TRUE(GetWindowLongPtrW(w, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  EXPECT_FALSE(IsWindowVisible(w));

  // Inside its container a sheet shows on request.
  ShowWindow(w, SW_SHOWNA);
  EXPECT_TRUE(IsWindowVisible(w));
  ShowWindow(w, SW_HIDE);

  // Parked on the desktop and not marked visible: show requests are dropped.
  SetParent(w, nullptr);
  ASSERT_EQ(GetAncestor(w, GA_PARENT), GetDesktopWindow());
  ShowWindow(w, SW_SHOWNA);
  EXPECT_FALSE(IsWindowVisible(w));
  SetWindowPos(w, nullptr, 0, 0, 0, 0,
               SWP_SHOWWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_FALSE(IsWindowVisible(w));
  // Marked visible, it shows (the container cloaks it there).
  sheet->SetMarkedVisible(true);
  EXPECT_TRUE(IsWindowVisible(w));
  sheet->SetMarkedVisible(false);
  EXPECT_FALSE(IsWindowVisible(w));

  // Back in the container it shows again on request.
  SetParent(w, host.hwnd());
  ShowWindow(w, SW_SHOWNA);
  EXPECT_TRUE(IsWindowVisible(w));
  sheet.reset();
  EXPECT_FALSE(IsWindow(w));
}

// --- What the strip paints --------------------------------------------------

class TabStripPaintTest : public TabStripTest {
 protected:
  Pixels Shot(bool print = false) {
    RedrawWindow(strip_->hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    test::RunUntilIdle();
    return Pixels(strip_->hwnd(), print);
  }
  RECT Text(int i) {
    const auto tab = strip_->TabRect(i);
    return {tab->left + 4 + 16 + 4, tab->top + 2, tab->right - (4 + 12 + 4), tab->bottom - 2};
  }
};

TEST_F(TabStripPaintTest, DarkFillsCaptionsAndCloseButtonsArePainted) {
  AddThree();
  strip_->SetDarkTheme(true);
  strip_->SetContainerActive(true);
  for (bool print : {false, true}) {
    SCOPED_TRACE(print ? "PrintWindow (WM_PRINTCLIENT)" : "window pixels (WM_PAINT)");
    Pixels px = Shot(print);
    const RECT active = *strip_->TabRect(0);
    const RECT inactive = *strip_->TabRect(1);
    // Inactive tabs are filled RGB(13,13,13), the active one RGB(32,32,32).
    EXPECT_GT(px.Count(inactive, RGB(13, 13, 13)), (inactive.right - inactive.left) * 5);
    EXPECT_GT(px.Count(active, RGB(32, 32, 32)), (active.right - active.left) * 5);
    EXPECT_EQ(px.Count(active, RGB(13, 13, 13)), 0);
    // The active caption is white text, the others gray: not all background.
    EXPECT_GT(px.Count(Text(0), RGB(255, 255, 255)), 10);
    EXPECT_GT(px.CountOther(Text(1), RGB(13, 13, 13)), 10);
    // The active tab's cross is RGB(140,44,20), the others' gray.
    EXPECT_GT(px.Count(*strip_->CloseButtonRect(0), RGB(140, 44, 20)), 8);
    EXPECT_GT(px.Count(*strip_->CloseButtonRect(1), RGB(128, 128, 128)), 8);
    EXPECT_EQ(px.Count(*strip_->CloseButtonRect(1), RGB(140, 44, 20)), 0);
    // The icon of tab 1 (green) is drawn at its place.
    EXPECT_GT(px.Count(*strip_->TabRect(1), RGB(0, 160, 0)), 100);
  }
  // A container that is not active fills its active tab a little darker.
  strip_->SetContainerActive(false);
  Pixels px = Shot();
  EXPECT_GT(px.Count(*strip_->TabRect(0), RGB(24, 24, 24)), 50);
}

TEST_F(TabStripPaintTest, LightModeHasNoDarkFillsButStillCaptions) {
  AddThree();
  strip_->SetDarkTheme(false);
  Pixels px = Shot();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(px.Count(*strip_->TabRect(i), RGB(13, 13, 13)), 0);
    // Black caption text (the context's default) over the system's tab.
    EXPECT_GT(px.Count(Text(i), RGB(0, 0, 0)), 10) << "caption of tab " << i;
  }
}

TEST_F(TabStripPaintTest, HoveredCloseButtonTurnsHot) {
  AddThree();
  strip_->SetDarkTheme(true);
  ASSERT_TRUE(host_->Activate());
  MoveMouse(ScreenPoint(strip_->hwnd(), Center(*strip_->CloseButtonRect(2))));
  ASSERT_TRUE(PumpUntil([&] { return strip_->hovered_close_state() == CloseButtonState::Hot; }));
  Pixels px = Shot();
  EXPECT_GT(px.Count(*strip_->CloseButtonRect(2), RGB(255, 116, 100)), 8);
  EXPECT_EQ(px.Count(*strip_->CloseButtonRect(1), RGB(255, 116, 100)), 0);
}

TEST_F(TabStripPaintTest, DropMarkIsDrawnInTheGap) {
  AddThree();
  strip_->SetDarkTheme(true);
  strip_->SetDropMarkIndex(1);
  Pixels px = Shot();
  const int x = strip_->TabRect(1)->left;
  const RECT mark{x - 1, strip_->TabRect(0)->top + 2, x + 1, strip_->TabRect(0)->bottom - 3};
  EXPECT_GT(px.Count(mark, RGB(255, 255, 255)), 10) << "white mark in dark mode";
  strip_->SetDropMarkIndex(-1);
  EXPECT_EQ(Shot().Count(mark, RGB(255, 255, 255)), 0);
}

double MedianMs(int rounds, const std::function<void()>& work) {
  std::vector<double> ms;
  for (int round = 0; round < rounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    work();
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

TEST(TabStripBenchmark, RelayoutAndRepaintWithAHundredTabs) {
  Host host(false, 1200, 400);
  Recorder events;
  auto strip = MakeStrip(host, &events);
  ASSERT_TRUE(strip);
  strip->SetDarkTheme(true);
  for (int i = 0; i < 100; ++i) {
    strip->Add(L"Folder number " + std::to_wstring(i), SolidIcon(RGB(200, 150, 0)));
  }
  test::RunUntilIdle();
  const double total = MedianMs(15, [&] {
    strip->Arrange();
    RedrawWindow(strip->hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  });
  const double arrange = MedianMs(15, [&] { strip->Arrange(); });
  // A hover change repaints one close button.
  const RECT button = *strip->CloseButtonRect(50);
  const double hover = MedianMs(15, [&] {
    InvalidateRect(strip->hwnd(), &button, FALSE);
    UpdateWindow(strip->hwnd());
  });
  // The same paint into a memory context: the system's tabs and ours.
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 1200, 400);
  HGDIOBJ old = SelectObject(mem, bitmap);
  const double print = MedianMs(15, [&] {
    SendMessageW(strip->hwnd(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem), PRF_CLIENT);
  });
  // The bare system control with as many tabs, for comparison.
  HWND plain = CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | TCS_FIXEDWIDTH, 0, 0, 1200, 400,
                               host.hwnd(), nullptr, GetModuleHandleW(nullptr), nullptr);
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = const_cast<wchar_t*>(L"");
  for (int i = 0; i < 100; ++i)
    SendMessageW(plain, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
  SendMessageW(plain, TCM_SETITEMSIZE, 0, MAKELPARAM(10, 23));
  const double system = MedianMs(
      30, [&] { SendMessageW(plain, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(mem), PRF_CLIENT); });
  DestroyWindow(plain);
  SelectObject(mem, old);
  DeleteObject(bitmap);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  std::printf(
      "[ BENCH    ] 100 tabs: relayout + repaint median %.2f ms (goal <= 16 ms); of it: relayout "
      "%.2f ms, paint into memory %.2f ms, bare system tab control paint %.2f ms; one close "
      "button repaint %.2f ms\n",
      total, arrange, print, system, hover);
}

}  // namespace
}  // namespace vm::container
