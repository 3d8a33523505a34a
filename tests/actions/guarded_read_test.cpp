// Copies from memory that may not be there: each kind of unreadable page
// fails cleanly, readable memory is copied whole.
#include "hooklib/actions/guarded_read.h"

#include <gtest/gtest.h>

namespace vm::actions {
namespace {

TEST(GuardedRead, CopiesReadableMemoryAndRefusesEveryUnreadableKind) {
  const std::uintptr_t value = 0x1122334455667788ull;
  EXPECT_EQ(GuardedWord(&value), value);
  EXPECT_EQ(GuardedWordAt(reinterpret_cast<std::uintptr_t>(&value) - 8, 8), value);

  SYSTEM_INFO info{};
  GetSystemInfo(&info);
  const std::size_t page = info.dwPageSize;
  auto* region =
      static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 4 * page, MEM_RESERVE, PAGE_NOACCESS));
  ASSERT_NE(region, nullptr);
  ASSERT_NE(VirtualAlloc(region, page, MEM_COMMIT, PAGE_READWRITE), nullptr);
  ASSERT_NE(VirtualAlloc(region + 2 * page, page, MEM_COMMIT, PAGE_NOACCESS), nullptr);
  ASSERT_NE(VirtualAlloc(region + 3 * page, page, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD),
            nullptr);
  region[0] = 7;

  struct Case {
    const char* what;
    const void* address;
    std::size_t size;
    bool readable;
  };
  const Case cases[] = {
      {"committed page", region, 8, true},
      {"straddles into a reserved page", region + page - 4, 8, false},
      {"reserved, not committed", region + page, 8, false},
      {"no-access page", region + 2 * page, 8, false},
      {"guard page", region + 3 * page, 8, false},
      {"null", nullptr, 8, false},
      {"low address", reinterpret_cast<const void*>(0x10), 8, false},
      {"kernel half", reinterpret_cast<const void*>(0xFFFF800000000000ull), 8, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::uint8_t out[8] = {};
    EXPECT_EQ(GuardedCopy(c.address, out, c.size), c.readable);
  }
  EXPECT_FALSE(GuardedWordAt(UINTPTR_MAX - 4, 8).has_value());  // wraps around
  EXPECT_FALSE(GuardedWordAt(0, 64).has_value());
  VirtualFree(region, 0, MEM_RELEASE);
}

}  // namespace
}  // namespace vm::actions
