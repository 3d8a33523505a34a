// Shows the container program at work, the way it is used: folder windows of
// another process (the explorer.exe fixture, standing in for Explorer) are
// handed to the program as the hook library hands them over, become tabs of
// one container, follow tab commands and a rename, are photographed, and are
// re-coloured when the user switches to dark apps, and are
// given back with the undock-all request, which also ends the program.
//
//   vm_demo.exe [--screenshot <file.bmp>]
//
// With a screenshot path the demo also leaves <file>-dark.bmp: the same
// container after the user switched Windows to dark apps.
//
// Every step waits on a real condition (a window docked, a caption changed, a
// paint done) with a bounded time, and prints what it saw. Exit code 0 when
// every step worked; otherwise the failed step is printed, the windows are
// given back where possible and every process the demo started is ended.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/names.h"
#include "common/tab_commands.h"
#include "tests/support/screen_image.h"
#include "tests/docking/docking_support.h"
#include "tests/fixtures/explorer/fixture_client.h"
#include "tests/support/light_apps.h"
#include "tests/support/message_pump.h"
#include "tests/support/paths.h"

namespace {

using namespace vm::names;
using vm::test::ClassOf;
using vm::test::ContainerProgram;
using vm::test::ExplorerFixture;
using vm::test::HookLibraryNotices;
using vm::test::PumpUntil;
using vm::test::RectOf;
using vm::test::TextOf;

constexpr DWORD kBound = 10000;
constexpr wchar_t kCaptionSuffix[] = L" - Vellmark Foliant";
constexpr wchar_t kStripClass[] = L"TUnicodePageControl";
constexpr LONG_PTR kFrameStyles = WS_CAPTION | WS_THICKFRAME | WS_SYSMENU;
// Where the first folder window stands: its rectangle becomes the
// container's, well inside the 1280x1024 screen of the demo's display.
constexpr RECT kHome{120, 80, 120 + 1040, 80 + 720};
// A drawn strip shows backgrounds, borders, icons, captions and close
// buttons in many shades; a blank or unpainted band shows one or two.
constexpr int kDrawnStripColours = 8;

const std::vector<std::wstring> kFolders = {L"Documents", L"Downloads", L"Pictures", L"Projects"};

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c > 0 && c < 128 ? static_cast<char>(c) : '?';
  return out;
}

void* P(HWND window) { return static_cast<void*>(window); }

class Failure {
 public:
  explicit Failure(std::string what) : what_(std::move(what)) {}
  const std::string& what() const { return what_; }

 private:
  std::string what_;
};

void Require(bool condition, const std::string& what) {
  if (!condition) throw Failure(what);
}

class Demo {
 public:
  explicit Demo(std::wstring screenshot) : screenshot_(std::move(screenshot)) {}

  // Gives the windows back and ends what the demo started, also after a
  // failed step: the program by undock-all (terminated if it does not end),
  // the fixture by its quit command (terminated likewise).
  ~Demo() {
    notices_.reset();
    if (program_.process().Running()) {
      PostMessageW(program_.main(), WM_TC_UNDOCKALL, 0, 0);
      const bool ended = program_.process().WaitExit(kBound) != STILL_ACTIVE;
      std::printf("  cleaning up: undock-all sent, container program %s\n",
                  ended ? "ended" : "terminated");
    }
    program_.process().Stop();
    if (explorer_ != nullptr && WaitForSingleObject(explorer_->process(), 0) == WAIT_TIMEOUT) {
      std::printf("  cleaning up: explorer.exe fixture told to quit\n");
    }
    explorer_.reset();
  }

  void Run() {
    // Light apps to begin with, as a new Windows user has them.
    Require(light_apps_.Set(true), "the app theme choice could not be written");
    StartProgram();
    StartFolderWindows();
    DockAll();
    SwitchTabs();
    Rename();
    TakeScreenshot();
    DarkApps();
    GiveBack();
    EndFixture();
  }

 private:
  HWND W(int i) const { return explorer_->Window(i); }

