// Second process for the common library's tests. Modes:
//   wait <event> [<ready-event>]       signals ready, then waits (at most 30 s) for the event
//   instance <id>                      exit 10 when another process holds the guard, 11 when we
//   took it race <id> <ready-sem> <go-event> <done-sem> <quit-event>
//                                      waits for go, takes the guard like `instance`, reports done,
//                                      holds the guard until quit; exit code as for `instance`
//   hold <id> <ready-event> <quit-event>
//                                      takes the guard, signals ready, holds it until quit
//   activate <id> <command>            second instance asking the first to come forward
//   write <file> <count> <go-event>    appends <count> "begin"/"end" line pairs under the file
//   mutex trylock <file>                     exit 1 when another process holds the file's mutex,
//   else 0
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/file_access_mutex.h"
#include "common/shared_names.h"
#include "common/single_instance.h"

namespace {

constexpr DWORD kBound = 30000;

HANDLE OpenNamedEvent(const wchar_t* name) {
  return OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name);
}
HANDLE OpenNamedSemaphore(const wchar_t* name) {
  return OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, name);
}

int InstanceResult(const wchar_t* id) {
  return vm::SingleAppInstance(id).AppAlreadyExist() ? 10 : 11;
}

void AppendLine(const std::wstring& path, const std::string& line) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  const std::wstring mode = argv[1];
  vm::InitSharedNames(vm::Deliverable::HookHost);

  if (mode == L"wait" && (argc == 3 || argc == 4)) {
    HANDLE e = OpenNamedEvent(argv[2]);
    if (argc == 4) {
      HANDLE ready = OpenNamedEvent(argv[3]);
      if (ready == nullptr) return 3;
      SetEvent(ready);
    }
    return e != nullptr && WaitForSingleObject(e, kBound) == WAIT_OBJECT_0 ? 0 : 3;
  }
  if (mode == L"instance" && argc == 3) return InstanceResult(argv[2]);
  if (mode == L"race" && argc == 7) {
    HANDLE ready = OpenNamedSemaphore(argv[3]), go = OpenNamedEvent(argv[4]),
           done = OpenNamedSemaphore(argv[5]), quit = OpenNamedEvent(argv[6]);
    if (!ready || !go || !done || !quit) return 3;
    ReleaseSemaphore(ready, 1, nullptr);
    if (WaitForSingleObject(go, kBound) != WAIT_OBJECT_0) return 3;
    const int result = InstanceResult(argv[2]);
    ReleaseSemaphore(done, 1, nullptr);
    WaitForSingleObject(quit, kBound);
    return result;
  }
  if (mode == L"hold" && argc == 5) {
    const int result = InstanceResult(argv[2]);
    HANDLE ready = OpenNamedEvent(argv[3]), quit = OpenNamedEvent(argv[4]);
    if (!ready || !quit) return 3;
    SetEvent(ready);
    WaitForSingleObject(quit, kBound);
    return result;
  }
  if (mode == L"activate" && argc == 4) {
    vm::SingleAppInstance instance(argv[2]);
    if (!instance.AppAlreadyExist()) return 11;
    instance.ActivateFirstApp(static_cast<std::uint32_t>(std::wcstoul(argv[3], nullptr, 0)));
    return 10;
  }
  if (mode == L"write" && argc == 5) {
    const std::wstring path = argv[2];
    const int count = _wtoi(argv[3]);
    HANDLE go = OpenNamedEvent(argv[4]);
    if (!go || WaitForSingleObject(go, kBound) != WAIT_OBJECT_0) return 3;
    const std::string pid = std::to_string(GetCurrentProcessId());
    for (int i = 0; i < count; ++i) {
      vm::FileAccessMutex lock(path);
      AppendLine(path, "begin " + pid + "\n");
      // Give the other writer every chance to slip in between the two lines.
      SwitchToThread();
      Sleep(1);
      AppendLine(path, "end " + pid + "\n");
    }
    return 0;
  }
  if (mode == L"trylock" && argc == 3) {
    HANDLE m = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE,
                          vm::FileAccessMutex::MutexNameFor(argv[2]).c_str());
    if (m == nullptr) return 0;
    const DWORD r = WaitForSingleObject(m, 0);
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED) {
      ReleaseMutex(m);
      return 0;
    }
    return 1;
  }
  return 2;
}
