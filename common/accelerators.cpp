#include "common/accelerators.h"

#include <array>

namespace vm {
namespace {

constexpr BYTE kCtrl = FVIRTKEY | FCONTROL;

// Plain Tab exists only in the container's table: on the tab strip it moves
// the focus into the active folder window.
constexpr std::array<ACCEL, 27> kContainerEntries = {{
    {FVIRTKEY, VK_TAB, CMD_TAB_FOCUSWINDOW},
    {kCtrl, '1', CMD_TAB_SELECT1},
    {kCtrl, '2', CMD_TAB_SELECT1 + 1},
    {kCtrl, '3', CMD_TAB_SELECT1 + 2},
    {kCtrl, '4', CMD_TAB_SELECT1 + 3},
    {kCtrl, '5', CMD_TAB_SELECT1 + 4},
    {kCtrl, '6', CMD_TAB_SELECT1 + 5},
    {kCtrl, '7', CMD_TAB_SELECT1 + 6},
    {kCtrl, '8', CMD_TAB_SELECT8},
    {kCtrl, '9', CMD_TAB_SELECTLAST},
    {kCtrl, VK_TAB, CMD_TAB_NEXT},
    {kCtrl | FSHIFT, VK_TAB, CMD_TAB_PREVIOUS},
    {kCtrl, 'W', CMD_TAB_CLOSE},
    {kCtrl, VK_F4, CMD_TAB_CLOSE},
    {kCtrl, 'T', CMD_TAB_NEW},
    {kCtrl, 'N', CMD_TAB_NEWCONTAINER},
    {kCtrl, VK_NEXT, CMD_TAB_NEXT},
    {kCtrl, VK_PRIOR, CMD_TAB_PREVIOUS},
    {kCtrl, VK_NUMPAD1, CMD_TAB_SELECT1},
    {kCtrl, VK_NUMPAD2, CMD_TAB_SELECT1 + 1},
    {kCtrl, VK_NUMPAD3, CMD_TAB_SELECT1 + 2},
    {kCtrl, VK_NUMPAD4, CMD_TAB_SELECT1 + 3},
    {kCtrl, VK_NUMPAD5, CMD_TAB_SELECT1 + 4},
    {kCtrl, VK_NUMPAD6, CMD_TAB_SELECT1 + 5},
    {kCtrl, VK_NUMPAD7, CMD_TAB_SELECT1 + 6},
    {kCtrl, VK_NUMPAD8, CMD_TAB_SELECT8},
    {kCtrl, VK_NUMPAD9, CMD_TAB_SELECTLAST},
}};

// Both tables live for the process (or until the module unloads). An SRW
// lock needs no initialisation, so it is usable from any entry point,
// including the hook library's first hook call.
SRWLOCK g_lock = SRWLOCK_INIT;
HACCEL g_tables[2] = {nullptr, nullptr};

std::size_t Slot(AcceleratorTableKind kind) {
  return kind == AcceleratorTableKind::Container ? 0 : 1;
}

struct TableReaper {
  ~TableReaper() { DestroyAcceleratorTables(); }
} g_reaper;

}  // namespace

std::span<const ACCEL> AcceleratorEntries(AcceleratorTableKind kind) {
  std::span<const ACCEL> all(kContainerEntries);
  return kind == AcceleratorTableKind::Container ? all : all.subspan(1);
}

HACCEL AcceleratorTable(AcceleratorTableKind kind) {
  const std::size_t slot = Slot(kind);
  AcquireSRWLockExclusive(&g_lock);
  if (g_tables[slot] == nullptr) {
    auto entries = AcceleratorEntries(kind);
    // CreateAcceleratorTableW takes a non-const pointer but only reads.
    g_tables[slot] = CreateAcceleratorTableW(const_cast<ACCEL*>(entries.data()),
                                             static_cast<int>(entries.size()));
  }
  HACCEL table = g_tables[slot];
  ReleaseSRWLockExclusive(&g_lock);
  return table;
}

void DestroyAcceleratorTables() {
  AcquireSRWLockExclusive(&g_lock);
  for (HACCEL& table : g_tables) {
    if (table != nullptr) DestroyAcceleratorTable(table);
    table = nullptr;
  }
  ReleaseSRWLockExclusive(&g_lock);
}

}  // namespace vm
