#include "common/value_list.h"

#include <cstring>

namespace vm {
namespace {

std::uint32_t LoadLittleEndian(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

}  // namespace

void ValueListWriter::AddCount(std::uint32_t count) {
  for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<char>(count >> shift));
}

void ValueListWriter::AddInt(std::int32_t value) {
  AddCount(4);
  AddCount(static_cast<std::uint32_t>(value));
}

void ValueListWriter::AddBytes(std::string_view bytes) {
  AddCount(static_cast<std::uint32_t>(bytes.size()));
  bytes_.append(bytes);
}

void ValueListWriter::AddWide(std::wstring_view text) {
  AddCount(static_cast<std::uint32_t>(text.size() * 2));
  for (wchar_t c : text) {
    const auto unit = static_cast<std::uint16_t>(c);
    bytes_.push_back(static_cast<char>(unit & 0xFF));
    bytes_.push_back(static_cast<char>(unit >> 8));
  }
}

std::optional<std::uint32_t> ValueListReader::ReadCount() {
  if (failed_ || position_ > body_.size() || body_.size() - position_ < 4) {
    failed_ = true;
    return std::nullopt;
  }
  const std::uint32_t count = LoadLittleEndian(body_.data() + position_);
  // Compared against what is left, never added to the position first, so a
  // count near 2^32 cannot wrap around.
  if (count > body_.size() - position_ - 4) {
    failed_ = true;
    return std::nullopt;
  }
  return count;
}

std::optional<std::int32_t> ValueListReader::ReadInt() {
  const auto count = ReadCount();
  if (!count) return std::nullopt;
  if (*count != 4) {
    failed_ = true;
    return std::nullopt;
  }
  const std::uint32_t value = LoadLittleEndian(body_.data() + position_ + 4);
  position_ += 8;
  return static_cast<std::int32_t>(value);
}

std::optional<std::uint32_t> ValueListReader::ReadUInt() {
  const auto value = ReadInt();
  if (!value) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

std::optional<std::string_view> ValueListReader::ReadBytes() {
  const auto count = ReadCount();
  if (!count) return std::nullopt;
  const std::string_view bytes = body_.substr(position_ + 4, *count);
  position_ += 4 + static_cast<std::size_t>(*count);
  return bytes;
}

std::optional<std::wstring> ValueListReader::ReadWide() {
  const std::size_t start = position_;
  const auto bytes = ReadBytes();
  if (!bytes) return std::nullopt;
  if (bytes->size() % 2 != 0) {
    position_ = start;
    failed_ = true;
    return std::nullopt;
  }
  std::wstring text(bytes->size() / 2, L'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto lo = static_cast<unsigned char>((*bytes)[2 * i]);
    const auto hi = static_cast<unsigned char>((*bytes)[2 * i + 1]);
    text[i] = static_cast<wchar_t>(lo | (hi << 8));
  }
  return text;
}

}  // namespace vm
