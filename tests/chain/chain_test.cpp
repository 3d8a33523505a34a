// The whole chain as a user starts it: our control program starts the hook
// host, whose global hooks bring the hook library into GUI programs, whose
// messenger client registers with the control program. Killing the control
// program ends the host; starting it again brings the clients back.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/names.h"
#include "common/unique_handle.h"
#include "hooklib/core/storage_layout.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/message_pump.h"
#include "tests/support/paths.h"

namespace vm::test {
namespace {

constexpr DWORD kBound = 30000;

// Our control program with a log folder of its own.
class ControlProgram {
 public:
  ControlProgram() : folder_(NewTempFolder(L"vfo_chain")) {
    process_ = ChildProcess(BinPath(names::kControlProgramExe),
                            L"--no-tray --no-staging --config-folder \"" + folder_ + L"\"");
  }
  ChildProcess& process() { return process_; }
  std::string Log() const { return ReadWholeFile(folder_ + L"\\" + names::kEventLogFile); }
  bool WaitForLog(const std::string& needle, DWORD timeout = kBound) const {
    return PumpUntil([&] { return Log().find(needle) != std::string::npos; }, timeout);
  }
  HWND Handler() const {
    HWND w = nullptr;
    while ((w = FindWindowExW(nullptr, w, names::kControlCenterHandlerClass,
                              names::kControlCenterHandlerTitle)) != nullptr) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid == process_.id()) return w;
    }
    return nullptr;
  }

 private:
  std::wstring folder_;
  ChildProcess process_;
};

// The running hook host, found by its program name.
UniqueHandle OpenHookHost() {
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return {};
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, names::kHookHostExe) == 0) {
      return UniqueHandle(OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
    }
  }
  return {};
}

// Waits, pumping, for a process to end.
bool Ends(HANDLE process) {
  return PumpUntil([&] { return WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }, kBound);
}

bool StorageExists(DWORD pid) {
  UniqueHandle mapping(
      OpenFileMappingW(FILE_MAP_READ, FALSE, hooklib::storage::MappingName(pid).c_str()));
  return static_cast<bool>(mapping);
}

// Wine's explorer.exe owns the (virtual) desktop: the library is mapped into
// it too, and it must survive everything here.
bool DesktopAnswers() {
  DWORD_PTR answer = 0;
  return SendMessageTimeoutW(GetDesktopWindow(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer) !=
         0;
}

TEST(Chain, TheControlProgramsHookHostBringsTheLibraryAndItsClientComesBackAfterARestart) {
  const std::wstring quit_name = UniqueName(L"Local\\vm_chain_gui_quit");
  UniqueHandle quit(CreateEventW(nullptr, TRUE, FALSE, quit_name.c_str()));
  ASSERT_TRUE(quit);

  auto first = std::make_unique<ControlProgram>();
  ASSERT_TRUE(first->process().started());
  ASSERT_TRUE(first->WaitForLog(";Succeeded;HookHostAnnounced;")) << first->Log();
  UniqueHandle host = OpenHookHost();
  ASSERT_TRUE(host) << "no hook host runs";

  // A GUI program started now gets the library, and its messenger client
  // registers with our control program.
  ChildProcess gui(TestPath(L"hook_gui_fixture.exe"), quit_name);
  ASSERT_TRUE(gui.started());
  EXPECT_TRUE(PumpUntil([&] { return StorageExists(gui.id()) || !gui.Running(); }, kBound))
      << "the library never came into the GUI program";
  const std::string registered = "RegisterClient;process " + std::to_string(gui.id()) + ",";
  EXPECT_TRUE(first->WaitForLog(registered)) << first->Log();

  // The control program dies: its host unhooks and ends by itself.
  first->process().Stop();
  EXPECT_TRUE(Ends(host.get())) << "the hook host outlived its control program";
  first.reset();

  // Started again, it gets a new host, and the GUI program's client, which
  // withdrew when the old program went, registers with the new one at its
  // next hook call.
  ControlProgram second;
  ASSERT_TRUE(second.WaitForLog(";Succeeded;HookHostAnnounced;")) << second.Log();
  host = OpenHookHost();
  ASSERT_TRUE(host);
  EXPECT_TRUE(second.WaitForLog(registered)) << second.Log();
  EXPECT_TRUE(gui.Running());

  // Closed the ordinary way, it stops its host, bounded.
  HWND handler = second.Handler();
  ASSERT_NE(handler, nullptr);
  PostMessageW(handler, WM_CLOSE, 0, 0);
  EXPECT_EQ(second.process().WaitExit(kBound), 0u);
  EXPECT_TRUE(Ends(host.get())) << "the hook host outlived its control program";

  SetEvent(quit.get());
  EXPECT_EQ(gui.WaitExit(kBound), 0u) << "the GUI program with the library in it broke";
  EXPECT_TRUE(DesktopAnswers()) << "Wine's explorer.exe no longer answers";
}

}  // namespace
}  // namespace vm::test
