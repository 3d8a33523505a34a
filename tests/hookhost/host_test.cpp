// The hook host as the control program meets it, with real processes under
// Wine: the real hook library from the build's folder, a stand-in control
// program (control_double.exe: ours is built elsewhere), and a GUI fixture
// that the global hooks must reach. Every case runs the host from the
// build's own folder with the library beside it, never staged: Wine keeps a
// hooked library mapped in every process it entered, so a library from any
// other path would be another copy to every later host of this session (the
// staging cases run in a session of their own, staging_test.cpp).
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <filesystem>

#include "common/hook_host_launcher.h"
#include "common/names.h"
#include "common/single_instance.h"
#include "hooklib/core/storage_layout.h"
#include "tests/hookhost/host_test_support.h"

namespace vm::test::hookhost {
namespace {

std::wstring HostExe() { return BinPath(L"VellmarkFoliantCenter64.exe"); }
std::wstring Library() { return BinPath(L"vfoemb64.dll"); }

bool ThreadOf(DWORD thread_id, DWORD process_id) {
  UniqueHandle thread{OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, thread_id)};
  return thread && GetProcessIdOfThread(thread.get()) == process_id;
}

bool StorageExists(DWORD pid) {
  UniqueHandle mapping{
      OpenFileMappingW(FILE_MAP_READ, FALSE, hooklib::storage::MappingName(pid).c_str())};
  return static_cast<bool>(mapping);
}

// Wine's explorer.exe owns the (virtual) desktop window.
UniqueHandle OpenDesktopOwner() {
  DWORD pid = 0;
  GetWindowThreadProcessId(GetDesktopWindow(), &pid);
  UniqueHandle process{OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)};
  if (!process) return {};
  wchar_t path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (!QueryFullProcessImageNameW(process.get(), 0, path, &size)) return {};
  const std::wstring name(path, size);
  if (name.size() < 12 || _wcsicmp(name.c_str() + name.size() - 12, L"explorer.exe") != 0)
    return {};
  return process;
}

class HookHostTest : public ::testing::Test {
 protected:
  LogSwitchOn log_on_;
  HostEvents events_;
};

// ---- Command lines that serve nothing -------------------------------------------

