#include "common/container_protocol_text.h"

#include <cstring>

#include "common/names.h"

namespace vm::protocol {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::uint16_t ReadU16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

constexpr std::string_view kPidlEntry = "pidl";
constexpr std::string_view kCaptionEntry = "Caption";

}  // namespace

PathBufferPlan PlanPathBuffer(std::uint64_t requested, std::size_t current_size) {
  if (requested > kMaxPathBufferRequest) return {PathBufferAction::Refuse, 0};
  if (requested == 0 || requested < current_size) return {PathBufferAction::Keep, 0};
  const std::uint64_t size = ((requested / kPathBufferPage) + 1) * kPathBufferPage;
  return {PathBufferAction::Replace, static_cast<std::size_t>(size)};
}

std::wstring PathBufferNameFor(std::uintptr_t window_handle) {
  std::wstring digits;
  for (std::uintptr_t v = window_handle; v != 0; v >>= 4) {
    digits.insert(digits.begin(), static_cast<wchar_t>(kHexDigits[v & 0xF]));
  }
  if (digits.size() < 8) digits.insert(digits.begin(), 8 - digits.size(), L'0');
  return std::wstring(names::kPathBufferPrefix) + digits;
}

std::optional<std::string_view> PathBufferString(const char* data, std::size_t size) {
  if (data == nullptr || size == 0) return std::nullopt;
  const void* end = std::memchr(data, 0, size);
  if (end == nullptr) return std::nullopt;
  return std::string_view(data, static_cast<const char*>(end) - data);
}

std::string HexUpper(std::span<const std::uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out.push_back(kHexDigits[b >> 4]);
    out.push_back(kHexDigits[b & 0xF]);
  }
  return out;
}

std::optional<std::vector<std::uint8_t>> DecodeHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = HexValue(hex[i]);
    const int lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<std::uint8_t>((hi << 4) | lo));
  }
  return out;
}

std::string FormatFolderReference(std::span<const std::uint8_t> id_list_stream,
                                  std::wstring_view caption) {
  std::string out = "{\\pidl=";
  out += HexUpper(id_list_stream);
  out += "\\Caption=";
  out.reserve(out.size() + caption.size() * 4 + 1);
  for (wchar_t c : caption) {
    const auto unit = static_cast<std::uint16_t>(c);
    const std::uint8_t le[2] = {static_cast<std::uint8_t>(unit & 0xFF),
                                static_cast<std::uint8_t>(unit >> 8)};
    out += HexUpper(le);
  }
  out += "}";
  return out;
}

bool LooksLikeFolderReference(std::string_view text) {
  return text.find("\\pidl=") != std::string_view::npos;
}

std::optional<FolderReference> ParseFolderReference(std::string_view text) {
  if (text.size() > kMaxFolderReferenceLength) return std::nullopt;
  if (text.size() < 2 || text.front() != '{' || text.back() != '}') return std::nullopt;
  std::string_view body = text.substr(1, text.size() - 2);

  std::optional<std::string_view> pidl_hex;
  std::optional<std::string_view> caption_hex;
  while (!body.empty()) {
    const std::size_t sep = body.find('\\');
    const std::string_view entry = body.substr(0, sep);
    body = sep == std::string_view::npos ? std::string_view() : body.substr(sep + 1);
    if (entry.empty()) continue;  // the leading "\" and doubled separators
    const std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    const std::string_view name = entry.substr(0, eq);
    const std::string_view value = entry.substr(eq + 1);
    if (EqualsNoCase(name, kPidlEntry)) {
      if (pidl_hex) return std::nullopt;
      pidl_hex = value;
    } else if (EqualsNoCase(name, kCaptionEntry)) {
      if (caption_hex) return std::nullopt;
      caption_hex = value;
    }
  }
  if (!pidl_hex || !caption_hex) return std::nullopt;
  if (caption_hex->size() % 4 != 0) return std::nullopt;

  auto id_list = DecodeHex(*pidl_hex);
  auto caption_bytes = DecodeHex(*caption_hex);
  if (!id_list || !caption_bytes) return std::nullopt;

  FolderReference ref;
  ref.id_list_stream = std::move(*id_list);
  ref.caption.reserve(caption_bytes->size() / 2);
  for (std::size_t i = 0; i + 1 < caption_bytes->size(); i += 2) {
    ref.caption.push_back(
        static_cast<wchar_t>((*caption_bytes)[i] | ((*caption_bytes)[i + 1] << 8)));
  }
  return ref;
}

std::optional<std::vector<std::uint8_t>> ItemIdListFromStream(
    std::span<const std::uint8_t> stream) {
  if (stream.size() < 2) return std::nullopt;
  const std::size_t length = ReadU16(stream, 0);
  if (stream.size() != 2 + length) return std::nullopt;
  const std::span<const std::uint8_t> items = stream.subspan(2);

  std::size_t pos = 0;
  bool terminated = false;
  while (pos < items.size()) {
    if (items.size() - pos < 2) return std::nullopt;  // half a size field
    const std::size_t cb = ReadU16(items, pos);
    if (cb == 0) {
      if (pos + 2 != items.size()) return std::nullopt;  // bytes after the terminator
      terminated = true;
      break;
    }
    if (cb < 2 || cb > items.size() - pos) return std::nullopt;
    pos += cb;
  }

  std::vector<std::uint8_t> list(items.begin(), items.end());
  if (!terminated) list.insert(list.end(), {0, 0});
  return list;
}

}  // namespace vm::protocol
