#include <windows.h>

#include "container/program.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return vm::container::RunContainerProgram(GetCommandLineW());
}
