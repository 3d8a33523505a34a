#include "common/value_list.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using vm::ValueListReader;
using vm::ValueListWriter;

TEST(ValueList, WhatIsWrittenReadsBack) {
  ValueListWriter writer;
  writer.AddInt(-7);
  writer.AddBytes("EventLogger");
  writer.AddInt64Low(0x1234567890ABCDEFull);
  writer.AddWide(L"Ordner");
  writer.AddBytes("");
  ValueListReader reader(writer.bytes());
  EXPECT_EQ(reader.ReadInt(), -7);
  EXPECT_EQ(reader.ReadBytes(), "EventLogger");
  EXPECT_EQ(reader.ReadUInt(), 0x90ABCDEFu);
  EXPECT_EQ(reader.ReadWide(), L"Ordner");
  EXPECT_EQ(reader.ReadBytes(), "");
  EXPECT_TRUE(reader.AtEnd());
  EXPECT_FALSE(reader.failed());
}

TEST(ValueList, MalformedBodiesStopTheParseWithoutReadingPastTheEnd) {
  struct Case {
    const char* what;
    std::string body;
    bool bytes_read_fails;  // as a byte item rather than an integer
  };
  const Case cases[] = {
      {"empty", std::string(), true},
      {"short count", std::string("\x04\x00\x00", 3), true},
      {"integer cut short", std::string("\x04\x00\x00\x00\x01\x02", 6), true},
      {"integer of the wrong size", std::string("\x02\x00\x00\x00\x01\x02", 6), false},
      {"count past the end", std::string("\x10\x00\x00\x00\x01\x02", 6), true},
      {"count near 2^32", std::string("\xFC\xFF\xFF\xFF\x01\x02\x03\x04", 8), true},
      {"count 2^32-1", std::string("\xFF\xFF\xFF\xFF", 4), true},
  };
  for (const Case& c : cases) {
    // A copy of exactly the body's size, so a read past it is a real overrun
    // under a checker.
    std::string copy = c.body;
    ValueListReader as_int(copy.data(), copy.size());
    EXPECT_FALSE(as_int.ReadInt()) << c.what;
    EXPECT_TRUE(as_int.failed()) << c.what;
    EXPECT_FALSE(as_int.ReadBytes()) << c.what << ": a failed parse stays failed";
    {
      ValueListReader as_bytes(copy.data(), copy.size());
      EXPECT_EQ(!as_bytes.ReadBytes(), c.bytes_read_fails) << c.what;
    }
  }
  ValueListReader null_body(nullptr, 16);
  EXPECT_FALSE(null_body.ReadInt()) << "a null body with a size reads as empty";
  // The body outlives the reader, which only views it.
  const std::string odd_body(
      "\x03\x00\x00\x00"
      "abc",
      7);
  ValueListReader odd_wide(odd_body);
  EXPECT_FALSE(odd_wide.ReadWide()) << "UTF-16 text of an odd byte count";
}

}  // namespace
