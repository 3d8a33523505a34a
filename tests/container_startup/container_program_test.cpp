// The container program in its own process, driven the way the hook library
// and other processes drive it: by its command line, by finding its main
// window and by posting requests to it. The docked windows belong to a
// helper process.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/names.h"
#include "common/shared_names.h"
#include "tests/container_startup/window_helper_client.h"
#include "tests/support/child_process.h"
#include "tests/support/message_pump.h"
#include "tests/support/paths.h"

namespace {

using namespace vm::names;
using vm::test::ChildProcess;
using vm::test::PumpFor;
using vm::test::PumpUntil;
using vm::test::WindowHelper;

constexpr DWORD kExitBound = 10000;

HWND FindMainWindow() { return FindWindowW(kMainWindowClass, L""); }

DWORD ProcessOf(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

std::vector<HWND> ContainersOf(DWORD process_id) {
  struct Search {
    DWORD pid;
    std::vector<HWND> found;
  } search{process_id, {}};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        wchar_t cls[128] = {};
        GetClassNameW(window, cls, 128);
        if (ProcessOf(window) == s->pid && std::wstring(cls) == kContainerWindowClass) {
          s->found.push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND ActiveWindowOf(HWND container) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(container, WM_TC_GETACTIVEWINDOW, 0, 0, SMTO_ABORTIFHUNG, 2000,
                           &result)) {
    return reinterpret_cast<HWND>(-1);
  }
  return reinterpret_cast<HWND>(result);
}

ChildProcess StartContainer(const std::wstring& arguments) {
  return ChildProcess(vm::test::BinPath(kContainerExe), arguments);
}

class ContainerProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vm::InitSharedNames(vm::Deliverable::HookLibrary);
    ASSERT_EQ(FindMainWindow(), nullptr) << "another container program is running";
  }

  // Starts the program with "-" and waits for its main window.
  void StartRunning() {
    program_ = StartContainer(L"-");
    ASSERT_TRUE(program_.started());
    ASSERT_TRUE(PumpUntil([&] { return (main_ = FindMainWindow()) != nullptr; }, kExitBound));
    ASSERT_EQ(ProcessOf(main_), program_.id());
  }

  // Posts a dock request as the hook library does and waits for the window
  // to be docked somewhere.
  HWND DockAndWait(HWND window, LPARAM lock = 1) {
    PostMessageW(main_, WM_TC_DOCKWINDOW, reinterpret_cast<WPARAM>(window), lock);
    PumpUntil([&] { return GetPropW(window, kPropContainerWnd) != nullptr; });
    return static_cast<HWND>(GetPropW(window, kPropContainerWnd));
  }

  ChildProcess program_;
  HWND main_ = nullptr;
};

TEST_F(ContainerProgramTest, AnyCommandLineButOneDashExitsAtOnce) {
  for (const wchar_t* arguments : {L"", L"-x", L"- second", L"--", L"/"}) {
    ChildProcess p = StartContainer(arguments);
    ASSERT_TRUE(p.started());
    EXPECT_EQ(p.WaitExit(kExitBound), 0u) << "arguments: '" << arguments << "'";
    EXPECT_EQ(FindMainWindow(), nullptr);
  }
}

TEST_F(ContainerProgramTest, OtherProcessesFindTheHiddenMainWindowByClassAndEmptyTitle) {
  StartRunning();
  EXPECT_FALSE(IsWindowVisible(main_));
  EXPECT_EQ(GetWindowTextLengthW(main_), 0);
  const LONG_PTR ex_style = GetWindowLongPtrW(main_, GWL_EXSTYLE);
  EXPECT_NE(ex_style & WS_EX_TOOLWINDOW, 0) << "never on the taskbar or in Alt+Tab";
  EXPECT_EQ(ex_style & WS_EX_APPWINDOW, 0);
  EXPECT_EQ(FindWindowW(kMainWindowClass, nullptr), main_);
  EXPECT_TRUE(ContainersOf(program_.id()).empty()) << "no container before the first dock";
}

TEST_F(ContainerProgramTest, ASecondInstanceExitsAtOnceAndLeavesTheFirstAlone) {
  StartRunning();
  ChildProcess second = StartContainer(L"-");
  EXPECT_EQ(second.WaitExit(kExitBound), 0u);
  EXPECT_TRUE(program_.Running());
  EXPECT_EQ(FindMainWindow(), main_);
  EXPECT_TRUE(IsWindow(main_));
}

