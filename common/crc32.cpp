#include "common/crc32.h"

#include <array>

namespace vm {
namespace {

constexpr std::array<std::uint32_t, 256> MakeTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr auto kTable = MakeTable();

}  // namespace

std::uint32_t Crc32Update(std::uint32_t state, const void* data, std::size_t size) noexcept {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < size; ++i) state = kTable[(state ^ bytes[i]) & 0xFF] ^ (state >> 8);
  return state;
}

std::uint32_t Crc32(const void* data, std::size_t size) noexcept {
  return Crc32Final(Crc32Update(kCrc32Init, data, size));
}

}  // namespace vm
