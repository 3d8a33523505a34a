#pragma once
// CRC-32 with the reflected polynomial 0xEDB88320 (the zip/Ethernet one): the
// hook host compares staged library copies with it and rule checksums are
// built on it. Plain code, no windows.h, so native tests and fuzzers use it too.
#include <cstddef>
#include <cstdint>
#include <span>

namespace vm {

// Continues a running CRC: start with kCrc32Init, feed bytes in any number of
// pieces, and finish with Crc32Final (the usual final inversion).
inline constexpr std::uint32_t kCrc32Init = 0xFFFFFFFFu;
std::uint32_t Crc32Update(std::uint32_t state, const void* data, std::size_t size) noexcept;
constexpr std::uint32_t Crc32Final(std::uint32_t state) noexcept { return ~state; }

// The whole CRC of one buffer ("123456789" gives 0xCBF43926).
std::uint32_t Crc32(const void* data, std::size_t size) noexcept;
inline std::uint32_t Crc32(std::span<const std::uint8_t> bytes) noexcept {
  return Crc32(bytes.data(), bytes.size());
}

}  // namespace vm
