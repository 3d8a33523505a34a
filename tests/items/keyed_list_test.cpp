// Keyed collections: unique case-insensitive keys, hash keys, generated keys,
// positions and variant indexes. Plain C++, also built natively.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "hooklib/framework/keyed_list.h"

namespace vm::framework {
namespace {

std::vector<int> Values(const KeyedList<int>& list) {
  std::vector<int> out;
  list.ForEach([&](int v) { out.push_back(v); });
  return out;
}

TEST(KeyedList, KeysAreUniqueIgnoringCase) {
  KeyedList<int> list;
  EXPECT_TRUE(list.Add(1, false, L"RuleDispatcher"));
  EXPECT_FALSE(list.Add(2, false, L"ruledispatcher"));  // adds nothing, no error
  EXPECT_TRUE(list.Add(3, false, L"\x00C9t\x00E9"));    // "Été"
  EXPECT_FALSE(list.Add(4, false, L"\x00E9T\x00C9"));   // "éTÉ"
  EXPECT_TRUE(list.Add(5, false, L"\x0416"));           // Cyrillic Zhe
  EXPECT_TRUE(list.KeyExist(L"\x0436"));
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.IndexByKey(L"RULEDISPATCHER"), 0);
  EXPECT_EQ(*list.GetItemsK(L"rULEdISPATCHER"), 1);
  EXPECT_EQ(list.IndexByKey(L"missing"), -1);
  EXPECT_EQ(list.GetItemsK(L"missing"), nullptr);
}

TEST(KeyedList, GeneratedKeysRunFromExclamationMark) {
  KeyedList<int> list;
  std::vector<std::wstring> keys;
  for (int i = 0; i < 60; ++i) {
    ASSERT_TRUE(list.Add(i, true));
    keys.push_back(list.EntryAt(i)->key);
  }
  EXPECT_EQ(keys[0], L"!");
  EXPECT_EQ(keys[1], L"\"");
  EXPECT_EQ(keys[2], L"#");
  EXPECT_EQ(keys[57], L"Z");  // '!' is 0x21, 'Z' is 0x5A
  EXPECT_EQ(keys[58], L"Z!");
  EXPECT_EQ(keys[59], L"Z\"");

  // A caller's key that sorts after the last one becomes the base.
  KeyedList<int> mixed;
  mixed.Add(0, true);
  mixed.Add(1, false, L"mmm");
  mixed.Add(2, false, L"AAA");  // sorts before: no effect
  mixed.Add(3, true);
  EXPECT_EQ(mixed.EntryAt(3)->key, L"mmn");

  // Case folding can make the successor an existing key: step over it.
  KeyedList<int> folded;
  folded.Add(0, false, L"a");
  folded.Add(1, false, L"`");        // sorts after "A" as folded, so it is the base
  ASSERT_TRUE(folded.Add(2, true));  // successor of "`" is "a", taken
  EXPECT_EQ(folded.EntryAt(2)->key, L"b");
}

TEST(KeyedList, PositionsHashesAndVariants) {
  KeyedList<int> list;
  list.Add(10, false, L"a");
  list.Add(20, false, L"b");
  list.Add(5, false, L"first", 0);     // inserted at a position
  list.Add(99, false, L"past", 1000);  // positions past the end append
  EXPECT_EQ(Values(list), (std::vector<int>{5, 10, 20, 99}));

  EXPECT_TRUE(list.AddByHash(7, 0x10020u));
  EXPECT_FALSE(list.AddByHash(8, 0x10020u));
  EXPECT_EQ(list.IndexByHash(0x10020u), 4);
  EXPECT_EQ(*list.GetItemsH(0x10020u), 7);
  EXPECT_TRUE(list.HashExist(0x10020u));
  EXPECT_FALSE(list.HashExist(0x10021u));

  // Index by variant: integer kinds address positions, strings keys, the
  // rest nothing.
  EXPECT_EQ(list.IndexOf(Variant{std::int32_t{2}}), 2);
  EXPECT_EQ(list.IndexOf(Variant{std::int16_t{1}}), 1);
  EXPECT_EQ(list.IndexOf(Variant{std::uint8_t{3}}), 3);
  EXPECT_EQ(list.IndexOf(Variant{std::uint32_t{0}}), 0);
  EXPECT_EQ(list.IndexOf(Variant{std::wstring(L"B")}), 2);
  EXPECT_EQ(list.IndexOf(Variant{std::int64_t{1}}), -1);
  EXPECT_EQ(list.IndexOf(Variant{1.0}), -1);
  EXPECT_EQ(list.IndexOf(Variant{true}), -1);
  EXPECT_EQ(list.IndexOf(Variant{}), -1);
  EXPECT_EQ(list.IndexOf(Variant{std::int32_t{-1}}), -1);
  EXPECT_EQ(list.IndexOf(Variant{std::uint32_t{0xFFFFFFFFu}}), -1);
  EXPECT_FALSE(list.Delete(Variant{2.0}));
  EXPECT_EQ(list.Count(), 5);

  EXPECT_TRUE(list.Move(Variant{std::wstring(L"past")}, 0));
  EXPECT_EQ(Values(list), (std::vector<int>{99, 5, 10, 20, 7}));
  EXPECT_TRUE(list.Move(Variant{std::int32_t{0}}, 1000));  // clamped to the end
  EXPECT_EQ(Values(list), (std::vector<int>{5, 10, 20, 7, 99}));

  EXPECT_TRUE(list.Delete(Variant{std::wstring(L"A")}));
  EXPECT_TRUE(list.DeleteByHash(0x10020u));
  EXPECT_FALSE(list.DeleteByHash(0x10020u));
  EXPECT_EQ(Values(list), (std::vector<int>{5, 20, 99}));
  EXPECT_EQ(list.IndexByKey(L"past"), 2);  // positions follow the deletes
  EXPECT_TRUE(list.Add(10, false, L"a"));  // a deleted key is free again
  EXPECT_EQ(list.GetItemIndex(10), 3);
  EXPECT_EQ(list.GetItemIndex(11), -1);

  list.Sort([](int a, int b) { return a > b; });
  EXPECT_EQ(Values(list), (std::vector<int>{99, 20, 10, 5}));
  EXPECT_EQ(list.IndexByKey(L"first"), 3);

  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_FALSE(list.KeyExist(L"a"));
}

TEST(KeyedList, OwnedValuesDieWhenDeletedAndSeeTheListConsistent) {
  struct Probe {
    KeyedList<std::unique_ptr<Probe>>* list;
    int* deaths;
    int count_seen = -1;
    ~Probe() {
      ++*deaths;
      count_seen = list->Count();
    }
  };
  int deaths = 0;
  KeyedList<std::unique_ptr<Probe>> list;
  list.Add(std::make_unique<Probe>(Probe{&list, &deaths}), true);
  list.Add(std::make_unique<Probe>(Probe{&list, &deaths}), true);
  list.Add(std::make_unique<Probe>(Probe{&list, &deaths}), true);
  deaths = 0;  // the temporaries moved from above were counted too
  list.Delete(0);
  EXPECT_EQ(deaths, 1);
  list.Clear();
  EXPECT_EQ(deaths, 3);
}

TEST(KeyedList, StringCollectionKeepsCopies) {
  StringCollection strings;
  std::wstring v = L"value";
  strings.Add(v, false, L"Key");
  v = L"changed";
  std::wstring out;
  EXPECT_TRUE(strings.GetValue(L"key", out));
  EXPECT_EQ(out, L"value");
  EXPECT_TRUE(strings.ChangeValue(L"KEY", L"new"));
  EXPECT_TRUE(strings.GetValue(L"Key", out));
  EXPECT_EQ(out, L"new");
  EXPECT_FALSE(strings.ChangeValue(L"other", L"x"));
  EXPECT_FALSE(strings.GetValue(L"other", out));
}

}  // namespace
}  // namespace vm::framework
