#pragma once
// Reading the import tables of a module loaded in this process, as the
// Explorer action needs to redirect a few functions Explorer's modules import.
//
// The image is taken as untrusted bytes: every RVA, size and string is checked
// against the image size before it is read, every walk is bounded, so that a
// module with odd or damaged headers gives "no slot" instead of a crash inside
// explorer.exe. Nothing here calls Windows, so it is tested and fuzzed natively.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vm::actions {

// A module's image as it lies in memory: `base` is the module handle, `size`
// the image size its optional header gives (the caller checks that much is
// mapped).
struct ImageView {
  const std::uint8_t* base = nullptr;
  std::size_t size = 0;
};

// Reads SizeOfImage from the headers at `base`, given that at least
// `readable` bytes from `base` may be read. Nothing when the headers are not
// those of a 64-bit PE image or the size is smaller than the headers.
std::optional<std::size_t> ImageSizeFromHeaders(const std::uint8_t* base,
                                                std::size_t readable) noexcept;

// RVA of the first import address table entry holding `address`: the import
// directory first, then the delay-import directory.
std::optional<std::uint32_t> FindSlotHolding(ImageView image, std::uint64_t address) noexcept;

// RVA of the delay-import address table entry for `dll`!`function`: the DLL
// name compares without regard to case, the function name exactly.
std::optional<std::uint32_t> FindDelayedSlotByName(ImageView image, std::string_view dll,
                                                   std::string_view function) noexcept;

}  // namespace vm::actions
