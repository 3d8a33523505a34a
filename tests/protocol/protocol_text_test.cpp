// The window-free rules of the container protocol: path-buffer sizes and
// names, the folder reference string and the item ID list stream inside it.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "common/container_protocol_text.h"
#include "common/control_program.h"

namespace {

using namespace vm::protocol;
using Bytes = std::vector<std::uint8_t>;

TEST(PathBufferRule, SizesFollowTheRequests) {
  struct Case {
    std::uint64_t requested;
    std::size_t current;
    PathBufferAction action;
    std::size_t new_size;
  };
  const Case cases[] = {
      {4096, 0, PathBufferAction::Replace, 8192},      // a new window
      {100, 8192, PathBufferAction::Keep, 0},          // then a short string keeps it
      {8192, 8192, PathBufferAction::Replace, 12288},  // one that fills it exactly does not fit
      {8191, 8192, PathBufferAction::Keep, 0},         // room for the terminator
      {1, 0, PathBufferAction::Replace, 4096},
      {4095, 0, PathBufferAction::Replace, 4096},
      {0, 0, PathBufferAction::Keep, 0},  // nothing asked, nothing mapped
      {0, 8192, PathBufferAction::Keep, 0},
      {kMaxPathBufferRequest, 4096, PathBufferAction::Replace, kMaxPathBufferRequest + 4096},
      {kMaxPathBufferRequest + 1, 8192, PathBufferAction::Refuse, 0},
      // A negative LPARAM from a hostile sender arrives as a huge length.
      {std::numeric_limits<std::uint64_t>::max(), 8192, PathBufferAction::Refuse, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "requested " << c.requested << " current " << c.current);
    const PathBufferPlan plan = PlanPathBuffer(c.requested, c.current);
    EXPECT_EQ(plan.action, c.action);
    if (c.action == PathBufferAction::Replace) {
      EXPECT_EQ(plan.new_size, c.new_size);
      EXPECT_EQ(plan.new_size % kPathBufferPage, 0u);
      EXPECT_GT(plan.new_size, c.requested);
    }
  }
}

TEST(PathBufferRule, MappingNameCarriesTheWindowInAtLeastEightHexDigits) {
  const std::wstring prefix = L"Local\\{584223DF-8A02-49D3-BC9A-F8CA43158E7B}_FoliantData_";
  EXPECT_EQ(PathBufferNameFor(0x1A2B), prefix + L"00001A2B");
  EXPECT_EQ(PathBufferNameFor(0), prefix + L"00000000");
  EXPECT_EQ(PathBufferNameFor(0xABCDEF01), prefix + L"ABCDEF01");
  EXPECT_EQ(PathBufferNameFor(0x1ABCDEF01ull), prefix + L"1ABCDEF01");
}

TEST(PathBufferRule, StringEndsAtItsTerminatorInsideTheBuffer) {
  const char with[] = {'a', 'b', '\0', 'x'};
  const char without[] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(PathBufferString(with, sizeof(with)), std::string_view("ab"));
  EXPECT_EQ(PathBufferString(without, sizeof(without)), std::nullopt);
  EXPECT_EQ(PathBufferString(nullptr, 10), std::nullopt);
}

TEST(FolderReferenceText, WrittenInTheAgreedForm) {
  const Bytes stream = {0x04, 0x00, 0xAB, 0xCD, 0x00, 0x00};
  EXPECT_EQ(FormatFolderReference(stream, L"Ab\u20AC"),
            "{\\pidl=0400ABCD0000\\Caption=41006200AC20}");
  // No display name: "=" is directly followed by "}".
  EXPECT_EQ(FormatFolderReference(stream, L""), "{\\pidl=0400ABCD0000\\Caption=}");
}

TEST(FolderReferenceText, RoundTrips) {
  const Bytes stream = {0x06, 0x00, 0x06, 0x00, 0x01, 0xFF, 0x10, 0x7F};
  const std::wstring captions[] = {L"", L"C:\\Windows", L"\u00C4\u20AC\u5B57 \\}{="};
  for (const auto& caption : captions) {
    const auto ref = ParseFolderReference(FormatFolderReference(stream, caption));
    ASSERT_TRUE(ref);
    EXPECT_EQ(ref->id_list_stream, stream);
    EXPECT_EQ(ref->caption, caption);
  }
}

TEST(FolderReferenceText, ReaderAcceptsCaseAndOrderAndRefusesHostileText) {
  std::string with_zero = "{\\pidl=00#0\\Caption=}";
  with_zero[with_zero.find('#')] = '\0';
  const std::string huge = "{\\pidl=" + std::string(kMaxFolderReferenceLength, '0') + "\\Caption=}";
  struct Case {
    const char* label;
    std::string text;
    bool accepted;
  };
  const Case cases[] = {
      {"well formed", "{\\pidl=0000\\Caption=4100}", true},
      {"names in other case, lower-case digits", "{\\PIDL=00ab\\caption=4100}", true},
      {"entries swapped", "{\\Caption=4100\\pidl=0000}", true},
      {"other entries ignored", "{\\x=1\\pidl=0000\\Caption=}", true},
      {"empty", "", false},
      {"only braces", "{}", false},
      {"no braces", "\\pidl=0000\\Caption=4100", false},
      {"truncated: no closing brace", "{\\pidl=0000\\Caption=4100", false},
      {"truncated: caption missing", "{\\pidl=0000}", false},
      {"pidl missing", "{\\Caption=4100}", false},
      {"pidl twice", "{\\pidl=0000\\pidl=0000\\Caption=}", false},
      {"entry without =", "{\\pidl=0000\\Caption}", false},
      {"odd pidl digits", "{\\pidl=000\\Caption=}", false},
      {"non-hex pidl", "{\\pidl=00G0\\Caption=}", false},
      {"non-hex caption", "{\\pidl=0000\\Caption=41Z0}", false},
      {"half a character of caption", "{\\pidl=0000\\Caption=41}", false},
      {"embedded zero byte", with_zero, false},
      {"huge", huge, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ParseFolderReference(c.text).has_value(), c.accepted);
  }
}

TEST(ItemIdListStream, AcceptsBothTerminatorConventionsAndRefusesBrokenLists) {
  struct Case {
    const char* label;
    Bytes stream;
    std::optional<Bytes> list;
  };
  const Bytes item = {0x04, 0x00, 0xAA, 0xBB};
  const Case cases[] = {
      {"desktop, terminator not counted", {0x00, 0x00}, Bytes{0x00, 0x00}},
      {"desktop, terminator counted", {0x02, 0x00, 0x00, 0x00}, Bytes{0x00, 0x00}},
      {"one item, terminator not counted",
       {0x04, 0x00, 0x04, 0x00, 0xAA, 0xBB},
       Bytes{0x04, 0x00, 0xAA, 0xBB, 0x00, 0x00}},
      {"one item, terminator counted",
       {0x06, 0x00, 0x04, 0x00, 0xAA, 0xBB, 0x00, 0x00},
       Bytes{0x04, 0x00, 0xAA, 0xBB, 0x00, 0x00}},
      {"two items",
       {0x07, 0x00, 0x04, 0x00, 0xAA, 0xBB, 0x03, 0x00, 0xCC},
       Bytes{0x04, 0x00, 0xAA, 0xBB, 0x03, 0x00, 0xCC, 0x00, 0x00}},
      {"empty stream", {}, std::nullopt},
      {"one byte", {0x00}, std::nullopt},
      {"length beyond the data", {0x08, 0x00, 0x04, 0x00, 0xAA, 0xBB}, std::nullopt},
      {"bytes after the length", {0x00, 0x00, 0x00, 0x00}, std::nullopt},
      {"item runs past the list", {0x04, 0x00, 0x06, 0x00, 0xAA, 0xBB}, std::nullopt},
      {"item of size 1", {0x03, 0x00, 0x01, 0x00, 0xAA}, std::nullopt},
      {"half a size field", {0x01, 0x00, 0x04}, std::nullopt},
      {"bytes after the terminator",
       {0x06, 0x00, 0x00, 0x00, 0x04, 0x00, 0xAA, 0xBB},
       std::nullopt},
      {"huge item size", {0x04, 0x00, 0xFF, 0xFF, 0xAA, 0xBB}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ItemIdListFromStream(c.stream), c.list);
  }
}

TEST(ControlProgramNames, BuiltAsTheControlProgramBuildsThem) {
  using namespace vm::control;
  EXPECT_EQ(RuleTableBlockName(0x1A2B),
            L"Local\\{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_ParamStrings_00001A2B");
  EXPECT_EQ(RuleTableBlockName(0xFFFFFFFF).substr(RuleTableBlockName(0).size() - 8), L"FFFFFFFF");
  const std::wstring prefix = L"VXHotkey_{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}";
  EXPECT_EQ(HotkeyAtomName(kHotkeyAlt | kHotkeyCtrl, 0x41), prefix + L"Ctrl+Alt+65");
  EXPECT_EQ(HotkeyAtomName(kHotkeyAlt | kHotkeyShift | kHotkeyCtrl | kHotkeyWin, 9),
            prefix + L"Win+Ctrl+Shift+Alt+9");
  EXPECT_EQ(HotkeyAtomName(0, 112), prefix + L"112");

  const auto wparam = HandshakeWParam(HandshakeCode::Unload, ServerInstance::Shell);
  EXPECT_EQ(wparam, 0x10002u);
  EXPECT_EQ(HandshakeCodeOf(wparam), HandshakeCode::Unload);
  EXPECT_EQ(HandshakeInstanceOf(wparam), ServerInstance::Shell);
}

}  // namespace
