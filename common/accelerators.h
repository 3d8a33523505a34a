#pragma once
// The tab shortcuts (Ctrl+1..9, Ctrl+Tab, Ctrl+W, ...) as Win32 accelerator
// tables. The container program translates keys typed on its own controls
// with the container table; the hook library translates keys typed inside a
// docked folder window with its table, which lacks plain Tab so that Tab
// keeps moving Explorer's own focus. Both deliver WM_COMMAND (high word 1)
// with a CMD_TAB_* id to the container window.
#include <windows.h>

#include <span>

#include "common/tab_commands.h"

namespace vm {

enum class AcceleratorTableKind {
  Container,    // 27 entries: plain Tab first, then the shared 26
  HookLibrary,  // the shared 26
};

// The entries of a table, in table order. Constant data, usable without a window.
std::span<const ACCEL> AcceleratorEntries(AcceleratorTableKind kind);

// The process's table of that kind, created on first use (thread-safe) and
// kept until DestroyAcceleratorTables. Null when CreateAcceleratorTableW fails;
// a later call tries again.
HACCEL AcceleratorTable(AcceleratorTableKind kind);

// Destroys the tables made so far. Called when the module unloads (the hook
// library's detach, the container's exit); also run by a static destructor as
// a safety net. A later AcceleratorTable call creates them again.
void DestroyAcceleratorTables();

}  // namespace vm
