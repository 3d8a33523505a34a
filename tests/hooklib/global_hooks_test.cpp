// The library's global hooks across processes: a hook host process installs
// them, the library enters GUI processes that know nothing of it (one of
// them named explorer.exe), and Wine's own explorer.exe survives it all.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/unique_handle.h"
#include "hooklib/core/storage_layout.h"
#include "tests/hooklib/test_support.h"
#include "tests/support/paths.h"

namespace vm::hooklib {
namespace {

struct Process {
  UniqueHandle handle;
  DWORD id = 0;
};

Process Start(const std::wstring& exe, const std::wstring& args) {
  std::wstring command = L"\"" + exe + L"\" " + args;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  Process p;
  if (CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                     &pi)) {
    CloseHandle(pi.hThread);
    p.handle.reset(pi.hProcess);
    p.id = pi.dwProcessId;
  }
  return p;
}

bool Exited(const Process& p) { return WaitForSingleObject(p.handle.get(), 0) == WAIT_OBJECT_0; }

DWORD ExitCodeOf(const Process& p) {
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(p.handle.get(), &code);
  return code;
}

void Stop(Process& p) {
  if (p.handle && !Exited(p)) {
    TerminateProcess(p.handle.get(), 99);
    WaitForSingleObject(p.handle.get(), 5000);
  }
}

bool StorageExists(DWORD pid) {
  UniqueHandle mapping{OpenFileMappingW(FILE_MAP_READ, FALSE, storage::MappingName(pid).c_str())};
  return static_cast<bool>(mapping);
}

std::wstring EventName(const wchar_t* what) {
  return L"Local\\vm_hooklib_global_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" + what;
}

// Wine's explorer.exe owns the (virtual) desktop window.
UniqueHandle OpenDesktopOwner(DWORD& pid) {
  pid = 0;
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

TEST(GlobalHooks, TheLibraryEntersOtherGuiProcessesAndLeavesWineExplorerRunning) {
  DWORD shell_pid = 0;
  UniqueHandle shell = OpenDesktopOwner(shell_pid);

  UniqueHandle installed{CreateEventW(nullptr, TRUE, FALSE, EventName(L"installed").c_str())};
  UniqueHandle uninstall{CreateEventW(nullptr, TRUE, FALSE, EventName(L"uninstall").c_str())};
  UniqueHandle quit{CreateEventW(nullptr, TRUE, FALSE, EventName(L"quit").c_str())};
  ASSERT_TRUE(installed && uninstall && quit);

  Process host = Start(test::TestPath(L"hook_host_fixture.exe"),
                       EventName(L"installed") + L" " + EventName(L"uninstall"));
  ASSERT_TRUE(host.handle);
  HANDLE wait_for[2] = {installed.get(), host.handle.get()};
  ASSERT_EQ(WaitForMultipleObjects(2, wait_for, FALSE, 20000), WAIT_OBJECT_0)
      << "hook host ended early with " << ExitCodeOf(host);

  // Processes started while the hooks are in get the library on their next message.
  Process gui = Start(test::TestPath(L"hook_gui_fixture.exe"), EventName(L"quit"));
  Process explorer = Start(test::TestPath(L"hookfixture\\explorer.exe"), L"");
  ASSERT_TRUE(gui.handle);
  ASSERT_TRUE(explorer.handle);

  // Observed from here: the fixture's storage block, named with its process id.
  EXPECT_TRUE(test::PumpUntil([&] { return StorageExists(gui.id) || Exited(gui); }, 20000));
  EXPECT_FALSE(Exited(gui));
  {
    UniqueHandle mapping{
        OpenFileMappingW(FILE_MAP_READ, FALSE, storage::MappingName(gui.id).c_str())};
    ASSERT_TRUE(mapping);
    UniqueMapView view{MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, storage::kSize)};
    ASSERT_TRUE(view);
    const auto* block = static_cast<const storage::StorageBlock*>(view.get());
    EXPECT_NE(block->counter, 0u);
    EXPECT_NE(block->trampoline_block, 0u);
    EXPECT_NE(block->trampoline_page, 0u);
  }

  // The explorer.exe fixture checks its per-thread hooks from the inside.
  EXPECT_TRUE(test::PumpUntil([&] { return Exited(explorer); }, 40000));
  EXPECT_EQ(ExitCodeOf(explorer), 0u)
      << "10: thread never hooked, 11: no pass-through while off, 12: not back on, 13: no library";

  // Wine's explorer.exe takes the library's Explorer paths too.
  if (shell) {
    PostMessageW(GetDesktopWindow(), WM_NULL, 0, 0);
    EXPECT_TRUE(test::PumpUntil([&] { return StorageExists(shell_pid); }, 10000))
        << "the desktop's explorer.exe did not get the library";
  }

  SetEvent(uninstall.get());
  EXPECT_TRUE(test::PumpUntil([&] { return Exited(host); }, 20000));
  EXPECT_EQ(ExitCodeOf(host), 15u) << "bit 0 install, bit 1 uninstall, bit 2 second uninstall";

  SetEvent(quit.get());
  EXPECT_TRUE(test::PumpUntil([&] { return Exited(gui); }, 20000));
  EXPECT_EQ(ExitCodeOf(gui), 0u);

  if (shell) {
    // The desktop's explorer.exe still runs and still answers.
    EXPECT_EQ(WaitForSingleObject(shell.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    DWORD_PTR answer = 0;
    EXPECT_NE(
        SendMessageTimeoutW(GetDesktopWindow(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer), 0);
  } else {
    std::printf("note: no explorer.exe owns the desktop window here; its check was skipped\n");
  }
  Stop(explorer);
  Stop(gui);
  Stop(host);
}

}  // namespace
}  // namespace vm::hooklib
