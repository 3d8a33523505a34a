// The main window hosted in the test process, so its containers and its
// Alt+Tab state can be looked at directly, while the windows it docks and
// the WinEvents it follows come from another process (Wine raises no
// foreground or task-switch WinEvents itself: the helper raises them with
// NotifyWinEvent).
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "common/accelerators.h"
#include "common/names.h"
#include "container/container_window.h"
#include "container/main_window.h"
#include "container/message_loop.h"
#include "tests/container_startup/window_helper_client.h"
#include "tests/support/message_pump.h"

namespace {

using namespace vm::names;
using vm::container::ContainerWindow;
using vm::container::MainWindow;
using vm::test::PumpFor;
using vm::test::PumpUntil;
namespace wh = vm::test::window_helper;

// The top-level window a docked window's foreground notice is about: the
// window itself while it is not re-parented, else the container or the
// parked tab sheet that holds it.
HWND RootOf(HWND docked) { return GetAncestor(docked, GA_ROOT); }

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(FindWindowW(kMainWindowClass, L""), nullptr) << "another main window exists";
    ASSERT_TRUE(helper_.ready());
    ASSERT_TRUE(main_.Create());
  }
  void TearDown() override { vm::test::RunUntilIdle(); }

  // The request as the hook library posts it, handled at once.
  ContainerWindow* Dock(HWND window, LPARAM lock = 1) {
    SendMessageW(main_.hwnd(), WM_TC_DOCKWINDOW, reinterpret_cast<WPARAM>(window), lock);
    for (ContainerWindow* c : main_.Containers()) {
      if (c->HoldsWindow(window)) return c;
    }
    return nullptr;
  }

  bool AltTabInvoked(HWND* previous = nullptr, bool* via_hotkey = nullptr,
                     int* direction = nullptr) {
    HWND p = nullptr;
    bool v = false;
    int d = 0;
    const bool invoked = main_.GetAltTabState(p, v, d);
    if (previous) *previous = p;
    if (via_hotkey) *via_hotkey = v;
    if (direction) *direction = d;
    return invoked;
  }

  vm::test::WindowHelper helper_;
  MainWindow main_{MainWindow::Options{false}};
};

TEST_F(MainWindowTest, CreatesTheHiddenWindowWithItsHooks) {
  EXPECT_EQ(FindWindowW(kMainWindowClass, L""), main_.hwnd());
  EXPECT_FALSE(IsWindowVisible(main_.hwnd()));
  EXPECT_TRUE(main_.WinEventHooksInstalled());
  EXPECT_TRUE(main_.KeyboardHookInstalled());
  EXPECT_TRUE(main_.Containers().empty());
}

TEST_F(MainWindowTest, DockRequestsFollowTheZOrderUnlessAContainerIsNamedForOneRequest) {
  HWND a = helper_.CreateWindowOf(), b = helper_.CreateWindowOf(), c = helper_.CreateWindowOf(),
       d = helper_.CreateWindowOf(), e = helper_.CreateWindowOf();
  ContainerWindow* first = Dock(a);
  ASSERT_NE(first, nullptr) << "created for the first request";
  ContainerWindow* second = main_.CreateNewContainer(100, 120, 400, 300);
  ASSERT_NE(second, nullptr);
  RECT r{};
  GetWindowRect(second->hwnd(), &r);
  EXPECT_EQ(r.left, 100);
  EXPECT_EQ(r.top, 120);
  EXPECT_EQ(r.right - r.left, 400);
  EXPECT_EQ(r.bottom - r.top, 300);
  EXPECT_FALSE(IsWindowVisible(second->hwnd())) << "hidden until its first window";
  EXPECT_EQ(main_.Containers(), (std::vector<ContainerWindow*>{first, second}));

  auto raise = [](ContainerWindow* container) {
    SetWindowPos(container->hwnd(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  };
  raise(first);
  EXPECT_EQ(Dock(b), first);
  raise(second);
  EXPECT_EQ(Dock(c), second);
  EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(second->hwnd()) != FALSE; }));

  main_.SetContainerForNextDockWindow(first);
  EXPECT_EQ(Dock(d), first) << "the named container, though lower";
  EXPECT_EQ(Dock(e), second) << "named for one request only";
  EXPECT_EQ(main_.window_being_docked, nullptr);
  EXPECT_EQ(main_.container_to_keep_active, nullptr) << "cleared when docking ends";
}

TEST_F(MainWindowTest, TheProgramsWindowsAndUnknownLocksAreRefused) {
  HWND a = helper_.CreateWindowOf();
  EXPECT_EQ(Dock(main_.hwnd()), nullptr);
  EXPECT_EQ(Dock(a, 4), nullptr);
  EXPECT_EQ(Dock(a, -1), nullptr);
  EXPECT_TRUE(main_.Containers().empty());
  ContainerWindow* container = Dock(a, 3);
  ASSERT_NE(container, nullptr);
  EXPECT_EQ(Dock(container->hwnd()), nullptr) << "a container is never docked into one";
  EXPECT_EQ(container->WindowCount(), 1u);
}

