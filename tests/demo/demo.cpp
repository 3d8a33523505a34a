// Shows the container program at work: starts it the way the hook library
// does, finds its hidden main window like any other process would, hands it
// a window of our own to dock, and ends it cleanly with the undock-all
// request, which gives the window back. Exit code 0 when every step worked.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/names.h"
#include "common/unique_handle.h"
#include "tests/support/message_pump.h"
#include "tests/support/paths.h"

namespace {

using namespace vm::names;
using vm::test::PumpUntil;

constexpr DWORD kBound = 10000;

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

int Fail(const char* what, HANDLE program) {
  std::printf("demo FAILED: %s\n", what);
  if (program != nullptr && WaitForSingleObject(program, 0) == WAIT_TIMEOUT) {
    TerminateProcess(program, 1);
    WaitForSingleObject(program, kBound);
  }
  return 1;
}

}  // namespace

int wmain() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const std::wstring exe = vm::test::BinPath(kContainerExe);
  std::printf("starting %s -\n", Narrow(exe).c_str());
  std::wstring command = L"\"" + exe + L"\" -";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return Fail("the container program could not be started", nullptr);
  }
  vm::UniqueHandle started(info.hProcess);
  CloseHandle(info.hThread);

  // Found exactly as the hook library finds it: class and the empty title.
  HWND main = nullptr;
  if (!PumpUntil([&] { return (main = FindWindowW(kMainWindowClass, L"")) != nullptr; }, kBound)) {
    return Fail("no main window appeared", started.get());
  }
  DWORD pid = 0;
  GetWindowThreadProcessId(main, &pid);
  std::printf("main window %p  class \"%s\"  title \"\"  visible %d  process %lu%s\n",
              static_cast<void*>(main), Narrow(ClassOf(main)).c_str(),
              IsWindowVisible(main) ? 1 : 0, pid,
              pid == info.dwProcessId ? "" : " (an instance that was already running)");
  vm::UniqueHandle program(OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
  if (!program) return Fail("the program's process cannot be opened", started.get());

  // A window of ours, docked the way the hook library asks for Explorer's.
  WNDCLASSW wc{};
  wc.lpszClassName = L"VmDemoFolderWindow";
  wc.lpfnWndProc = DefWindowProcW;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  RegisterClassW(&wc);
  HWND folder = CreateWindowExW(0, wc.lpszClassName, L"Demo folder window", WS_OVERLAPPEDWINDOW,
                                100, 100, 640, 400, nullptr, nullptr, nullptr, nullptr);
  ShowWindow(folder, SW_SHOWNOACTIVATE);
  PostMessageW(main, WM_TC_DOCKWINDOW, reinterpret_cast<WPARAM>(folder), 1);
  HWND container = nullptr;
  if (!PumpUntil(
          [&] {
            return (container = static_cast<HWND>(GetPropW(folder, kPropContainerWnd))) != nullptr;
          },
          kBound)) {
    return Fail("the dock request was not answered", program.get());
  }
  PumpUntil([&] { return IsWindowVisible(container) != FALSE; }, kBound);
  DWORD_PTR active = 0;
  SendMessageTimeoutW(container, WM_TC_GETACTIVEWINDOW, 0, 0, SMTO_ABORTIFHUNG, 2000, &active);
  wchar_t caption[128] = {};
  GetWindowTextW(container, caption, 128);
  std::printf(
      "docked %p into container %p  class \"%s\"  caption \"%s\"  visible %d  active window %p\n",
      static_cast<void*>(folder), static_cast<void*>(container), Narrow(ClassOf(container)).c_str(),
      Narrow(caption).c_str(), IsWindowVisible(container) ? 1 : 0, reinterpret_cast<void*>(active));
  if (reinterpret_cast<HWND>(active) != folder)
    return Fail("the container names another window", program.get());

  // Undock all: the window comes back, the last container closes, the program ends.
  PostMessageW(main, WM_TC_UNDOCKALL, 0, 0);
  if (!PumpUntil([&] { return WaitForSingleObject(program.get(), 0) == WAIT_OBJECT_0; }, kBound)) {
    return Fail("the program did not end after undock-all", program.get());
  }
  DWORD code = 0;
  GetExitCodeProcess(started.get(), &code);
  const bool given_back = IsWindow(folder) && GetPropW(folder, kPropContainerWnd) == nullptr &&
                          GetPropW(folder, kPropMainWnd) == nullptr;
  std::printf("container program ended (exit code %lu); window given back: %s\n", code,
              given_back ? "yes" : "no");
  DestroyWindow(folder);
  if (!given_back) return Fail("the window was not released", nullptr);
  std::printf("demo OK\n");
  return 0;
}
