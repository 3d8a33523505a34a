// The tab shortcuts: both tables' entries and order, the tables' life cycle,
// real keyboard input translated into the right WM_COMMAND ids, and the choice
// of the tab each command selects.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "common/accelerators.h"
#include "tests/support/input.h"
#include "tests/support/message_pump.h"

namespace vm {
namespace {

using test::KeyInput;

struct Entry {
  BYTE virt;
  WORD key;
  WORD cmd;
};

constexpr BYTE C = FVIRTKEY | FCONTROL;
// The shortcut table as users know it, written out independently of the code.
const std::vector<Entry> kShared = {
    {C, '1', 0x8001},
    {C, '2', 0x8002},
    {C, '3', 0x8003},
    {C, '4', 0x8004},
    {C, '5', 0x8005},
    {C, '6', 0x8006},
    {C, '7', 0x8007},
    {C, '8', 0x8008},
    {C, '9', 0x8009},
    {C, VK_TAB, 0x800A},
    {C | FSHIFT, VK_TAB, 0x800B},
    {C, 'W', 0x800C},
    {C, VK_F4, 0x800C},
    {C, 'T', 0x800D},
    {C, 'N', 0x800E},
    {C, VK_NEXT, 0x800A},
    {C, VK_PRIOR, 0x800B},
    {C, VK_NUMPAD1, 0x8001},
    {C, VK_NUMPAD2, 0x8002},
    {C, VK_NUMPAD3, 0x8003},
    {C, VK_NUMPAD4, 0x8004},
    {C, VK_NUMPAD5, 0x8005},
    {C, VK_NUMPAD6, 0x8006},
    {C, VK_NUMPAD7, 0x8007},
    {C, VK_NUMPAD8, 0x8008},
    {C, VK_NUMPAD9, 0x8009},
};

std::vector<Entry> Expected(AcceleratorTableKind kind) {
  std::vector<Entry> out;
  if (kind == AcceleratorTableKind::Container) out.push_back({FVIRTKEY, VK_TAB, 0x800F});
  out.insert(out.end(), kShared.begin(), kShared.end());
  return out;
}

void ExpectSame(const std::vector<Entry>& want, const ACCEL* got, size_t count) {
  ASSERT_EQ(want.size(), count);
  for (size_t i = 0; i < count; ++i) {
    SCOPED_TRACE("entry " + std::to_string(i));
    EXPECT_EQ(want[i].virt, got[i].fVirt & ~0x80);  // bit 7 marks the last entry in a copy
    EXPECT_EQ(want[i].key, got[i].key);
    EXPECT_EQ(want[i].cmd, got[i].cmd);
  }
}

TEST(AcceleratorTables, EntriesAreTheShortcutTableInOrder) {
  for (auto kind : {AcceleratorTableKind::Container, AcceleratorTableKind::HookLibrary}) {
    auto entries = AcceleratorEntries(kind);
    ExpectSame(Expected(kind), entries.data(), entries.size());

    // What the system built holds the same entries, in the same order.
    HACCEL table = AcceleratorTable(kind);
    ASSERT_NE(table, nullptr);
    ACCEL copy[64];
    int n = CopyAcceleratorTableW(table, copy, 64);
    ExpectSame(Expected(kind), copy, static_cast<size_t>(n));
  }
  EXPECT_EQ(AcceleratorEntries(AcceleratorTableKind::Container).size(), 27u);
  EXPECT_EQ(AcceleratorEntries(AcceleratorTableKind::HookLibrary).size(), 26u);
}

TEST(AcceleratorTables, CreatedOncePerProcessEvenUnderConcurrentFirstUse) {
  DestroyAcceleratorTables();
  constexpr int kThreads = 8;
  std::atomic<bool> go{false};
  std::vector<HACCEL> seen(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      while (!go) std::this_thread::yield();
      seen[i] = AcceleratorTable(i % 2 ? AcceleratorTableKind::Container
                                       : AcceleratorTableKind::HookLibrary);
    });
  }
  go = true;
  for (auto& t : threads) t.join();
  HACCEL container = AcceleratorTable(AcceleratorTableKind::Container);
  HACCEL hook = AcceleratorTable(AcceleratorTableKind::HookLibrary);
  ASSERT_NE(container, nullptr);
  ASSERT_NE(hook, nullptr);
  EXPECT_NE(container, hook);
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(seen[i], i % 2 ? container : hook);

  // Destroying frees the tables; the next use builds working ones again.
  DestroyAcceleratorTables();
  EXPECT_EQ(CopyAcceleratorTableW(container, nullptr, 0), 0);
  HACCEL again = AcceleratorTable(AcceleratorTableKind::Container);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(CopyAcceleratorTableW(again, nullptr, 0), 27);
}