  // The strip's own view of the tabs, asked from outside as any process could.
  int TabCount() const {
    HWND strip = FindWindowExW(container_, nullptr, kStripClass, nullptr);
    DWORD_PTR count = 0;
    if (strip == nullptr ||
        !SendMessageTimeoutW(strip, TCM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count)) {
      return -1;
    }
    return static_cast<int>(count);
  }
  HWND Active() const { return ContainerProgram::ActiveWindowOf(container_); }
  // The container is captioned after its active tab.
  std::wstring ActiveTabCaption() const {
    std::wstring caption = TextOf(container_);
    const size_t suffix = std::wcslen(kCaptionSuffix);
    if (caption.size() >= suffix &&
        caption.compare(caption.size() - suffix, suffix, kCaptionSuffix) == 0) {
      caption.resize(caption.size() - suffix);
    }
    return caption;
  }
  int IndexOf(HWND window) const {
    for (int i = 0; i < static_cast<int>(kFolders.size()); ++i) {
      if (W(i) == window) return i;
    }
    return -1;
  }
  void PrintState(const char* indent = "    ") const {
    HWND active = Active();
    std::printf("%scontainer %p: %d tab%s, active tab %d (window %p, \"%s\"), caption \"%s\"\n",
                indent, P(container_), TabCount(), TabCount() == 1 ? "" : "s", IndexOf(active) + 1,
                P(active), Narrow(ActiveTabCaption()).c_str(), Narrow(TextOf(container_)).c_str());
  }
  // The container shows `window` as its active tab, captioned `caption`.
  bool Shows(HWND window, const std::wstring& caption) const {
    return Active() == window && TextOf(container_) == caption + kCaptionSuffix &&
           IsWindowVisible(window) &&
           GetAncestor(ContainerProgram::SheetOf(window), GA_ROOT) == container_;
  }

  void StartProgram() {
    std::printf("1. The container program, started as the hook library starts it (\"-\")\n");
    const std::wstring exe = vm::test::BinPath(kContainerExe);
    Require(GetFileAttributesW(exe.c_str()) != INVALID_FILE_ATTRIBUTES,
            "the container program is missing: " + Narrow(exe));
    Require(FindWindowW(kMainWindowClass, L"") == nullptr,
            "a container program already runs in this Wine prefix (end it: wineserver -k with "
            "this WINEPREFIX)");
    Require(program_.Start(), "the container program did not start or showed no main window");
    HWND main = program_.main();
    std::printf("    hidden main window %p: class \"%s\", title \"\", visible %d, process %lu\n",
                P(main), Narrow(ClassOf(main)).c_str(), IsWindowVisible(main) ? 1 : 0,
                program_.process().id());
  }

  void StartFolderWindows() {
    std::printf(
        "2. Four folder windows of explorer.exe (the test fixture standing in for "
        "Explorer)\n");
    {
      // The fixture reports its windows on the standard output it inherits;
      // the demo tells the story itself, so the fixture starts without one.
      const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
      SetStdHandle(STD_OUTPUT_HANDLE, INVALID_HANDLE_VALUE);
      explorer_ = ExplorerFixture::Start(kFolders);
      SetStdHandle(STD_OUTPUT_HANDLE, out);
    }
    Require(explorer_ != nullptr, "the explorer.exe fixture did not open its folder windows");
    // The fixture raises the caption notices Wine does not; the hook library
    // would forward them to the program, and so does this hook.
    notices_ = std::make_unique<HookLibraryNotices>(explorer_->process_id(), program_.main());
    Require(notices_->ok(), "no WinEvent hook for the fixture's caption notices");
    // The first window docked gives the container its rectangle.
    SetWindowPos(W(0), nullptr, kHome.left, kHome.top, kHome.right - kHome.left,
                 kHome.bottom - kHome.top, SWP_NOZORDER | SWP_NOACTIVATE);
    Require(PumpUntil(
                [&] {
                  const RECT r = RectOf(W(0));
                  return EqualRect(&kHome, &r) != FALSE;
                },
                kBound),
            "the first folder window could not be placed");
    for (int i = 0; i < static_cast<int>(kFolders.size()); ++i) {
      const RECT r = RectOf(W(i));
      std::printf("    window %p: class \"%s\", \"%s\", process %lu, at %ld,%ld %ldx%ld\n", P(W(i)),
                  Narrow(ClassOf(W(i))).c_str(), Narrow(TextOf(W(i))).c_str(),
                  explorer_->process_id(), r.left, r.top, r.right - r.left, r.bottom - r.top);
    }
  }