TEST_F(ContainerProgramTest, DockRequestsAreRoutedToAContainerCreatedForTheFirst) {
  WindowHelper helper;
  ASSERT_TRUE(helper.ready());
  HWND first = helper.CreateWindowOf();
  HWND second = helper.CreateWindowOf();
  HWND refused = helper.CreateWindowOf();
  ASSERT_TRUE(first && second && refused);
  StartRunning();

  // Requests that must be refused: a handle that is no window, a lock kind
  // that does not exist, the program's own main window.
  HWND dead = helper.CreateWindowOf();
  helper.Destroy(dead);
  PostMessageW(main_, WM_TC_DOCKWINDOW, reinterpret_cast<WPARAM>(dead), 1);
  PostMessageW(main_, WM_TC_DOCKWINDOW, reinterpret_cast<WPARAM>(refused), 9);
  PostMessageW(main_, WM_TC_DOCKWINDOW, reinterpret_cast<WPARAM>(main_), 1);
  PumpFor(300);
  EXPECT_TRUE(ContainersOf(program_.id()).empty()) << "nothing was docked";
  EXPECT_EQ(GetPropW(refused, kPropContainerWnd), nullptr);
  EXPECT_TRUE(program_.Running());

  // A valid window: a container is created for it, shows itself and tags it.
  HWND container = DockAndWait(first);
  ASSERT_NE(container, nullptr);
  EXPECT_EQ(ContainersOf(program_.id()), std::vector<HWND>{container});
  EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(container) != FALSE; }));
  EXPECT_EQ(GetPropW(first, kPropMainWnd), main_);
  EXPECT_EQ(ActiveWindowOf(container), first);

  // The next one joins the same container and becomes its active tab.
  EXPECT_EQ(DockAndWait(second), container);
  EXPECT_EQ(ContainersOf(program_.id()).size(), 1u);
  EXPECT_EQ(ActiveWindowOf(container), second);

  // A second dock request with another lock only adds the lock: undocking
  // with lock 1 then leaves the window docked.
  PostMessageW(main_, WM_TC_DOCKWINDOW, reinterpret_cast<WPARAM>(second), 0);
  PostMessageW(main_, WM_TC_UNDOCKWINDOW, reinterpret_cast<WPARAM>(second), 1);
  PumpFor(200);
  EXPECT_EQ(GetPropW(second, kPropContainerWnd), container);
  PostMessageW(main_, WM_TC_UNDOCKWINDOW, reinterpret_cast<WPARAM>(second), 0);
  EXPECT_TRUE(PumpUntil([&] { return GetPropW(second, kPropContainerWnd) == nullptr; }));
  EXPECT_EQ(GetPropW(second, kPropMainWnd), nullptr);
  // The container answers sent requests while it waits in its calls into
  // the window it gives back, so the tab may still be there for a moment.
  EXPECT_TRUE(PumpUntil([&] { return ActiveWindowOf(container) == first; }))
      << "the left neighbour is active";
  EXPECT_TRUE(IsWindow(second)) << "given back, not closed";
}

TEST_F(ContainerProgramTest,
       TheLastWindowLeavingEndsTheProgramAndRestoresTheForegroundLockTimeout) {
  using vm::test::ForegroundLockTimeoutSeenByANewProcess;
  const DWORD original = ForegroundLockTimeoutSeenByANewProcess();
  const UINT marker = 123457;
  SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, reinterpret_cast<void*>(UINT_PTR{marker}),
                        0);
  ASSERT_EQ(ForegroundLockTimeoutSeenByANewProcess(), marker);

  WindowHelper helper;
  ASSERT_TRUE(helper.ready());
  HWND first = helper.CreateWindowOf();
  HWND second = helper.CreateWindowOf();
  StartRunning();
  EXPECT_EQ(ForegroundLockTimeoutSeenByANewProcess(), 0u) << "zero while the program runs";

  HWND container = DockAndWait(first);
  ASSERT_EQ(DockAndWait(second), container);
  // The hook library reports a destroyed window with the WinEvent message.
  ASSERT_TRUE(helper.Destroy(first));
  PostMessageW(main_, vm::Names().win_event, EVENT_OBJECT_DESTROY, reinterpret_cast<LPARAM>(first));
  EXPECT_TRUE(PumpUntil([&] { return ActiveWindowOf(container) == second; }));
  EXPECT_TRUE(program_.Running());

  PostMessageW(main_, WM_TC_UNDOCKWINDOW, reinterpret_cast<WPARAM>(second), 1);
  EXPECT_EQ(program_.WaitExit(kExitBound), 0u) << "the last container closed";
  EXPECT_FALSE(IsWindow(container));
  EXPECT_EQ(FindMainWindow(), nullptr);
  EXPECT_TRUE(IsWindow(second));
  EXPECT_EQ(ForegroundLockTimeoutSeenByANewProcess(), marker) << "restored at exit";

  SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0,
                        reinterpret_cast<void*>(UINT_PTR{original}), 0);
}