TEST_F(HookHostTest, NoArgumentsStartsTheControlProgramHiddenOtherCountsDoNothing) {
  RunFolder folder(L"noargs");
  const std::wstring host = folder / L"VellmarkFoliantCenter64.exe";
  ASSERT_TRUE(CopyFileW(HostExe().c_str(), host.c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(TestPath(L"hookhost_control_double.exe").c_str(),
                        (folder / L"VellmarkFoliantCenter.exe").c_str(), FALSE));
  const std::wstring started = folder / kStartedFile;

  for (const wchar_t* args : {L"1", L"1 2", L"1 2 3 4"}) {
    SCOPED_TRACE(Narrow(args));
    ChildProcess run(host, args);
    ASSERT_TRUE(run.started());
    EXPECT_EQ(run.WaitExit(kBound), 0u);
  }
  ChildProcess run(host, L"");
  ASSERT_TRUE(run.started());
  EXPECT_EQ(run.WaitExit(kBound), 0u);
  ASSERT_TRUE(PumpUntil([&] { return !ReadLines(started).empty(); }, kBound))
      << "the control program next to the host was not started";
  const std::string line = ReadLines(started)[0];
  // Its own end: by then any start of the runs before would have noted itself too.
  const DWORD pid = std::stoul(line.substr(4));
  UniqueHandle standin{OpenProcess(SYNCHRONIZE, FALSE, pid)};
  if (standin) WaitForSingleObject(standin.get(), kBound);
  EXPECT_EQ(ReadLines(started).size(), 1u);
  EXPECT_NE(line.find(";args=0;"), std::string::npos) << line;
  EXPECT_NE(line.find(";show=0;"), std::string::npos) << line << " (SW_HIDE)";
  std::string cwd = line.substr(line.find(";cwd=") + 5);
  while (!cwd.empty() && cwd.back() == '\\') cwd.pop_back();
  EXPECT_EQ(_stricmp(cwd.c_str(), Narrow(folder.path()).c_str()), 0) << cwd;
  // None of these runs served, so none signalled anything.
  EXPECT_FALSE(HostEvents::Taken(events_.startup));
  EXPECT_FALSE(HostEvents::Taken(events_.shutdown));
  EXPECT_FALSE(HostEvents::Taken(events_.relogin));
}

TEST_F(HookHostTest, RefusedParentOrWindowEndsSilentlyBeforeLoading) {
  ControlDouble control(false);
  ASSERT_TRUE(control.WaitReady());
  // A process that has ended. Its handle stays open here, so that its id is
  // not given to a new process (Wine reuses ids at once; the host of a later
  // case could otherwise get it).
  ChildProcess quick(HostExe(), L"1 2");
  const DWORD gone = quick.id();
  quick.WaitExit(kBound);
  const std::wstring pid = std::to_wstring(control.process().id());
  struct Case {
    std::wstring args;
    bool opens_parent;  // the OpenProcess line is written
  };
  const Case cases[] = {
      {L"0 123 1", false},
      {L"abc 123 1", false},
      {pid + L" 0 1", true},
      {pid + L" window 1", true},
      {std::to_wstring(gone) + L" 123 1", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.args));
    LogTail log;
    ChildProcess run(HostExe(), c.args);
    ASSERT_TRUE(run.started());
    EXPECT_EQ(run.WaitExit(kBound), 0u);
    EXPECT_EQ(log.Has("OpenProcess"), c.opens_parent) << log.Dump();
    EXPECT_FALSE(log.Has("LoadLibrary")) << log.Dump();
    EXPECT_FALSE(HostEvents::Taken(events_.startup));
    EXPECT_FALSE(HostEvents::Taken(events_.shutdown));
    EXPECT_FALSE(HostEvents::Taken(events_.relogin));
  }
  EXPECT_EQ(control.record().announcements, 0u);

  // The failed open is logged with the error of OpenProcess itself. Process
  // ids are multiples of four: this one never opens.
  constexpr DWORD kNoSuchProcess = 3;
  LogTail log;
  ChildProcess run(HostExe(), std::to_wstring(kNoSuchProcess) + L" 123 1");
  run.WaitExit(kBound);
  SetLastError(0);
  EXPECT_EQ(OpenProcess(SYNCHRONIZE, FALSE, kNoSuchProcess), nullptr);
  const DWORD error = GetLastError();
  EXPECT_TRUE(log.Has("TCCApp;Failed;OpenProcess;" + std::to_string(kNoSuchProcess) + ";" +
                      Narrow(eventlog::ErrorText(error))))
      << log.Dump() << "expected error " << error;
}

TEST_F(HookHostTest, SecondCopyEndsAtOnceWithoutSettingAnyEvent) {
  // This process holds the guard the first host would hold.
  SingleAppInstance first(names::kHookHostInstanceId);
  ASSERT_FALSE(first.AppAlreadyExist());
  ControlDouble control(false);
  ASSERT_TRUE(control.WaitReady());
  LogTail log;
  ChildProcess second(HostExe(), control.HostArguments(L"1"));
  ASSERT_TRUE(second.started());
  EXPECT_EQ(second.WaitExit(kBound), 0u);
  ReleaseSingleInstanceGuards();
  EXPECT_FALSE(HostEvents::Taken(events_.startup));
  EXPECT_FALSE(HostEvents::Taken(events_.shutdown));
  EXPECT_FALSE(HostEvents::Taken(events_.relogin));
  EXPECT_EQ(control.record().announcements, 0u);
  EXPECT_TRUE(log.HostLines().empty()) << log.Dump();
}

// ---- Serving ------------------------------------------------------------------------

