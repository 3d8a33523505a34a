// Prints the shared names this process obtains as the deliverable named on
// the command line ("container", "library" or "host"), then its session as
// the console support sees it. Run by names_test as a second process.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "common/shared_names.h"
#include "tests/names/names_dump.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  vm::Deliverable who;
  if (std::wcscmp(argv[1], L"container") == 0) {
    who = vm::Deliverable::Container;
  } else if (std::wcscmp(argv[1], L"library") == 0) {
    who = vm::Deliverable::HookLibrary;
  } else if (std::wcscmp(argv[1], L"host") == 0) {
    who = vm::Deliverable::HookHost;
  } else {
    return 2;
  }
  vm::InitSharedNames(who);
  std::fputs(vm::test::DumpNames(vm::Names()).c_str(), stdout);
  std::printf("session=%ld\n", vm::SessionIdOf(GetCurrentProcessId()));
  std::fflush(stdout);
  vm::FinalizeSharedNames();
  return 0;
}
