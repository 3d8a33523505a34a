#pragma once
// Real keyboard and mouse input for tests (SendInput), as a user gives it.
// Tests using it hold the desktop_input lock: input goes to whatever window
// has the foreground.
#include <windows.h>

#include "tests/support/message_pump.h"

namespace vm::test {

// One key going down or up, with its scan code. Page Up and Page Down are
// the navigation keys, not the number pad's.
inline INPUT KeyInput(WORD vk, bool down) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
  in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  if (vk == VK_NEXT || vk == VK_PRIOR) in.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
  return in;
}

// A mouse event at a screen point. Every event carries the position.
inline INPUT MouseAt(POINT screen, DWORD flags) {
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dx = MulDiv(screen.x, 65536, GetSystemMetrics(SM_CXSCREEN)) + 1;
  in.mi.dy = MulDiv(screen.y, 65536, GetSystemMetrics(SM_CYSCREEN)) + 1;
  in.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  return in;
}

// Moves the pointer and waits until the system has it there.
inline bool MoveMouse(POINT screen) {
  INPUT in = MouseAt(screen, 0);
  SendInput(1, &in, sizeof(in));
  return PumpUntil([&] {
    POINT now{};
    return GetCursorPos(&now) && now.x == screen.x && now.y == screen.y;
  });
}

// A click where the pointer is known to be before the button goes down;
// false when the pointer did not get there.
inline bool Click(POINT screen, bool middle = false) {
  const bool there = MoveMouse(screen);
  INPUT in[2] = {MouseAt(screen, middle ? MOUSEEVENTF_MIDDLEDOWN : MOUSEEVENTF_LEFTDOWN),
                 MouseAt(screen, middle ? MOUSEEVENTF_MIDDLEUP : MOUSEEVENTF_LEFTUP)};
  SendInput(2, in, sizeof(INPUT));
  return there;
}

}  // namespace vm::test