TEST_F(HookHostTest, AnySwitchButZeroLoadsFromTheProgramFolderAndCopiesNothing) {
  for (const wchar_t* stage_switch : {L"1", L"00"}) {
    SCOPED_TRACE(Narrow(stage_switch));
    RunFolder folder(L"nostage");
    ScopedTemp temp(folder / L"temp");
    ControlDouble control(false);
    ASSERT_TRUE(control.WaitReady());
    LogTail log;
    ChildProcess host(HostExe(), control.HostArguments(stage_switch));
    ASSERT_TRUE(HostEvents::Taken(events_.startup, kBound)) << log.Dump();
    // Announced before the start-up event, with the host's own thread.
    EXPECT_EQ(control.record().announcements, 1u);
    EXPECT_TRUE(ThreadOf(control.record().host_thread, host.id()));
    EXPECT_TRUE(HasModule(host.id(), Library()));
    EXPECT_FALSE(FileExists(folder / L"temp\\vfoemb64.dll"));
    EXPECT_FALSE(HostEvents::Taken(events_.relogin));

    SetEvent(events_.shutdown.get());
    EXPECT_EQ(host.WaitExit(kBound), 0u);
    EXPECT_TRUE(HostEvents::Taken(events_.shutdown)) << "the host sets it once it has unloaded";
    const std::string pid = std::to_string(control.process().id());
    const std::vector<std::string> expected = {
        "ControlCenter64;TCCApp;Succeeded;OpenProcess;" + pid,
        "ControlCenter64;TCCApp;Succeeded;LoadLibrary;\"" + Narrow(Library()) + "\"",
        "ControlCenter64;TCCApp;Succeeded;CallEAProc;InstallMainHooks",
        "ControlCenter64;TCCApp;Succeeded;CallEAProc;UninstallMainHooks",
    };
    EXPECT_EQ(log.HostLines(), expected) << log.Dump();
  }
}

TEST_F(HookHostTest, ServingReachesLaterGuiProcessesIgnoresMouseRequestsAndEndsWithTheParent) {
  UniqueHandle shell = OpenDesktopOwner();
  auto control = std::make_unique<ControlDouble>(false);
  ASSERT_TRUE(control->WaitReady());
  LogTail log;
  ChildProcess host(HostExe(), control->HostArguments(L"1"));
  ASSERT_TRUE(HostEvents::Taken(events_.startup, kBound)) << log.Dump();

  // A GUI program started after the host announced itself gets the library.
  const std::wstring quit_name = UniqueName(L"Local\\vm_hh_gui_quit");
  UniqueHandle quit{CreateEventW(nullptr, TRUE, FALSE, quit_name.c_str())};
  ChildProcess gui(TestPath(L"hook_gui_fixture.exe"), quit_name);
  ASSERT_TRUE(gui.started());
  EXPECT_TRUE(PumpUntil([&] { return StorageExists(gui.id()) || !gui.Running(); }, kBound))
      << "the fixture's storage block \"..._EALocalStorageV8147_\" + pid never appeared";
  EXPECT_TRUE(HasModule(gui.id(), Library()));

  // The library of this project has no mouse-hook exports: requests find
  // none, leave the host's flag as it was and the host serving.
  for (UINT request : {kPostInstallMouseHook, kPostUninstallMouseHook, kPostInstallMouseHook,
                       kPostUninstallMouseHook}) {
    PostMessageW(control->window(), request, 0, 0);
  }
  EXPECT_TRUE(PumpUntil([&] { return control->record().posts == 4; }, kBound));
  EXPECT_EQ(control->record().post_failures, 0u) << "the announced thread takes thread messages";
  EXPECT_TRUE(host.Running());

  // The control program ends without a word: the host unloads and says so.
  control->process().Stop();
  EXPECT_TRUE(HostEvents::Taken(events_.shutdown, kBound));
  EXPECT_EQ(host.WaitExit(kBound), 0u);
  EXPECT_TRUE(log.Has("Succeeded;CallEAProc;UninstallMainHooks")) << log.Dump();
  EXPECT_FALSE(log.Has("MouseHook")) << log.Dump();
  control.reset();

  SetEvent(quit.get());
  EXPECT_EQ(gui.WaitExit(kBound), 0u);
  if (shell) {
    EXPECT_EQ(WaitForSingleObject(shell.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    DWORD_PTR answer = 0;
    EXPECT_NE(
        SendMessageTimeoutW(GetDesktopWindow(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer), 0)
        << "Wine's explorer.exe no longer answers";
  } else {
    std::printf("note: no explorer.exe owns the desktop window here; its check was skipped\n");
  }
}

TEST_F(HookHostTest, ControlWindowThatDoesNotAnswerCostsFiveSecondsThenStartUpIsSet) {
  for (const bool silent : {false, true}) {
    SCOPED_TRACE(silent ? "silent" : "answering");
    ControlDouble control(silent);
    ASSERT_TRUE(control.WaitReady());
    const ULONGLONG begin = GetTickCount64();
    ChildProcess host(HostExe(), control.HostArguments(L"1"));
    ASSERT_TRUE(HostEvents::Taken(events_.startup, kBound));
    const ULONGLONG took = GetTickCount64() - begin;
    std::printf("start-up event %llu ms after the host started (%s control window)\n", took,
                silent ? "silent" : "answering");
    if (silent) {
      EXPECT_GE(took, 4900u) << "the host did not wait for the answer";
      EXPECT_EQ(control.record().announcements, 0u);
    } else {
      EXPECT_EQ(control.record().announcements, 1u);
    }
    control.Release();
    SetEvent(events_.shutdown.get());
    EXPECT_EQ(host.WaitExit(kBound), 0u);
    EXPECT_TRUE(HostEvents::Taken(events_.shutdown));
  }
}

// ---- The launcher of our control program ---------------------------------------------

HookHostLauncher* g_launcher = nullptr;
int g_announcements = 0;

LRESULT CALLBACK ControlWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  static const UINT service = RegisterWindowMessageW(names::kServiceMessage);
  if (m == service && g_launcher != nullptr) {
    if (g_launcher->NoteServiceMessage(wp, lp)) ++g_announcements;
    return 1;
  }
  return DefWindowProcW(w, m, wp, lp);
}

struct ControlWindow {
  ControlWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &ControlWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"vm_hookhost_launcher_test";
    RegisterClassW(&wc);
    window.reset(CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                 nullptr, wc.hInstance, nullptr));
  }
  UniqueWindow window;
};

