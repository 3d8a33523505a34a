#include "hooklib/actions/ancestor_patches.h"

#include <cwchar>

#include "common/system_info.h"
#include "hooklib/actions/import_patch.h"

namespace vm::actions {
namespace {

using GetAncestorFunction = HWND(WINAPI*)(HWND, UINT);

bool ClassIs(HWND window, const wchar_t* name) noexcept {
  wchar_t buffer[64];
  const int length = GetClassNameW(window, buffer, static_cast<int>(std::size(buffer)));
  return length > 0 && std::wcscmp(buffer, name) == 0;
}

// Our own module imports GetAncestor unpatched, so calling it here reaches
// the real function.
HWND RealGetAncestor(HWND window, UINT flags) noexcept { return ::GetAncestor(window, flags); }

void* RealAddress() noexcept {
  HMODULE user32 = GetModuleHandleA("user32.dll");
  return user32 ? reinterpret_cast<void*>(GetProcAddress(user32, "GetAncestor")) : nullptr;
}

void* Replacement(std::size_t index) noexcept {
  constexpr std::array<GetAncestorFunction, kAncestorModules> replacements = {
      ShellTabsGetAncestor, FileExplorerGetAncestor, UiInputGetAncestor};
  return reinterpret_cast<void*>(replacements[index]);
}

}  // namespace

const char* AncestorModuleName(AncestorModule module) noexcept {
  switch (module) {
    case AncestorModule::kShellTabs:
      return "ntshrui.dll";
    case AncestorModule::kFileExplorer:
      return "Windows.UI.FileExplorer.dll";
    case AncestorModule::kUiInput:
      return "Microsoft.UI.Input.dll";
  }
  return "";
}

HWND WINAPI ShellTabsGetAncestor(HWND window, UINT flags) noexcept {
  if (flags == GA_ROOT && ClassIs(window, L"ShellTabWindowClass")) flags = GA_ROOTOWNER;
  return RealGetAncestor(window, flags);
}

HWND WINAPI FileExplorerGetAncestor(HWND window, UINT flags) noexcept {
  if (flags == GA_ROOT &&
      (ClassIs(window, L"ModernSearchBox") || ClassIs(window, L"UniversalSearchBand")))
    flags = GA_ROOTOWNER;
  return RealGetAncestor(window, flags);
}

HWND WINAPI UiInputGetAncestor(HWND window, UINT flags) noexcept {
  if (flags == GA_PARENT &&
      (ClassIs(window, L"CabinetWClass") || ClassIs(window, L"ExploreWClass")))
    return GetDesktopWindow();
  if (flags == GA_ROOT) flags = GA_ROOTOWNER;
  return RealGetAncestor(window, flags);
}

AncestorEnabled AncestorPatchesForSystem() noexcept {
  const auto& os = Os();
  const bool ten = os.flags.windows10_or_later;
  return {ten && os.record.build > 15062, ten && os.record.build > 18362,
          os.flags.windows11_22621_2861};
}

void AncestorPatches::Apply(const AncestorEnabled& enabled) noexcept {
  void* real = RealAddress();
  if (real == nullptr) return;
  for (std::size_t i = 0; i < kAncestorModules; ++i) {
    if (!enabled[i] || patched_[i] != nullptr) continue;
    HMODULE module = GetModuleHandleA(AncestorModuleName(static_cast<AncestorModule>(i)));
    if (module != nullptr && PatchImport(module, real, Replacement(i))) patched_[i] = module;
  }
}

void AncestorPatches::Undo() noexcept {
  void* real = RealAddress();
  for (std::size_t i = 0; i < kAncestorModules; ++i) {
    if (patched_[i] == nullptr) continue;
    // A module unloaded (or another loaded under its name) has no slot of ours left.
    if (real != nullptr &&
        GetModuleHandleA(AncestorModuleName(static_cast<AncestorModule>(i))) == patched_[i])
      UnpatchImport(patched_[i], real, Replacement(i));
    patched_[i] = nullptr;
  }
}

}  // namespace vm::actions