TEST_F(MainWindowTest, UndockRequestsReachEveryContainerAndTheLastOneGoneClosesTheMainWindow) {
  HWND a = helper_.CreateWindowOf(), b = helper_.CreateWindowOf();
  ContainerWindow* first = Dock(a);
  ContainerWindow* second = main_.CreateNewContainer(-32000, -32000, 0, 0);
  main_.SetContainerForNextDockWindow(second);
  ASSERT_EQ(Dock(b), second);

  // A window without locks may be given back a moment later.
  SendMessageW(main_.hwnd(), WM_TC_UNDOCKWINDOW, reinterpret_cast<WPARAM>(b), 1);
  EXPECT_EQ(main_.window_being_undocked, nullptr);
  EXPECT_TRUE(PumpUntil([&] { return main_.Containers() == std::vector<ContainerWindow*>{first}; }))
      << "emptied, closed";
  HWND main_window = main_.hwnd();
  SendMessageW(main_window, WM_TC_UNDOCKWINDOW, reinterpret_cast<WPARAM>(a), 1);
  EXPECT_TRUE(PumpUntil([&] { return main_.Containers().empty(); }));
  EXPECT_FALSE(IsWindow(main_window)) << "the last container took the main window with it";
  EXPECT_EQ(main_.hwnd(), nullptr);
}

TEST_F(MainWindowTest, UndockAllRemovesTheHooksAndGivesEveryWindowBack) {
  HWND a = helper_.CreateWindowOf(), b = helper_.CreateWindowOf();
  Dock(a);
  Dock(b);
  SendMessageW(main_.hwnd(), WM_TC_UNDOCKALL, 0, 0);
  EXPECT_FALSE(main_.WinEventHooksInstalled());
  EXPECT_FALSE(main_.KeyboardHookInstalled());
  EXPECT_TRUE(main_.Containers().empty());
  EXPECT_EQ(main_.hwnd(), nullptr);
  EXPECT_EQ(GetPropW(a, kPropContainerWnd), nullptr);
  EXPECT_EQ(GetPropW(b, kPropContainerWnd), nullptr);
}

