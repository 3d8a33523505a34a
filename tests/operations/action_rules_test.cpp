// The window-free parts of actions: the localized texts block, the failure
// detail of a log line and the round of operations. Built natively
// (sanitizers) and under Wine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hooklib/framework/action_rules.h"

namespace vm::framework {
namespace {

std::vector<std::uint8_t> Field(const std::string& text, std::uint32_t length) {
  std::vector<std::uint8_t> out = {
      static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
      static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
  out.insert(out.end(), text.begin(), text.end());
  return out;
}
std::vector<std::uint8_t> Field(const std::string& text) {
  return Field(text, static_cast<std::uint32_t>(text.size()));
}
std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(ActionRules, LocalizedBlocksKeepThePairsReadBeforeACut) {
  const auto two = Join({Field("A_Caption"), Field("Open"), Field("B_Caption"), Field("")});
  const std::vector<LocalizedPair> both = {{"A_Caption", "Open"}, {"B_Caption", ""}};
  const struct {
    std::vector<std::uint8_t> block;
    std::vector<LocalizedPair> pairs;
  } cases[] = {
      {{}, {}},
      {two, both},
      // A value whose bytes stop early, a length alone, a key without a value.
      {Join({two, Field("C_Caption"), Field("Clo", 5)}), both},
      {Join({two, {9, 0, 0}}), both},
      {Join({two, Field("C_Caption")}), both},
      // A length far beyond the block never reads past it.
      {Join({Field("A_Caption"), Field("x", 0xFFFFFFFFu)}), {}},
      {Join({Field("k"), Field(std::string("v\0w", 3))}), {{"k", std::string("v\0w", 3)}}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(ParseLocalizedPairs(cases[i].block), cases[i].pairs) << "case " << i;
  }
}

TEST(ActionRules, AFailureMessageNeverAddsFields) {
  EXPECT_EQ(FailureDetail(L"cannot; really; not"), L"{cannot| really| not}");
  EXPECT_EQ(FailureDetail(L""), L"{}");
  EXPECT_EQ(FailureDetail(L";;"), L"{||}");
}

TEST(ActionRules, TheNextOperationGoesRound) {
  EXPECT_EQ(NextOperationPosition(0, 3), 1);
  EXPECT_EQ(NextOperationPosition(2, 3), 0);
  EXPECT_EQ(NextOperationPosition(0, 1), 0);
  EXPECT_EQ(NextOperationPosition(-1, 3), -1);
  EXPECT_EQ(NextOperationPosition(3, 3), -1);
  EXPECT_EQ(NextOperationPosition(0, 0), -1);
}

}  // namespace
}  // namespace vm::framework
