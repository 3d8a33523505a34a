#include <windows.h>

#include "controlcenter/program.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return vm::controlcenter::RunControlCenter(GetCommandLineW());
}