// A focused top-level window that records the commands and keys it receives.
class KeyWindow {
 public:
  KeyWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VmAcceleratorTestWindow";
    RegisterClassW(&wc);
    hwnd_ = CreateWindowExW(WS_EX_TOPMOST, wc.lpszClassName, L"accelerators",
                            WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 300, 200, nullptr, nullptr,
                            wc.hInstance, this);
  }
  ~KeyWindow() { DestroyWindow(hwnd_); }
  HWND hwnd() const { return hwnd_; }

  bool Focus() {
    return test::PumpUntil([&] {
      SetForegroundWindow(hwnd_);
      SetFocus(hwnd_);
      return GetForegroundWindow() == hwnd_ && GetFocus() == hwnd_;
    });
  }

  std::vector<WPARAM> commands;
  std::vector<WPARAM> keydowns;
  std::vector<WPARAM> keyups;

 private:
  static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_NCCREATE) {
      SetWindowLongPtrW(
          h, GWLP_USERDATA,
          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams));
    }
    auto* self = reinterpret_cast<KeyWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA));
    if (self != nullptr) {
      if (m == WM_COMMAND) self->commands.push_back(w);
      if (m == WM_KEYDOWN) self->keydowns.push_back(w);
      if (m == WM_KEYUP) self->keyups.push_back(w);
    }
    return DefWindowProcW(h, m, w, l);
  }
  HWND hwnd_ = nullptr;
};

struct KeyCase {
  std::vector<WORD> modifiers;
  WORD vk;
  int container_cmd;  // 0 = not translated
  int hook_cmd;
};

class AcceleratorInput : public ::testing::Test {
 protected:
  // Sends the chord and pumps through TranslateAcceleratorW until the key's
  // WM_KEYUP went through the window. Returns the command ids that arrived.
  std::vector<WPARAM> Type(KeyWindow& w, HACCEL table, const KeyCase& c) {
    // Another program may have taken the foreground meanwhile.
    EXPECT_TRUE(w.Focus());
    w.commands.clear();
    w.keydowns.clear();
    w.keyups.clear();
    // Modifiers down, key tapped, modifiers up: real input that reaches the
    // window as WM_KEYDOWN/WM_KEYUP with the matching key state.
    std::vector<INPUT> in;
    for (WORD m : c.modifiers) in.push_back(KeyInput(m, true));
    in.push_back(KeyInput(c.vk, true));
    in.push_back(KeyInput(c.vk, false));
    for (auto it = c.modifiers.rbegin(); it != c.modifiers.rend(); ++it)
      in.push_back(KeyInput(*it, false));
    SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
    const WORD last_up = c.modifiers.empty() ? c.vk : c.modifiers.front();
    auto translate = [&](MSG& m) { return TranslateAcceleratorW(w.hwnd(), table, &m) != 0; };
    bool done = test::PumpUntil(
        [&] { return std::find(w.keyups.begin(), w.keyups.end(), last_up) != w.keyups.end(); },
        3000, translate);
    EXPECT_TRUE(done) << "the key-up of the chord never arrived";
    return w.commands;
  }
};

TEST_F(AcceleratorInput, RealKeysBecomeTheRightCommands) {
  KeyWindow w;
  ASSERT_TRUE(w.Focus()) << "test window could not take the keyboard focus";
  const WORD ctrl = VK_CONTROL, shift = VK_SHIFT;
  const std::vector<KeyCase> cases = {
      {{ctrl}, '1', 0x8001, 0x8001},
      {{ctrl}, '5', 0x8005, 0x8005},
      {{ctrl}, '8', 0x8008, 0x8008},
      {{ctrl}, '9', 0x8009, 0x8009},
      {{ctrl}, VK_TAB, 0x800A, 0x800A},
      {{ctrl, shift}, VK_TAB, 0x800B, 0x800B},
      {{ctrl}, 'W', 0x800C, 0x800C},
      {{ctrl}, VK_F4, 0x800C, 0x800C},
      {{ctrl}, 'T', 0x800D, 0x800D},
      {{ctrl}, 'N', 0x800E, 0x800E},
      {{ctrl}, VK_NEXT, 0x800A, 0x800A},
      {{ctrl}, VK_PRIOR, 0x800B, 0x800B},
      {{ctrl}, VK_NUMPAD3, 0x8003, 0x8003},
      {{ctrl}, VK_NUMPAD9, 0x8009, 0x8009},
      // Plain Tab: the container's focus key; inside Explorer it stays Explorer's.
      {{}, VK_TAB, 0x800F, 0},
      // Not shortcuts: no modifier, the wrong modifier.
      {{}, 'W', 0, 0},
      {{shift}, '1', 0, 0},
      {{ctrl}, '0', 0, 0},
  };
  for (auto kind : {AcceleratorTableKind::Container, AcceleratorTableKind::HookLibrary}) {
    HACCEL table = AcceleratorTable(kind);
    ASSERT_NE(table, nullptr);
    for (const KeyCase& c : cases) {
      const int want = kind == AcceleratorTableKind::Container ? c.container_cmd : c.hook_cmd;
      SCOPED_TRACE(testing::Message()
                   << (kind == AcceleratorTableKind::Container ? "container" : "hook")
                   << " table, vk 0x" << std::hex << c.vk << " with " << c.modifiers.size()
                   << " modifier(s)");
      auto got = Type(w, table, c);
      if (want == 0) {
        EXPECT_TRUE(got.empty());
        // Untranslated keys are dispatched to the window as usual.
        EXPECT_NE(std::find(w.keydowns.begin(), w.keydowns.end(), c.vk), w.keydowns.end());
      } else {
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(LOWORD(got[0]), want);
        EXPECT_EQ(HIWORD(got[0]), 1) << "an accelerator command has high word 1";
        EXPECT_EQ(TabCommandFromWParam(got[0]), want);
        // A translated key is not dispatched.
        EXPECT_EQ(std::find(w.keydowns.begin(), w.keydowns.end(), c.vk), w.keydowns.end());
      }
    }
  }
}

