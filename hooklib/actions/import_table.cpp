#include "hooklib/actions/import_table.h"

#include <algorithm>
#include <cstring>

namespace vm::actions {
namespace {

// Offsets of the few PE fields read here (64-bit images only).
constexpr std::size_t kDosNewHeaderOffset = 0x3C;
constexpr std::size_t kOptionalHeaderOffset = 24;  // after "PE\0\0" and the file header
constexpr std::size_t kOptionalMagic = 0;
constexpr std::size_t kSizeOfImage = 56;
constexpr std::size_t kSizeOfHeaders = 60;
constexpr std::size_t kNumberOfRvaAndSizes = 108;
constexpr std::size_t kDataDirectories = 112;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kImportDirectory = 1;
constexpr std::uint32_t kDelayImportDirectory = 13;

constexpr std::size_t kImportDescriptorSize = 20;
constexpr std::size_t kImportIatField = 16;
constexpr std::size_t kDelayDescriptorSize = 32;
constexpr std::size_t kDelayNameField = 4;
constexpr std::size_t kDelayIatField = 12;
constexpr std::size_t kDelayIntField = 16;

// No real module has this many; a longer walk means the table is damaged.
constexpr std::size_t kMaxDescriptors = 4096;
constexpr std::size_t kMaxThunks = 65536;
constexpr std::size_t kMaxName = 512;

// Bounds-checked reads of little-endian values; memcpy because nothing in
// the image is promised to be aligned.
class Reader {
 public:
  Reader(const std::uint8_t* base, std::size_t size) : base_(base), size_(size) {}

  bool Has(std::uint64_t offset, std::uint64_t length) const {
    return base_ != nullptr && offset <= size_ && length <= size_ - offset;
  }

  template <class T>
  std::optional<T> Read(std::uint64_t offset) const {
    if (!Has(offset, sizeof(T))) return std::nullopt;
    T value;
    std::memcpy(&value, base_ + offset, sizeof(T));
    return value;
  }

  // A zero-terminated ANSI name at `offset`, found within kMaxName bytes.
  std::optional<std::string_view> Name(std::uint64_t offset) const {
    if (!Has(offset, 1)) return std::nullopt;
    const std::size_t limit = std::min<std::uint64_t>(kMaxName, size_ - offset);
    const auto* start = reinterpret_cast<const char*>(base_ + offset);
    const void* end = std::memchr(start, 0, limit);
    if (end == nullptr) return std::nullopt;
    return std::string_view(start, static_cast<const char*>(end) - start);
  }