TEST_F(MainWindowTest, AltTabHotKeyStateEndsOnlyWithARealForegroundChange) {
  HWND a = helper_.CreateWindowOf(), b = helper_.CreateWindowOf();
  HWND switcher = helper_.CreateWindowOf(wh::kTaskSwitcher);
  ContainerWindow* container = Dock(a);
  ASSERT_EQ(Dock(b), container);

  SendMessageW(main_.hwnd(), WM_TC_ALTTABHOTKEY, MOD_ALT | MOD_SHIFT, reinterpret_cast<LPARAM>(b));
  HWND previous = nullptr;
  bool via_hotkey = false;
  int direction = 0;
  ASSERT_TRUE(AltTabInvoked(&previous, &via_hotkey, &direction));
  EXPECT_TRUE(via_hotkey);
  EXPECT_EQ(direction, MOD_SHIFT);
  EXPECT_EQ(previous, b) << "Windows 8 or later, no Ctrl";

  // The switcher's own start event changes nothing; its window taking the
  // foreground is no foreground change.
  helper_.Notify(EVENT_SYSTEM_SWITCHSTART, switcher);
  helper_.Notify(EVENT_SYSTEM_FOREGROUND, switcher);
  PumpFor(400);  // longer than the closing delay: nothing may have started it
  ASSERT_TRUE(AltTabInvoked(&previous, &via_hotkey));
  EXPECT_TRUE(via_hotkey);

  // A real foreground change ends the state, a moment later.
  const auto start = std::chrono::steady_clock::now();
  helper_.Notify(EVENT_SYSTEM_FOREGROUND, RootOf(a));
  EXPECT_TRUE(PumpUntil([&] { return !AltTabInvoked(); }, 3000));
  std::printf(
      "Alt+Tab state cleared %.0f ms after the foreground notice (delay 200 ms)\n",
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  EXPECT_EQ(direction, MOD_SHIFT);
}

TEST_F(MainWindowTest, SwitchStartAndEndEventsDriveTheAltTabState) {
  HWND a = helper_.CreateWindowOf();
  helper_.Notify(EVENT_SYSTEM_SWITCHSTART, a);
  ASSERT_TRUE(PumpUntil([&] { return AltTabInvoked(); }));
  bool via_hotkey = true;
  AltTabInvoked(nullptr, &via_hotkey);
  EXPECT_FALSE(via_hotkey);
  helper_.Notify(EVENT_SYSTEM_SWITCHEND, a);
  EXPECT_TRUE(PumpUntil([&] { return !AltTabInvoked(); }, 3000));
}

TEST_F(MainWindowTest, ARibbonToolWindowAndTheWayBackAreNoForegroundChange) {
  HWND a = helper_.CreateWindowOf(), b = helper_.CreateWindowOf(), other = helper_.CreateWindowOf();
  HWND ribbon = helper_.CreateWindowOf(wh::kRibbonTool);
  ContainerWindow* container = Dock(a);
  ASSERT_NE(container, nullptr);
  ASSERT_EQ(Dock(b), container);
  helper_.Notify(EVENT_SYSTEM_FOREGROUND, other);
  ASSERT_TRUE(PumpUntil([&] { return !container->IsActive(); }));

  // The way back from a ribbon's tool window leads to a docked window of the
  // same thread; an inactive tab's notice names it (or its parked sheet).
  HWND back = container->ActiveWindow() == a ? b : a;
  helper_.Notify(EVENT_SYSTEM_FOREGROUND, ribbon);
  helper_.Notify(EVENT_SYSTEM_FOREGROUND, RootOf(back));
  PumpFor(300);
  EXPECT_FALSE(container->IsActive()) << "neither notice is a change";
  // ... the next notice is.
  helper_.Notify(EVENT_SYSTEM_FOREGROUND, RootOf(back));
  EXPECT_TRUE(PumpUntil([&] { return container->IsActive(); }));
}

// Observed through the Alt+Tab state, which only a tracked foreground change
// ends; no container takes part, so nothing else moves the foreground.
TEST_F(MainWindowTest, DelayedActivationWaitsForItsOwnForegroundNotice) {
  HWND target = helper_.CreateWindowOf(), other = helper_.CreateWindowOf();
  // The program moves the foreground only away from a window that answers:
  // start from one of ours, not from a window of an earlier, exiting helper.
  HWND start = CreateWindowExW(0, L"STATIC", L"start", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                               nullptr, nullptr, nullptr);
  SetForegroundWindow(start);
  ASSERT_TRUE(PumpUntil([&] { return GetForegroundWindow() == start; }));
  SendMessageW(main_.hwnd(), WM_TC_ALTTABHOTKEY, MOD_ALT, reinterpret_cast<LPARAM>(start));
  ASSERT_TRUE(AltTabInvoked());

  main_.ActivateWindowByTimer(target);
  ASSERT_TRUE(PumpUntil([&] { return main_.foreground.last_foreground_window == target; }));
  // Another process's window is activated by its own thread, a moment later.
  EXPECT_TRUE(PumpUntil([&] { return GetForegroundWindow() == target; }));
  EXPECT_FALSE(main_.activating_window);

  // A notice about another window is stale until ours arrives...
  helper_.Notify(EVENT_SYSTEM_FOREGROUND, other);
  PumpFor(400);  // longer than the Alt+Tab closing delay
  EXPECT_EQ(main_.foreground.last_foreground_window, target);
  EXPECT_TRUE(AltTabInvoked()) << "the stale notice was not tracked";
  // ... ours only settles the change ...
  helper_.Notify(EVENT_SYSTEM_FOREGROUND, target);
  EXPECT_TRUE(PumpUntil([&] { return main_.foreground.last_foreground_window == nullptr; }));
  EXPECT_TRUE(AltTabInvoked());
  // ... and from then on notices are tracked again.
  helper_.Notify(EVENT_SYSTEM_FOREGROUND, other);
  EXPECT_TRUE(PumpUntil([&] { return !AltTabInvoked(); }, 3000));

  // A cancelled activation does nothing.
  SetForegroundWindow(start);
  ASSERT_TRUE(PumpUntil([&] { return GetForegroundWindow() == start; }));
  main_.ActivateWindowByTimer(other);
  main_.ActivateWindowByTimer(nullptr);
  PumpFor(300);
  EXPECT_EQ(GetForegroundWindow(), start);
  DestroyWindow(start);
}

// Keys typed on the program's own controls inside a container are translated
// against that container before they are dispatched; other keys pass.
TEST_F(MainWindowTest, TheMessageLoopsKeyFilterTranslatesKeysOfControlsInAContainer) {
  HWND a = helper_.CreateWindowOf();
  ContainerWindow* container = Dock(a);
  ASSERT_NE(container, nullptr);
  HWND control = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE, 0, 0, 100, 20,
                                 container->hwnd(), nullptr, nullptr, nullptr);
  HWND loose =
      CreateWindowExW(0, L"EDIT", L"", WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(control && loose);
  vm::container::ContainerAcceleratorFilter filter(
      vm::AcceleratorTable(vm::AcceleratorTableKind::Container));
  auto key = [](HWND target, WPARAM vk) { return MSG{target, WM_KEYDOWN, vk, 0x000F0001, 0, {}}; };

  MSG tab = key(control, VK_TAB);  // plain Tab: first entry of the container's table
  EXPECT_TRUE(filter.TranslateKeyDown(tab));
  MSG letter = key(control, 'Q');
  EXPECT_FALSE(filter.TranslateKeyDown(letter)) << "not in the table";
  MSG outside = key(loose, VK_TAB);
  EXPECT_FALSE(filter.TranslateKeyDown(outside)) << "not inside a container";
  MSG foreign = key(a, VK_TAB);
  EXPECT_FALSE(filter.TranslateKeyDown(foreign))
      << "another process's window: the hook library's job";
  vm::container::ContainerAcceleratorFilter no_table(nullptr);
  MSG again = key(control, VK_TAB);
  EXPECT_FALSE(no_table.TranslateKeyDown(again));
  DestroyWindow(loose);
}

}  // namespace