UniqueHandle Duplicate(HANDLE process) {
  HANDLE copy = nullptr;
  DuplicateHandle(GetCurrentProcess(), process, GetCurrentProcess(), &copy, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  return UniqueHandle{copy};
}

TEST_F(HookHostTest, LauncherStartsAndStopsTheHostWithinItsBounds) {
  ControlWindow control;
  ASSERT_TRUE(control.window);
  HookHostLauncher launcher;
  g_launcher = &launcher;
  g_announcements = 0;
  HookHostOptions options;
  options.host_path = HostExe();
  options.control_window = control.window.get();

  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "first start" : "start after a stop");
    ULONGLONG begin = GetTickCount64();
    ASSERT_EQ(launcher.Start(options), HookHostStart::Started);
    std::printf("launcher: started in %llu ms\n", GetTickCount64() - begin);
    // The announcement to this thread's window was answered while Start waited.
    EXPECT_EQ(g_announcements, round + 1);
    EXPECT_TRUE(ThreadOf(launcher.host_thread_id(), launcher.process_id()));
    EXPECT_TRUE(launcher.RequestMouseHook(true));
    EXPECT_TRUE(launcher.RequestMouseHook(false));
    {
      HookHostLauncher other;
      EXPECT_EQ(other.Start(options), HookHostStart::AlreadyRunning);
    }
    // What the earlier host set on its way out does not stop this one.
    PumpFor(500);
    EXPECT_TRUE(launcher.Running());

    UniqueHandle process = Duplicate(launcher.process());
    begin = GetTickCount64();
    EXPECT_EQ(launcher.Stop(), HookHostStop::Stopped);
    std::printf("launcher: stopped in %llu ms\n", GetTickCount64() - begin);
    EXPECT_EQ(WaitForSingleObject(process.get(), 0), WAIT_OBJECT_0);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(launcher.Running());
  }
  g_launcher = nullptr;
}

TEST_F(HookHostTest, LauncherReportsAMissingHostAndGivesUpOnOneThatWillNotStop) {
  ControlWindow control;
  HookHostLauncher launcher;
  HookHostOptions options;
  options.control_window = control.window.get();
  options.host_path = TestPath(L"no_such_host.exe");
  EXPECT_EQ(launcher.Start(options), HookHostStart::CouldNotStart);

  // A host that signals its start and then ignores the shutdown event.
  options.host_path = TestPath(L"hookhost_control_double.exe");
  ASSERT_EQ(launcher.Start(options), HookHostStart::Started);
  UniqueHandle process = Duplicate(launcher.process());
  const ULONGLONG begin = GetTickCount64();
  EXPECT_EQ(launcher.Stop(1000), HookHostStop::TimedOut);
  std::printf("launcher: gave up after %llu ms (bound 1000 ms)\n", GetTickCount64() - begin);
  EXPECT_FALSE(launcher.Running());
  EXPECT_EQ(launcher.Stop(1000), HookHostStop::Stopped) << "nothing left to stop";
  TerminateProcess(process.get(), 1);
  WaitForSingleObject(process.get(), kBound);
  events_.Reset();
}

}  // namespace
}  // namespace vm::test::hookhost
