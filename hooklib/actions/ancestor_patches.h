#pragma once
// While a folder window is docked, its root window is the container's (a
// window of another process). A few of Explorer's modules ask GetAncestor for
// the root and then act on it as their own frame; these replacements answer
// them with the root owner instead, and make the frame look top-level where
// the newest input module needs it. One entry per module; all are applied by
// the first attached Explorer action of the process and undone by the last.
#include <windows.h>

#include <array>

namespace vm::actions {

enum class AncestorModule { kShellTabs, kFileExplorer, kUiInput };
inline constexpr std::size_t kAncestorModules = 3;

// Module name of each entry, in table order.
const char* AncestorModuleName(AncestorModule module) noexcept;

// The replacement each entry installs, callable directly for tests.
HWND WINAPI ShellTabsGetAncestor(HWND window, UINT flags) noexcept;
HWND WINAPI FileExplorerGetAncestor(HWND window, UINT flags) noexcept;
HWND WINAPI UiInputGetAncestor(HWND window, UINT flags) noexcept;

using AncestorEnabled = std::array<bool, kAncestorModules>;

// Which entries this system needs, from its version.
AncestorEnabled AncestorPatchesForSystem() noexcept;

// The patches of one process. Not thread-safe: the Explorer action
// serialises Apply and Undo with its process-wide lock.
class AncestorPatches {
 public:
  // Patches each enabled entry whose module is loaded now and not yet patched.
  void Apply(const AncestorEnabled& enabled) noexcept;
  // Undoes each patch whose module is still the one that was patched.
  void Undo() noexcept;
  HMODULE Patched(AncestorModule module) const noexcept {
    return patched_[static_cast<std::size_t>(module)];
  }

 private:
  std::array<HMODULE, kAncestorModules> patched_{};
};

}  // namespace vm::actions