  void DockAll() {
    std::printf("3. Dock requests (WM_TC_DOCKWINDOW, lock 1) posted to the main window\n");
    for (int i = 0; i < static_cast<int>(kFolders.size()); ++i) {
      const ULONGLONG start = GetTickCount64();
      HWND container = program_.DockAndWait(W(i));
      Require(container != nullptr, "\"" + Narrow(kFolders[i]) + "\" was not docked");
      Require(container_ == nullptr || container == container_,
              "\"" + Narrow(kFolders[i]) + "\" landed in a second container");
      container_ = container;
      // The last docked window is the active tab.
      Require(PumpUntil([&] { return Shows(W(i), kFolders[i]) && TabCount() == i + 1; }, kBound),
              "the container does not show \"" + Narrow(kFolders[i]) + "\" as its new tab");
      std::printf("  docked \"%s\" in %llu ms: child of sheet %p, frame styles %s\n",
                  Narrow(kFolders[i]).c_str(), GetTickCount64() - start,
                  P(ContainerProgram::SheetOf(W(i))),
                  (GetWindowLongPtrW(W(i), GWL_STYLE) & kFrameStyles) == 0 ? "removed" : "KEPT");
      PrintState();
    }
    const RECT r = RectOf(container_);
    std::printf(
        "    container class \"%s\" at %ld,%ld %ldx%ld (placed by the first folder window, which "
        "stood at %ld,%ld %ldx%ld)\n",
        Narrow(ClassOf(container_)).c_str(), r.left, r.top, r.right - r.left, r.bottom - r.top,
        kHome.left, kHome.top, kHome.right - kHome.left, kHome.bottom - kHome.top);
  }

  void SwitchTabs() {
    std::printf(
        "4. Switching tabs: the tab commands of Ctrl+1, Ctrl+3, Ctrl+2 sent to the container\n");
    for (int tab : {1, 3, 2}) {
      const int i = tab - 1;
      Require(ContainerProgram::SendCommand(container_, static_cast<WORD>(vm::CMD_TAB_SELECT1 + i)),
              "the container did not take the tab command");
      Require(PumpUntil([&] { return Shows(W(i), kFolders[i]); }, kBound),
              "Ctrl+" + std::to_string(tab) + " did not switch to \"" + Narrow(kFolders[i]) + "\"");
      std::printf("  Ctrl+%d:\n", tab);
      PrintState();
    }
  }

  void Rename() {
    std::printf("5. The active folder window navigates elsewhere: its caption changes\n");
    const std::wstring caption = L"Invoices";
    Require(explorer_->Rename(W(1), caption), "the fixture did not rename its window");
    Require(PumpUntil([&] { return Shows(W(1), caption); }, kBound),
            "the tab and the container caption did not follow the window's caption");
    std::printf("  \"%s\" is now \"%s\":\n", Narrow(kFolders[1]).c_str(), Narrow(caption).c_str());
    PrintState();
  }

  // Waits until the container and its strip have painted what they show now,
  // then copies the screen; again while the strip still looks blank (the
  // display may lag a paint by a frame).
  void TakeScreenshot() {
    std::printf("6. Screenshot\n");
    HWND strip = FindWindowExW(container_, nullptr, kStripClass, nullptr);
    Require(strip != nullptr, "the container has no tab strip");
    RedrawWindow(container_, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    auto round_trip = [&] {
      DWORD_PTR answer = 0;
      return SendMessageTimeoutW(container_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer) != 0;
    };
    Require(PumpUntil(
                [&] {
                  return round_trip() && !GetUpdateRect(container_, nullptr, FALSE) &&
                         !GetUpdateRect(strip, nullptr, FALSE);
                },
                kBound),
            "the container did not repaint");
    Require(round_trip(), "the container stopped answering");

    // The tab row: the strip above the active tab's page.
    RECT row = RectOf(strip);
    row.bottom = RectOf(ContainerProgram::SheetOf(Active())).top;
    vm::test::ScreenImage image;
    int colours = 0;
    PumpUntil(
        [&] {
          image = vm::test::ScreenImage::Capture();
          colours = image.CountColours(row);
          return colours >= kDrawnStripColours;
        },
        5000);
    Require(image.ok(), "the screen could not be copied");
    Require(colours >= kDrawnStripColours,
            "the tab row on screen looks blank (" + std::to_string(colours) + " colours)");
    std::printf("    screen %dx%d; tab row %ld,%ld-%ld,%ld shows %d%s colours\n", image.width(),
                image.height(), row.left, row.top, row.right, row.bottom, colours,
                colours >= 256 ? "+" : "");
    Write(image, screenshot_);
  }

  void Write(const vm::test::ScreenImage& image, const std::wstring& path) const {
    if (path.empty()) return;
    Require(image.WriteBmp(path), "the screenshot could not be written to " + Narrow(path) +
                                      " (error " + std::to_string(GetLastError()) + ")");
    std::printf("    written to %s\n", Narrow(path).c_str());
  }

  // The strip's fills of the tabs that are not active, in dark mode.
  int DarkFills(const vm::test::ScreenImage& image) const {
    HWND strip = FindWindowExW(container_, nullptr, kStripClass, nullptr);
    RECT row = RectOf(strip);
    row.bottom = RectOf(ContainerProgram::SheetOf(Active())).top;
    return image.CountPixels(row, RGB(13, 13, 13));
  }

  // Tells every top-level window that the colour set changed, as Windows
  // does when the user switches between light and dark apps, and waits until
  // the strip on screen shows the look asked for.
  void SwitchApps(bool light) {
    Require(light_apps_.Set(light), "the app theme choice could not be written");
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                        reinterpret_cast<LPARAM>(L"ImmersiveColorSet"), SMTO_ABORTIFHUNG, 2000,
                        &answer);
    vm::test::ScreenImage image;
    Require(PumpUntil(
                [&] {
                  image = vm::test::ScreenImage::Capture();
                  return image.ok() && (DarkFills(image) > 20) != light;
                },
                kBound),
            light ? "the strip did not turn light again" : "the strip did not turn dark");
    shot_ = std::move(image);
  }

