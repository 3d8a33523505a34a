#include <windows.h>

// Placeholder entry: replaced by the real start-up sequence.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
