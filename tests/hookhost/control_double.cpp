// Plays our control program for the hook host tests (the real one is built
// elsewhere). Started three ways:
//   <record> answer|silent [<library to load>]
//       a control window that answers the host's announcement (or, "silent",
//       does not answer for up to 30 s, until the test sets the release
//       event), records the host's thread, posts mouse-hook requests to it on
//       the test's command and ends on request. The record is the named
//       mapping of ControlRecord the test created.
//   (no arguments)
//       as VellmarkFoliantCenter.exe next to the host: notes how it was
//       started in started.txt beside itself and ends.
//   <pid> <window> <switch>
//       a hook host that never stops: sets the start-up event and stays for
//       30 s whatever it is told (for the launcher's stop bound).
#include <windows.h>

#include <cwchar>
#include <string>

#include "common/names.h"
#include "tests/hookhost/control_double.h"

namespace {

using vm::test::hookhost::ControlRecord;

ControlRecord* g_record = nullptr;
UINT g_service = 0;

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH * 2] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
  std::wstring s(path, length);
  return s.substr(0, s.find_last_of(L"\\/") + 1);
}

int NoteStart() {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  GetStartupInfoW(&startup);
  wchar_t cwd[MAX_PATH * 2] = {};
  GetCurrentDirectoryW(MAX_PATH * 2, cwd);
  const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;
  std::wstring line = L"pid=" + std::to_wstring(GetCurrentProcessId()) + L";args=" +
                      std::to_wstring(__argc - 1) + L";show=" + std::to_wstring(show) + L";cwd=" +
                      cwd + L"\r\n";
  std::string bytes(line.begin(), line.end());  // the test's folders are ASCII
  HANDLE file = CreateFileW((OwnFolder() + vm::test::hookhost::kStartedFile).c_str(),
                            FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return 0;
}

int StubbornHost() {
  HANDLE startup = CreateEventW(nullptr, FALSE, FALSE, vm::names::kStartupEvent);
  if (startup == nullptr) return 1;
  SetEvent(startup);
  Sleep(30000);  // deliberately deaf: the launcher must give up on it
  return 0;
}

void PostRequest(WPARAM code) {
  ++g_record->posts;
  if (!PostThreadMessageW(g_record->host_thread, g_service, code, 0)) ++g_record->post_failures;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == g_service && g_service != 0) {
    if (wparam == 73) {
      g_record->host_thread = static_cast<std::uint32_t>(lparam);
      ++g_record->announcements;
    }
    return 1;
  }
  switch (message) {
    case vm::test::hookhost::kPostInstallMouseHook:
      PostRequest(74);
      return 0;
    case vm::test::hookhost::kPostUninstallMouseHook:
      PostRequest(75);
      return 0;
    case vm::test::hookhost::kQuit:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

int ControlProgram(const wchar_t* record_name, bool silent, const wchar_t* library) {
  HANDLE mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, record_name);
  if (mapping == nullptr) return 2;
  g_record = static_cast<ControlRecord*>(
      MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(ControlRecord)));
  if (g_record == nullptr) return 3;
  HANDLE release =
      OpenEventW(SYNCHRONIZE, FALSE, vm::test::hookhost::ReleaseEventName(record_name).c_str());
  g_service = RegisterWindowMessageW(vm::names::kServiceMessage);
  if (library != nullptr && LoadLibraryW(library) != nullptr) g_record->library_loaded = 1;

  WNDCLASSW wc{};
  wc.lpfnWndProc = &WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"vm_hookhost_control_double";
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, wc.lpszClassName, L"control double", WS_OVERLAPPED, 0, 0, 100,
                                100, nullptr, nullptr, wc.hInstance, nullptr);
  if (window == nullptr) return 4;
  g_record->process_id = GetCurrentProcessId();
  g_record->window = reinterpret_cast<std::uintptr_t>(window);
  // A control program busy elsewhere: its window's thread takes no messages.
  if (silent && release != nullptr) WaitForSingleObject(release, 30000);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  DestroyWindow(window);
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (__argc == 1) return NoteStart();
  if (__argc == 4 && iswdigit(__wargv[1][0])) return StubbornHost();
  if (__argc >= 3) {
    return ControlProgram(__wargv[1], wcscmp(__wargv[2], L"silent") == 0,
                          __argc >= 4 ? __wargv[3] : nullptr);
  }
  return 100;
}