  void DarkApps() {
    std::printf(
        "7. The user switches Windows to dark apps (AppsUseLightTheme 0, ImmersiveColorSet)\n");
    SwitchApps(false);
    std::printf("    the strip turned dark: %d pixels of the dark tab fill in the tab row\n",
                DarkFills(shot_));
    if (!screenshot_.empty()) {
      std::wstring dark = screenshot_;
      const size_t dot = dark.rfind(L'.');
      dark.insert(dot == std::wstring::npos ? dark.size() : dot, L"-dark");
      Write(shot_, dark);
    }
    SwitchApps(true);
    std::printf("    and light again when the user switches back\n");
  }

  void GiveBack() {
    std::printf("8. Undock all (WM_TC_UNDOCKALL): the windows come back, the program ends\n");
    PostMessageW(program_.main(), WM_TC_UNDOCKALL, 0, 0);
    const DWORD code = program_.process().WaitExit(kBound);
    Require(code != STILL_ACTIVE, "the program did not end after undock-all");
    std::printf("    container program ended, exit code %lu; container window %s\n", code,
                IsWindow(container_) ? "STILL THERE" : "gone");
    Require(code == 0, "the program ended with a failure code");
    for (int i = 0; i < static_cast<int>(kFolders.size()); ++i) {
      HWND w = W(i);
      const bool back = PumpUntil(
          [&] {
            return IsWindow(w) && GetAncestor(w, GA_PARENT) == GetDesktopWindow() &&
                   IsWindowVisible(w) &&
                   (GetWindowLongPtrW(w, GWL_STYLE) & kFrameStyles) == kFrameStyles &&
                   GetPropW(w, kPropContainerWnd) == nullptr &&
                   GetPropW(w, kPropMainWnd) == nullptr;
          },
          kBound);
      const RECT r = RectOf(w);
      std::printf("  \"%s\" %p: %s at %ld,%ld %ldx%ld\n", Narrow(TextOf(w)).c_str(), P(w),
                  back ? "top-level, framed, visible again" : "NOT GIVEN BACK", r.left, r.top,
                  r.right - r.left, r.bottom - r.top);
      Require(back, "\"" + Narrow(TextOf(w)) + "\" was not given back");
    }
  }

  void EndFixture() {
    std::printf("9. The fixture closes its windows and ends\n");
    notices_.reset();
    // The fixture may end before its answer arrives: its end is what counts.
    explorer_->Command(L"quit");
    const bool ended = PumpUntil(
        [&] { return WaitForSingleObject(explorer_->process(), 0) == WAIT_OBJECT_0; }, kBound);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(explorer_->process(), &code);
    std::printf("    explorer.exe fixture %s (exit code %lu)\n", ended ? "ended" : "DID NOT END",
                code);
    Require(ended, "the fixture did not end when told to");
  }

  std::wstring screenshot_;
  vm::test::ScreenImage shot_;
  // Put back as it was when the demo ends.
  vm::test::LightAppsChoice light_apps_;
  ContainerProgram program_;
  std::unique_ptr<ExplorerFixture> explorer_;
  std::unique_ptr<HookLibraryNotices> notices_;
  HWND container_ = nullptr;
};

int Usage() {
  std::printf("usage: vm_demo.exe [--screenshot <file.bmp>]\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::wstring screenshot;
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--screenshot") == 0 && i + 1 < argc) {
      screenshot = argv[++i];
    } else {
      return Usage();
    }
  }
  // The failure is told first; the demo's end then gives back what it holds.
  Demo demo(screenshot);
  try {
    demo.Run();
  } catch (const Failure& failure) {
    std::printf("demo FAILED: %s\n", failure.what().c_str());
    return 1;
  } catch (const std::exception& error) {
    std::printf("demo FAILED: %s\n", error.what());
    return 1;
  }
  std::printf("demo OK\n");
  return 0;
}