 private:
  const std::uint8_t* base_;
  std::size_t size_;
};

std::optional<std::size_t> OptionalHeader(const Reader& r) {
  if (r.Read<std::uint16_t>(0) != std::uint16_t{0x5A4D}) return std::nullopt;  // "MZ"
  const auto lfanew = r.Read<std::uint32_t>(kDosNewHeaderOffset);
  if (!lfanew) return std::nullopt;
  if (r.Read<std::uint32_t>(*lfanew) != std::uint32_t{0x00004550}) return std::nullopt;  // "PE\0\0"
  const std::uint64_t optional = std::uint64_t{*lfanew} + kOptionalHeaderOffset;
  if (r.Read<std::uint16_t>(optional + kOptionalMagic) != kPe32PlusMagic) return std::nullopt;
  return static_cast<std::size_t>(optional);
}

struct Directory {
  std::uint32_t rva = 0;
  std::uint32_t size = 0;
};

std::optional<Directory> DataDirectory(const Reader& r, std::uint32_t index) {
  const auto optional = OptionalHeader(r);
  if (!optional) return std::nullopt;
  const auto count = r.Read<std::uint32_t>(*optional + kNumberOfRvaAndSizes);
  if (!count || index >= *count) return std::nullopt;
  const std::uint64_t entry = *optional + kDataDirectories + std::uint64_t{index} * 8;
  const auto rva = r.Read<std::uint32_t>(entry);
  const auto size = r.Read<std::uint32_t>(entry + 4);
  if (!rva || !size || *rva == 0) return std::nullopt;
  return Directory{*rva, *size};
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Walks the descriptors of one directory; `iat_field` locates each
// descriptor's import address table. `visit` gets (descriptor offset, table
// RVA) and returns a slot to stop the walk.
template <class Visit>
std::optional<std::uint32_t> WalkDescriptors(const Reader& r, std::uint32_t directory,
                                             std::size_t descriptor_size, std::size_t iat_field,
                                             Visit visit) {
  const auto dir = DataDirectory(r, directory);
  if (!dir) return std::nullopt;
  for (std::size_t i = 0; i < kMaxDescriptors; ++i) {
    const std::uint64_t at = std::uint64_t{dir->rva} + i * descriptor_size;
    if (!r.Has(at, descriptor_size)) return std::nullopt;
    const auto iat = r.Read<std::uint32_t>(at + iat_field);
    if (!iat || *iat == 0) return std::nullopt;
    if (auto slot = visit(at, *iat)) return slot;
  }
  return std::nullopt;
}

std::optional<std::uint32_t> FindInTable(const Reader& r, std::uint32_t iat,
                                         std::uint64_t address) {
  for (std::size_t i = 0; i < kMaxThunks; ++i) {
    const std::uint64_t at = std::uint64_t{iat} + i * 8;
    const auto entry = r.Read<std::uint64_t>(at);
    if (!entry || *entry == 0) return std::nullopt;
    if (*entry == address && at <= UINT32_MAX) return static_cast<std::uint32_t>(at);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::size_t> ImageSizeFromHeaders(const std::uint8_t* base,
                                                std::size_t readable) noexcept {
  const Reader r(base, readable);
  const auto optional = OptionalHeader(r);
  if (!optional) return std::nullopt;
  const auto image = r.Read<std::uint32_t>(*optional + kSizeOfImage);
  const auto headers = r.Read<std::uint32_t>(*optional + kSizeOfHeaders);
  if (!image || !headers || *image < *headers || *headers < *optional + kDataDirectories)
    return std::nullopt;
  return *image;
}

std::optional<std::uint32_t> FindSlotHolding(ImageView image, std::uint64_t address) noexcept {
  if (address == 0) return std::nullopt;
  const Reader r(image.base, image.size);
  auto in_table = [&](std::uint64_t, std::uint32_t iat) { return FindInTable(r, iat, address); };
  if (auto slot =
          WalkDescriptors(r, kImportDirectory, kImportDescriptorSize, kImportIatField, in_table))
    return slot;
  return WalkDescriptors(r, kDelayImportDirectory, kDelayDescriptorSize, kDelayIatField, in_table);
}

std::optional<std::uint32_t> FindDelayedSlotByName(ImageView image, std::string_view dll,
                                                   std::string_view function) noexcept {
  const Reader r(image.base, image.size);
  return WalkDescriptors(r, kDelayImportDirectory, kDelayDescriptorSize, kDelayIatField,
                         [&](std::uint64_t at, std::uint32_t iat) -> std::optional<std::uint32_t> {
                           const auto name_rva = r.Read<std::uint32_t>(at + kDelayNameField);
                           const auto name = name_rva ? r.Name(*name_rva) : std::nullopt;
                           if (!name || !EqualNoCase(*name, dll)) return std::nullopt;
                           const auto names = r.Read<std::uint32_t>(at + kDelayIntField);
                           if (!names || *names == 0) return std::nullopt;
                           for (std::size_t i = 0; i < kMaxThunks; ++i) {
                             const auto entry =
                                 r.Read<std::uint64_t>(std::uint64_t{*names} + i * 8);
                             const std::uint64_t slot = std::uint64_t{iat} + i * 8;
                             if (!entry || *entry == 0 || !r.Has(slot, 8)) return std::nullopt;
                             // By name when the ordinal flag (top bit) is clear: hint, then name.
                             if ((*entry >> 63) != 0) continue;
                             const auto import_name = r.Name(*entry + 2);
                             if (import_name && *import_name == function && slot <= UINT32_MAX)
                               return static_cast<std::uint32_t>(slot);
                           }
                           return std::nullopt;
                         });
}

}  // namespace vm::actions
