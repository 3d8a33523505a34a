// One of several processes that try to start the container program at the
// same moment. Announces itself on the semaphore, waits for the go event,
// runs the start and writes what it got:
//
//   container_starter.exe <ready semaphore> <go event> <result file> <container command line>
//
// Result file: "<main window as hex> <outcome number> <1 if this process started it>".
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/container_protocol.h"
#include "common/unique_handle.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) return 2;
  vm::UniqueHandle ready(OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, argv[1]));
  vm::UniqueHandle go(OpenEventW(SYNCHRONIZE, FALSE, argv[2]));
  if (!ready || !go) return 3;
  ReleaseSemaphore(ready.get(), 1, nullptr);
  if (WaitForSingleObject(go.get(), 30000) != WAIT_OBJECT_0) return 4;

  const vm::protocol::StartResult r = vm::protocol::FindOrStartContainer(argv[4]);

  FILE* f = _wfopen(argv[3], L"w");
  if (f == nullptr) return 5;
  std::fprintf(f, "%llx %d %d\n",
               static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(r.main_window)),
               static_cast<int>(r.outcome), r.started_process ? 1 : 0);
  std::fclose(f);
  return 0;
}
