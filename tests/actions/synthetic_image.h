#pragma once
// A small 64-bit PE image built in memory: one imported DLL with two
// address-table entries and one delay-loaded "DWMAPI.dll" with an import by
// ordinal and one by name. Offsets are named so that tests can damage one
// field at a time.
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace vm::test {

struct SyntheticImage {
  static constexpr std::uint32_t kSize = 0x2000;
  static constexpr std::uint32_t kNewHeader = 0x80;
  static constexpr std::uint32_t kOptional = kNewHeader + 24;
  static constexpr std::uint32_t kImportDirEntry = kOptional + 112 + 1 * 8;
  static constexpr std::uint32_t kDelayDirEntry = kOptional + 112 + 13 * 8;
  static constexpr std::uint32_t kImports = 0x1000;
  static constexpr std::uint32_t kIat = 0x1100;
  static constexpr std::uint32_t kDelay = 0x1800;
  static constexpr std::uint32_t kDelayName = 0x1900;
  static constexpr std::uint32_t kDelayIat = 0x1A00;
  static constexpr std::uint32_t kDelayInt = 0x1B00;
  static constexpr std::uint32_t kByName = 0x1C00;

  static constexpr std::uint64_t kImported[] = {0x11111111, 0x22222222};
  static constexpr std::uint64_t kDelayed[] = {0x33333333, 0x44444444};

  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kSize);

  SyntheticImage() {
    Put16(0, 0x5A4D);
    Put32(0x3C, kNewHeader);
    Put32(kNewHeader, 0x00004550);
    Put16(kOptional, 0x20B);
    Put32(kOptional + 56, kSize);
    Put32(kOptional + 60, 0x400);
    Put32(kOptional + 108, 16);
    Put32(kImportDirEntry, kImports);
    Put32(kImportDirEntry + 4, 40);
    Put32(kDelayDirEntry, kDelay);
    Put32(kDelayDirEntry + 4, 64);
    Put32(kImports + 16, kIat);  // one descriptor, then a zero one
    Put64(kIat, kImported[0]);
    Put64(kIat + 8, kImported[1]);
    Put32(kDelay + 4, kDelayName);
    Put32(kDelay + 12, kDelayIat);
    Put32(kDelay + 16, kDelayInt);
    PutText(kDelayName, "DWMAPI.dll");
    Put64(kDelayInt, 0x8000000000000005ull);  // by ordinal
    Put64(kDelayInt + 8, kByName);
    PutText(kByName + 2, "DwmExtendFrameIntoClientArea");
    Put64(kDelayIat, kDelayed[0]);
    Put64(kDelayIat + 8, kDelayed[1]);
  }

  void Put16(std::uint32_t at, std::uint16_t v) { std::memcpy(&bytes[at], &v, 2); }
  void Put32(std::uint32_t at, std::uint32_t v) { std::memcpy(&bytes[at], &v, 4); }
  void Put64(std::uint32_t at, std::uint64_t v) { std::memcpy(&bytes[at], &v, 8); }
  void PutText(std::uint32_t at, std::string_view text) {
    std::memcpy(&bytes[at], text.data(), text.size());
    bytes[at + text.size()] = 0;
  }
};

}  // namespace vm::test
