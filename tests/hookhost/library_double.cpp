// Stands in for the hook library (it is built as vfoemb64.dll into a folder
// of its own): installs no hooks, so it stays inside the processes that load
// it, and it has the two mouse-hook exports the real library lacks. Every
// load and every call appends "<pid>;<what>" to the file named by
// VM_HOOKHOST_DOUBLE_LOG. VM_HOOKHOST_DOUBLE_MODE steers it:
//   "raise"      InstallMainHooks raises an exception nobody handles
//   "fail"       InstallMainHooks fails with last error 5
//   "mousefail"  InstallMouseHook fails
#include <windows.h>

#include <string>

namespace {

std::wstring Variable(const wchar_t* name) {
  wchar_t buffer[1024] = {};
  const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
  return length > 0 && length < 1024 ? std::wstring(buffer, length) : std::wstring();
}

void Note(const std::wstring& what) {
  const std::wstring path = Variable(L"VM_HOOKHOST_DOUBLE_LOG");
  if (path.empty()) return;
  const std::wstring line = std::to_wstring(GetCurrentProcessId()) + L";" + what + L"\r\n";
  char bytes[2048];
  const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()),
                                       bytes, sizeof(bytes), nullptr, nullptr);
  // Appends are atomic enough for lines this short; several processes write.
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes, static_cast<DWORD>(size > 0 ? size : 0), &written, nullptr);
  CloseHandle(file);
}

bool Mode(const wchar_t* mode) { return Variable(L"VM_HOOKHOST_DOUBLE_MODE") == mode; }

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t path[MAX_PATH * 2] = {};
    GetModuleFileNameW(instance, path, MAX_PATH * 2);
    Note(std::wstring(L"attach;") + path);
  } else if (reason == DLL_PROCESS_DETACH) {
    Note(L"detach");
  }
  return TRUE;
}

__declspec(dllexport) BOOL WINAPI InstallMainHooks() {
  Note(L"InstallMainHooks");
  if (Mode(L"raise")) RaiseException(0xE0484F53, 0, 0, nullptr);
  if (Mode(L"fail")) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  return -1;
}

__declspec(dllexport) BOOL WINAPI UninstallMainHooks() {
  Note(L"UninstallMainHooks");
  return -1;
}

__declspec(dllexport) BOOL WINAPI InstallMouseHook() {
  Note(L"InstallMouseHook");
  return Mode(L"mousefail") ? FALSE : -1;
}

__declspec(dllexport) BOOL WINAPI UninstallMouseHook() {
  Note(L"UninstallMouseHook");
  return -1;
}

}  // extern "C"
