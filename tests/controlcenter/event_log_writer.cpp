// Second process of the event-log test: writes <count> lines "<tag>;<n>"
// through the event-log writer into <folder> (no trailing backslash), once <go-event> is set.
//   vm_event_log_writer <folder> <tag> <count> <go-event>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "common/event_log.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) return 2;
  vm::eventlog::SetConfigFolder(std::wstring(argv[1]) + L"\\");
  const std::wstring tag = argv[2];
  const int count = _wtoi(argv[3]);
  HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, argv[4]);
  if (go == nullptr || WaitForSingleObject(go, 30000) != WAIT_OBJECT_0) return 3;
  for (int i = 0; i < count; ++i) {
    vm::eventlog::WriteEventLine(tag + L";" + std::to_wstring(i), true);
  }
  CloseHandle(go);
  return 0;
}