TEST(TabCommandFromWParam, OnlyAcceleratorCommandsOfOursCount) {
  EXPECT_EQ(TabCommandFromWParam(MAKEWPARAM(0x8001, 1)), 0x8001);
  EXPECT_EQ(TabCommandFromWParam(MAKEWPARAM(0x800F, 1)), 0x800F);
  EXPECT_EQ(TabCommandFromWParam(MAKEWPARAM(0x8001, 0)), 0) << "menu command, not an accelerator";
  EXPECT_EQ(TabCommandFromWParam(MAKEWPARAM(0x8000, 1)), 0);
  EXPECT_EQ(TabCommandFromWParam(MAKEWPARAM(0x8010, 1)), 0);
  EXPECT_EQ(TabCommandFromWParam(MAKEWPARAM(IDOK, 1)), 0);
}

TEST(ResolveTabCommand, ChoosesTheTabAsUsersExpect) {
  using K = TabCommandAction::Kind;
  struct Case {
    int cmd, count, active;
    TabCommandAction want;
  };
  const Case cases[] = {
      // Ctrl+1..8: that tab if it exists.
      {CMD_TAB_SELECT1, 3, 2, {K::Select, 0}},
      {CMD_TAB_SELECT1 + 2, 3, 0, {K::Select, 2}},
      {CMD_TAB_SELECT1 + 4, 3, 0, {}},  // Ctrl+5 with three tabs does nothing
      {CMD_TAB_SELECT8, 8, 0, {K::Select, 7}},
      {CMD_TAB_SELECT8, 7, 0, {}},
      {CMD_TAB_SELECT1, 0, -1, {}},
      // Ctrl+9: the last tab, whatever the count.
      {CMD_TAB_SELECTLAST, 3, 0, {K::Select, 2}},
      {CMD_TAB_SELECTLAST, 12, 0, {K::Select, 11}},
      {CMD_TAB_SELECTLAST, 1, 0, {K::Select, 0}},
      {CMD_TAB_SELECTLAST, 0, -1, {}},
      // Next and previous wrap around.
      {CMD_TAB_NEXT, 3, 0, {K::Select, 1}},
      {CMD_TAB_NEXT, 3, 2, {K::Select, 0}},
      {CMD_TAB_PREVIOUS, 3, 0, {K::Select, 2}},
      {CMD_TAB_PREVIOUS, 3, 2, {K::Select, 1}},
      {CMD_TAB_NEXT, 1, 0, {K::Select, 0}},
      {CMD_TAB_PREVIOUS, 1, 0, {K::Select, 0}},
      {CMD_TAB_NEXT, 0, -1, {}},
      {CMD_TAB_PREVIOUS, 0, -1, {}},
      // No active tab (or a stale index): start from an end.
      {CMD_TAB_NEXT, 3, -1, {K::Select, 0}},
      {CMD_TAB_PREVIOUS, 3, -1, {K::Select, 2}},
      {CMD_TAB_NEXT, 3, 7, {K::Select, 0}},
      {CMD_TAB_PREVIOUS, 3, 7, {K::Select, 2}},
      // The other commands.
      {CMD_TAB_CLOSE, 3, 1, {K::CloseActive, -1}},
      {CMD_TAB_CLOSE, 0, -1, {}},
      {CMD_TAB_NEW, 0, -1, {K::NewTab, -1}},
      {CMD_TAB_NEWCONTAINER, 2, 0, {K::NewContainer, -1}},
      {CMD_TAB_FOCUSWINDOW, 2, 1, {K::FocusWindow, -1}},
      {CMD_TAB_FOCUSWINDOW, 0, -1, {}},
      // Not ours.
      {0x8000, 3, 0, {}},
      {0x8010, 3, 0, {}},
      {IDOK, 3, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "command 0x" << std::hex << c.cmd << std::dec << ", "
                                    << c.count << " tabs, active " << c.active);
    TabCommandAction got = ResolveTabCommand(static_cast<std::uint32_t>(c.cmd), c.count, c.active);
    EXPECT_EQ(static_cast<int>(got.kind), static_cast<int>(c.want.kind));
    EXPECT_EQ(got.index, c.want.index);
  }
}

}  // namespace
}  // namespace vm
