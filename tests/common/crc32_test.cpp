#include "common/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct Case {
  const char* text;
  std::uint32_t crc;
};

TEST(Crc32, GivesTheStandardCheckValues) {
  const Case cases[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vm::Crc32(c.text, std::strlen(c.text)), c.crc) << '"' << c.text << '"';
  }
}

TEST(Crc32, PiecesGiveTheSameResultAsTheWhole) {
  const std::string text = "123456789";
  for (std::size_t split = 0; split <= text.size(); ++split) {
    std::uint32_t state = vm::Crc32Update(vm::kCrc32Init, text.data(), split);
    state = vm::Crc32Update(state, text.data() + split, text.size() - split);
    EXPECT_EQ(vm::Crc32Final(state), 0xCBF43926u) << "split at " << split;
  }
}

}  // namespace
