#pragma once
// The value list every messenger body and plug-in command is packed in: items
// of a 32-bit little-endian byte count N followed by N bytes. Bodies arrive
// from any process of the session, so the reader checks every item against
// what is left before it touches a byte, and a failed read stops the parse.
// Plain code, no windows.h: the native fuzzer runs it too.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vm {

class ValueListWriter {
 public:
  void AddInt(std::int32_t value);
  void AddUInt(std::uint32_t value) { AddInt(static_cast<std::int32_t>(value)); }
  void AddBool(bool value) { AddInt(value ? 1 : 0); }
  // Window handles and other 64-bit values travel as their low 4 bytes.
  void AddInt64Low(std::uint64_t value) { AddInt(static_cast<std::int32_t>(value)); }
  void AddBytes(std::string_view bytes);  // ANSI text or raw bytes, no terminator
  void AddWide(std::wstring_view text);   // UTF-16 code units, 2 bytes each

  const std::string& bytes() const { return bytes_; }
  std::string Take() { return std::move(bytes_); }

 private:
  void AddCount(std::uint32_t count);
  std::string bytes_;
};

class ValueListReader {
 public:
  explicit ValueListReader(std::string_view body) : body_(body) {}
  // The reader keeps a view: a temporary body would be gone before the reads.
  explicit ValueListReader(std::string&&) = delete;
  ValueListReader(const void* data, std::size_t size)
      : body_(static_cast<const char*>(data), data ? size : 0) {}

  // An integer item must have N = 4. Empty once a read has failed.
  std::optional<std::int32_t> ReadInt();
  std::optional<std::uint32_t> ReadUInt();
  // N bytes, present in full; a view into the body.
  std::optional<std::string_view> ReadBytes();
  // N bytes read as UTF-16; an odd N fails.
  std::optional<std::wstring> ReadWide();

  bool failed() const { return failed_; }
  std::size_t position() const { return position_; }
  bool AtEnd() const { return position_ >= body_.size(); }

 private:
  std::optional<std::uint32_t> ReadCount();
  std::string_view body_;
  std::size_t position_ = 0;
  bool failed_ = false;
};

}  // namespace vm
