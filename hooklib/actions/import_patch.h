#pragma once
// Redirecting functions that modules of explorer.exe import, by rewriting
// their import address table slots. The slot search reads the module image
// through bounds-checked walks (import_table.h); this file adds what needs
// Windows: checking that the image is mapped, and writing a slot.
#include <windows.h>

#include <optional>

#include "hooklib/actions/import_table.h"

namespace vm::actions {

// The loaded image of `module`, once its headers name a 64-bit PE image and
// every page of it is committed and readable.
std::optional<ImageView> ViewOfModule(HMODULE module) noexcept;

// Stores `value` into an import address table slot, lifting the page's
// protection for the write and restoring it after.
bool WriteSlot(void** slot, void* value) noexcept;

// Points the slot of `module` that holds `real` at `replacement`.
bool PatchImport(HMODULE module, void* real, void* replacement) noexcept;
// Points the slot that holds `replacement` back at `real`.
bool UnpatchImport(HMODULE module, void* real, void* replacement) noexcept;

}  // namespace vm::actions
