// The container program's decisions, without windows: which container gets a
// window, what a foreground change means, the Alt+Tab state, which keys and
// windows count, the lock set, the command line.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "container/alt_tab_state.h"
#include "container/container_choice.h"
#include "container/dock_locks.h"
#include "container/foreground_tracking.h"
#include "container/key_forwarding.h"
#include "container/program.h"

namespace {

using namespace vm::container;
using vm::names::DockLock;

HWND H(std::uintptr_t value) { return reinterpret_cast<HWND>(value); }

// ---------------------------------------------------------------------------

TEST(ContainerChoice, NamedThenTopmostThenFirst) {
  const std::vector<HWND> list = {H(10), H(20), H(30)};
  struct Case {
    const char* name;
    HWND named, topmost;
    std::size_t expected;
  } cases[] = {
      {"named wins over the Z order", H(10), H(30), 0},
      {"topmost when none is named", nullptr, H(20), 1},
      {"a named container that is gone: Z order", H(99), H(30), 2},
      {"topmost not ours: the first", nullptr, H(77), 0},
      {"nothing known: the first", nullptr, nullptr, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseContainer(list, c.named, c.topmost), c.expected) << c.name;
  }
  const std::vector<HWND> one = {H(5)};
  EXPECT_EQ(ChooseContainer(one, nullptr, nullptr), 0u);
}

// ---------------------------------------------------------------------------

TEST(AltTabState, SwitchEventsHotKeyAndClosingDelay) {
  AltTabState s;
  EXPECT_FALSE(s.invoked());
  EXPECT_FALSE(s.SwitcherEnded()) << "nothing to close";

  s.SwitcherStarted(0x8000, H(1));
  EXPECT_TRUE(s.invoked());
  EXPECT_FALSE(s.via_hotkey());
  EXPECT_EQ(s.direction(), 0x8000) << "Shift held: backwards";
  EXPECT_EQ(s.foreground(), H(1));

  s.SwitcherStarted(0, H(2));
  EXPECT_EQ(s.foreground(), H(1)) << "a second start while open is ignored";
  EXPECT_EQ(s.direction(), 0x8000);

  EXPECT_TRUE(s.SwitcherEnded()) << "the closing delay starts";
  EXPECT_TRUE(s.invoked()) << "the state outlives the switcher until the delay ran out";
  s.Clear();
  EXPECT_FALSE(s.invoked());
  EXPECT_EQ(s.foreground(), nullptr);
  EXPECT_EQ(s.direction(), 0);
}

TEST(AltTabState, HotKeyNotice) {
  struct Case {
    const char* name;
    UINT modifiers;
    bool windows8;
    int direction;
    HWND foreground;
  } cases[] = {
      {"Alt+Tab on Windows 8", MOD_ALT, true, 0, H(7)},
      {"Alt+Shift+Tab", MOD_ALT | MOD_SHIFT, true, MOD_SHIFT, H(7)},
      {"Ctrl+Alt+Tab keeps the switcher open: no window", MOD_ALT | MOD_CONTROL, true, 0, nullptr},
      {"before Windows 8: no window", MOD_ALT, false, 0, nullptr},
  };
  for (const Case& c : cases) {
    AltTabState s;
    s.HotKeyPressed(c.modifiers, H(7), c.windows8);
    EXPECT_TRUE(s.invoked()) << c.name;
    EXPECT_TRUE(s.via_hotkey()) << c.name;
    EXPECT_EQ(s.direction(), c.direction) << c.name;
    EXPECT_EQ(s.foreground(), c.foreground) << c.name;
  }
  // The hot key after a switch-start event takes over.
  AltTabState s;
  s.SwitcherStarted(0, H(1));
  s.HotKeyPressed(MOD_ALT | MOD_SHIFT, H(2), true);
  EXPECT_TRUE(s.via_hotkey());
  EXPECT_EQ(s.foreground(), H(2));
  // ... and a switch-start event after the hot key leaves it alone.
  s.SwitcherStarted(0, H(3));
  EXPECT_TRUE(s.via_hotkey());
  EXPECT_EQ(s.direction(), MOD_SHIFT);
}

// ---------------------------------------------------------------------------

TEST(IgnoredForegroundWindows, ByClassTitleAndProcess) {
  struct Case {
    const wchar_t* cls;
    const wchar_t* title;
    bool own;
    bool ignored;
  } cases[] = {
      {L"TPUtilWindow", L"", true, true},
      {L"TPUtilWindow", L"", false, false},
      {L"#32771", L"", false, true},
      {L"TaskSwitcherWnd", L"", false, true},
      {L"MultitaskingViewFrame", L"", false, true},
      {L"VellmarkTools_TaskSwitcher", L"", false, true},
      {L"ForegroundStaging", L"", false, true},
      {L"TaskListOverlayWnd", L"", false, true},
      {L"TaskListThumbnailWnd", L"", false, true},
      {L"XamlExplorerHostIslandWindow", L"Task Switching", false, true},
      {L"XamlExplorerHostIslandWindow", L"Task Switching ", false, false},
      {L"XamlExplorerHostIslandWindow", L"Start", false, false},
      {L"CabinetWClass", L"Task Switching", false, false},
      {L"taskswitcherwnd", L"", false, false},
      {L"", L"", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsIgnoredForegroundWindow(c.cls, c.title, c.own), c.ignored)
        << c.cls << " / " << c.title;
  }
}

// ---------------------------------------------------------------------------

TEST(KeyForwarding, OnlyTheContainersKeysAndNeverInjectedOnes) {
  struct Case {
    const char* name;
    KeyEvent key;
    bool windows7;
    bool forwarded;
  } cases[] = {
      {"Alt+Space", {WM_SYSKEYDOWN, VK_SPACE, 0, false}, true, true},
      {"Alt+Esc", {WM_SYSKEYDOWN, VK_ESCAPE, 0, false}, false, true},
      {"Alt+Space injected", {WM_SYSKEYDOWN, VK_SPACE, LLKHF_INJECTED, false}, true, false},
      {"Alt+F4 is the docked window's", {WM_SYSKEYDOWN, VK_F4, 0, false}, true, false},
      {"Alt+Space released", {WM_SYSKEYUP, VK_SPACE, 0, false}, true, false},
      {"Win+Left", {WM_KEYDOWN, VK_LEFT, 0, true}, true, true},
      {"Win+Home", {WM_KEYDOWN, VK_HOME, 0, true}, true, true},
      {"Win+Up", {WM_KEYDOWN, VK_UP, 0, true}, true, true},
      {"Win+Right", {WM_KEYDOWN, VK_RIGHT, 0, true}, true, true},
      {"Win+Down", {WM_KEYDOWN, VK_DOWN, 0, true}, true, true},
      {"Win+Left before Windows 7", {WM_KEYDOWN, VK_LEFT, 0, true}, false, false},
      {"Left without Win", {WM_KEYDOWN, VK_LEFT, 0, false}, true, false},
      {"Win+E", {WM_KEYDOWN, 'E', 0, true}, true, false},
      {"Win+Left injected", {WM_KEYDOWN, VK_LEFT, LLKHF_INJECTED, true}, true, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KeyBelongsToContainer(c.key, c.windows7), c.forwarded) << c.name;
  }
  EXPECT_EQ(ForwardKeyLParam({WM_SYSKEYDOWN, VK_SPACE, 0, false}),
            static_cast<LPARAM>((VK_SPACE << 16) | WM_SYSKEYDOWN));
}

// ---------------------------------------------------------------------------

TEST(DockLocks, SetOfKinds) {
  DockLocks locks;
  EXPECT_TRUE(locks.Empty());
  locks.Add(DockLock::Vfo);
  locks.Add(DockLock::DragAndDrop);
  EXPECT_TRUE(locks.Has(DockLock::Vfo));
  EXPECT_FALSE(locks.Has(DockLock::Kestrel));
  EXPECT_FALSE(locks.Remove(DockLock::Vfo).Empty()) << "the drag lock remains";
  EXPECT_TRUE(locks.Remove(DockLock::DragAndDrop).Empty());
  locks.Add(static_cast<DockLock>(8));
  EXPECT_TRUE(locks.Empty()) << "kinds above 7 are ignored";
  locks.Add(static_cast<DockLock>(7));
  EXPECT_EQ(locks.bits(), 0x80);
  EXPECT_TRUE(locks.Remove(DockLock::Kestrel).Has(static_cast<DockLock>(7)));

  for (LPARAM v : {LPARAM{0}, LPARAM{1}, LPARAM{2}, LPARAM{3}})
    EXPECT_TRUE(IsKnownDockLock(v)) << v;
  for (LPARAM v : {LPARAM{-1}, LPARAM{4}, LPARAM{7}, LPARAM{8}, LPARAM{0x100000001LL}})
    EXPECT_FALSE(IsKnownDockLock(v)) << v;
}

// ---------------------------------------------------------------------------

TEST(Program, CommandLineMustBeExactlyOneDash) {
  struct Case {
    const wchar_t* line;
    bool runs;
  } cases[] = {
      {L"VellmarkToolsTabbedContainer64.exe -", true},
      {L"\"C:\\Program Files\\Vellmark\\VellmarkToolsTabbedContainer64.exe\" -", true},
      {L"prog.exe \"-\"", true},
      {L"prog.exe    -   ", true},
      {L"prog.exe", false},
      {L"prog.exe -x", false},
      {L"prog.exe --", false},
      {L"prog.exe - -", false},
      {L"prog.exe - extra", false},
      {L"prog.exe /", false},
      {L"prog.exe \"\"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsContainerCommandLine(c.line), c.runs) << c.line;
  EXPECT_FALSE(IsContainerCommandLine(nullptr));
}

TEST(Program, ExplorersTaskbarIdentity) {
  auto flags = [](std::uint32_t major, std::uint32_t minor) {
    return vm::ComputeVersionFlags({major, minor, 0, 0});
  };
  EXPECT_EQ(ExplorerAppUserModelId(flags(6, 0)), nullptr);
  EXPECT_STREQ(ExplorerAppUserModelId(flags(6, 1)),
               L"{F38BF404-1D43-42F2-9305-67DE0B28FC23}\\explorer.exe");
  EXPECT_STREQ(ExplorerAppUserModelId(flags(6, 2)), L"Microsoft.Windows.Explorer");
  EXPECT_STREQ(ExplorerAppUserModelId(flags(10, 0)), L"Microsoft.Windows.Explorer");
}

// ---------------------------------------------------------------------------
// Foreground tracking

class FakeFacts : public WindowFacts {
 public:
  std::set<HWND> windows;
  std::map<HWND, UINT> atoms;
  std::set<HWND> own;
  std::map<HWND, HWND> first_child, root_owner, host;

  bool IsWindow(HWND w) const override { return windows.count(w) != 0; }
  UINT ClassAtom(HWND w) const override { return Get(atoms, w); }
  bool IsOwnProcess(HWND w) const override { return own.count(w) != 0; }
  HWND FirstChild(HWND w) const override { return Get(first_child, w); }
  HWND RootOwner(HWND w) const override {
    // Like GetAncestor(GA_ROOTOWNER): the window itself when it has no owner.
    auto it = root_owner.find(w);
    return it != root_owner.end() ? it->second : (IsWindow(w) ? w : nullptr);
  }
  HWND HostingContainer(HWND w) const override { return Get(host, w); }

 private:
  template <typename V>
  static V Get(const std::map<HWND, V>& m, HWND w) {
    auto it = m.find(w);
    return it != m.end() ? it->second : V{};
  }
};

constexpr UINT kRibbonAtom = 0xC101, kSheetAtom = 0xC102, kSwitcherAtom = 0xC103,
               kExplorerAtom = 0xC104, kContainerAtom = 0xC105;

class ForegroundTrackingTest : public ::testing::Test {
 protected:
  // Two containers; container 1 hosts the Explorer window `docked` inside
  // the sheet `sheet`; `dialog` is owned by `docked`.
  HWND c1 = H(0x100), c2 = H(0x200), docked = H(0x300), sheet = H(0x310), dialog = H(0x320),
       other = H(0x400), ribbon = H(0x500), switcher = H(0x600);
  std::vector<HWND> containers = {c1, c2};
  TrackingAtoms atoms;
  FakeFacts facts;
  ForegroundMemory memory;

  void SetUp() override {
    atoms.net_ui_tool_window = kRibbonAtom;
    atoms.tab_sheet = kSheetAtom;
    atoms.task_switchers[0] = kSwitcherAtom;
    facts.windows = {c1, c2, docked, sheet, dialog, other, ribbon, switcher};
    facts.atoms = {{c1, kContainerAtom}, {c2, kContainerAtom},  {docked, kExplorerAtom},
                   {sheet, kSheetAtom},  {ribbon, kRibbonAtom}, {switcher, kSwitcherAtom}};
    facts.own = {c1, c2, sheet};
    facts.first_child = {{sheet, docked}};
    facts.root_owner = {{dialog, docked}};
    facts.host = {{docked, c1}};
  }

  ForegroundPlan Plan(HWND window, DWORD thread = 1, HWND keep_active = nullptr) {
    return PlanForegroundChange(memory, window, thread, containers, keep_active, atoms, facts);
  }
};

using A = ContainerAction;

TEST_F(ForegroundTrackingTest, ADockedWindowActivatesItsContainerAndDeactivatesTheOthers) {
  for (HWND w : {docked, dialog, sheet}) {  // directly, through its owned dialog, through its sheet
    const ForegroundPlan p = Plan(w);
    ASSERT_FALSE(p.stop);
    EXPECT_EQ(p.window, docked);
    EXPECT_EQ(p.actions, (std::vector<A>{A::WindowActivated, A::Deactivate}));
    EXPECT_TRUE(p.end_alt_tab);
  }
}

TEST_F(ForegroundTrackingTest, AContainerItselfOrAnyOtherWindow) {
  ForegroundPlan p = Plan(c2);
  EXPECT_EQ(p.actions, (std::vector<A>{A::Deactivate, A::Activate}));
  p = Plan(other);
  EXPECT_EQ(p.actions, (std::vector<A>{A::Deactivate, A::Deactivate}));
  p = Plan(other, 1, c2);
  EXPECT_EQ(p.actions, (std::vector<A>{A::Deactivate, A::None})) << "the container kept active";
}

TEST_F(ForegroundTrackingTest, OurOwnChangeWaitsForItsNotice) {
  memory.last_foreground_window = docked;
  ForegroundPlan p = Plan(other);
  EXPECT_TRUE(p.stop) << "a stale notice";
  EXPECT_EQ(p.set_active, nullptr);
  EXPECT_EQ(memory.last_foreground_window, docked);

  p = Plan(docked);
  EXPECT_TRUE(p.stop);
  EXPECT_EQ(p.set_active, docked);
  EXPECT_EQ(memory.last_foreground_window, nullptr);

  p = Plan(docked);
  EXPECT_FALSE(p.stop) << "later notices are tracked again";
}

TEST_F(ForegroundTrackingTest, AWindowThatDiedBeforeItsNoticeDoesNotHoldTheTracking) {
  memory.last_foreground_window = H(0xDEAD);
  const ForegroundPlan p = Plan(docked);
  EXPECT_FALSE(p.stop);
  EXPECT_EQ(memory.last_foreground_window, nullptr);
  EXPECT_EQ(p.actions, (std::vector<A>{A::WindowActivated, A::Deactivate}));
}

TEST_F(ForegroundTrackingTest, ARibbonToolWindowAndTheWayBackAreNoChange) {
  ForegroundPlan p = Plan(ribbon, 42);
  EXPECT_TRUE(p.stop);
  EXPECT_EQ(memory.last_ribbon_tool_thread, 42u);

  p = Plan(docked, 42);  // back to the docked window on the ribbon's thread
  EXPECT_TRUE(p.stop);
  EXPECT_EQ(memory.last_ribbon_tool_thread, 0u);

  memory.last_ribbon_tool_thread = 42;
  p = Plan(docked, 43);  // another thread: a real change, the ribbon memory stays
  EXPECT_FALSE(p.stop);
  EXPECT_EQ(memory.last_ribbon_tool_thread, 42u);

  p = Plan(other, 42);  // not docked: a real change as well
  EXPECT_FALSE(p.stop);
}

TEST_F(ForegroundTrackingTest, OnlyTaskSwitchersKeepTheAltTabState) {
  EXPECT_FALSE(Plan(switcher).end_alt_tab);
  EXPECT_TRUE(Plan(other).end_alt_tab);
  EXPECT_TRUE(Plan(c1).end_alt_tab);
}

TEST_F(ForegroundTrackingTest, ASheetOfAnotherProcessIsNotFollowedIntoItsChild) {
  facts.own.erase(sheet);
  const ForegroundPlan p = Plan(sheet);
  EXPECT_EQ(p.window, sheet);
  EXPECT_EQ(p.actions, (std::vector<A>{A::Deactivate, A::Deactivate}));
}

}  // namespace