// Wine raises no foreground WinEvents of its own: the helper raises them with
// NotifyWinEvent, and the program's out-of-context hooks must turn them into
// tab activations.
TEST_F(ContainerProgramTest, ForegroundWinEventsActivateTheDockedWindowsTab) {
  WindowHelper helper;
  ASSERT_TRUE(helper.ready());
  HWND first = helper.CreateWindowOf();
  HWND second = helper.CreateWindowOf();
  HWND switcher = helper.CreateWindowOf(vm::test::window_helper::kTaskSwitcher);
  StartRunning();
  HWND container = DockAndWait(first);
  ASSERT_EQ(DockAndWait(second), container);
  ASSERT_EQ(ActiveWindowOf(container), second);

  // The notice names the top-level window: the docked window itself while it
  // is not re-parented, else the tab sheet it is parked in. Right after a
  // dock the program may be waiting for the notice of its own activation,
  // which Windows raises and Wine does not, and hold other notices stale
  // until it gives up; so the notice is raised again until it is taken.
  auto notice_until = [&](HWND window, HWND active) {
    for (int attempt = 0; attempt < 20; ++attempt) {
      helper.Notify(EVENT_SYSTEM_FOREGROUND, GetAncestor(window, GA_ROOT));
      if (PumpUntil([&] { return ActiveWindowOf(container) == active; }, 250)) return true;
    }
    return false;
  };
  EXPECT_TRUE(notice_until(first, first));
  // A task switcher taking the foreground is no foreground change: the tab
  // stays, and the next real notice is followed.
  helper.Notify(EVENT_SYSTEM_FOREGROUND, switcher);
  PumpFor(200);
  EXPECT_EQ(ActiveWindowOf(container), first);
  EXPECT_TRUE(notice_until(second, second));
}

TEST_F(ContainerProgramTest, CaptionNoticesRenameTheContainer) {
  WindowHelper helper;
  ASSERT_TRUE(helper.ready());
  HWND window = helper.CreateWindowOf();
  StartRunning();
  HWND container = DockAndWait(window);
  ASSERT_NE(container, nullptr);
  wchar_t caption[64] = {};
  GetWindowTextW(window, caption, 64);
  EXPECT_TRUE(PumpUntil([&] {
    wchar_t now[64] = {};
    GetWindowTextW(container, now, 64);
    return std::wstring(now) == std::wstring(caption) + L" - Vellmark Foliant";
  }));

  SetWindowTextW(window, L"Documents");
  PostMessageW(main_, vm::Names().win_event, EVENT_OBJECT_NAMECHANGE,
               reinterpret_cast<LPARAM>(window));
  EXPECT_TRUE(PumpUntil([&] {
    wchar_t now[64] = {};
    GetWindowTextW(container, now, 64);
    return std::wstring(now) == L"Documents - Vellmark Foliant";
  }));
}

TEST_F(ContainerProgramTest, UndockAllAndCloseGiveEveryWindowBackAndEndTheProgram) {
  for (UINT request : {WM_TC_UNDOCKALL, static_cast<UINT>(WM_CLOSE)}) {
    WindowHelper helper;
    ASSERT_TRUE(helper.ready());
    HWND first = helper.CreateWindowOf();
    HWND second = helper.CreateWindowOf();
    StartRunning();
    HWND container = DockAndWait(first);
    ASSERT_EQ(DockAndWait(second), container);

    PostMessageW(main_, request, 0, 0);
    EXPECT_EQ(program_.WaitExit(kExitBound), 0u) << std::hex << request;
    for (HWND w : {first, second}) {
      EXPECT_TRUE(IsWindow(w));
      EXPECT_EQ(GetPropW(w, kPropContainerWnd), nullptr);
      EXPECT_EQ(GetPropW(w, kPropMainWnd), nullptr);
    }
    EXPECT_EQ(FindMainWindow(), nullptr);
  }
}

TEST_F(ContainerProgramTest, UndockAllWithoutContainersEndsTheProgramToo) {
  StartRunning();
  PostMessageW(main_, WM_TC_UNDOCKALL, 0, 0);
  EXPECT_EQ(program_.WaitExit(kExitBound), 0u);
}

}  // namespace
