// The block-visibility decisions as tables of cases. Window-free; also built
// natively.
#include "hooklib/actions/block_visibility_state.h"

#include <gtest/gtest.h>

namespace vm::actions {
namespace {

using namespace block_state;

TEST(BlockVisibilityAttach, DecidesFromStateVisibilityAndRule) {
  struct Case {
    const char* what;
    AttachFacts facts;
    bool remove, timer;
    std::uint32_t state;
    bool compat;
  };
  const Case cases[] = {
      {"new hidden folder window, blocking",
       {0, false, true, false, true, true, true},
       false,
       true,
       kBlocking,
       false},
      {"visible, nothing held, blocking: nothing more", {0, true, true}, false, false, 0, false},
      {"visible with state 1, blocking off: property goes",
       {kBlocking, true, false},
       true,
       false,
       0,
       false},
      {"hidden, no state, blocking off: property goes", {0, false, false}, true, false, 0, false},
      {"hidden with a suppressed show, blocking off: shown by the timer",
       {kBlocking | kShowSuppressed, false, false},
       false,
       true,
       kBlocking | kShowSuppressed,
       false},
      {"visible with an empty region, re-attached blocking",
       {kBlocking | kEmptyRegion, true, true, true},
       false,
       true,
       kBlocking | kEmptyRegion,
       true},
      {"folder window without the container action: compatibility mode",
       {0, false, true, false, false, true, true},
       false,
       true,
       kBlocking,
       true},
      {"container action before Vista: the class decides",
       {0, false, true, false, true, false, true},
       false,
       true,
       kBlocking,
       true},
      {"another class keeps the rule's mode",
       {0, false, true, true, false, true, false},
       false,
       true,
       kBlocking,
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto d = DecideAttach(c.facts);
    EXPECT_EQ(d.remove_property, c.remove);
    EXPECT_EQ(d.start_timer, c.timer);
    EXPECT_EQ(d.store_state, c.timer);
    if (c.timer) EXPECT_EQ(d.new_state, c.state);
    EXPECT_EQ(d.compatibility_mode, c.compat);
  }
}

TEST(BlockVisibilityPosition, ShowsAreHeldBackWhileBlocking) {
  constexpr std::uint32_t show = 0x40, hide = 0x80, nosize = 0x1;
  struct Case {
    const char* what;
    PositionChange change;
    bool compat, own_call;
    bool act, region, consumed;
    std::uint32_t flags, state;
  };
  const Case cases[] = {
      {"show while blocking is taken away",
       {kBlocking, show | nosize},
       false,
       false,
       true,
       false,
       true,
       nosize,
       kBlocking | kShowSuppressed},
      {"hide after a suppressed show clears it",
       {kBlocking | kShowSuppressed, hide},
       false,
       false,
       true,
       false,
       false,
       hide,
       kBlocking},
      {"a move passes", {kBlocking, nosize}, false, false, true, false, false, nosize, kBlocking},
      {"not blocking: untouched",
       {kShowSuppressed, show},
       false,
       false,
       false,
       false,
       false,
       show,
       kShowSuppressed},
      {"compatibility mode sets the region instead",
       {kBlocking, show},
       true,
       false,
       true,
       true,
       false,
       show,
       kBlocking},
      {"the action's own region call is not handled again",
       {kBlocking, show},
       true,
       true,
       false,
       false,
       false,
       show,
       kBlocking},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto d = DecidePositionChange(c.change, c.compat, c.own_call);
    EXPECT_EQ(d.act, c.act);
    EXPECT_EQ(d.set_empty_region, c.region);
    EXPECT_EQ(d.consumed, c.consumed);
    EXPECT_EQ(d.flags, c.flags);
    EXPECT_EQ(d.new_state, c.state);
  }
  EXPECT_EQ(RegionOutcome(kBlocking, true), kBlocking | kEmptyRegion);
  EXPECT_EQ(RegionOutcome(kBlocking, false), kBlocking);
}

TEST(BlockVisibilityUnblock, UndoesWhatWasHeldAndDetachNeverStrandsAWindow) {
  EXPECT_TRUE(DecideUnblock(kBlocking | kShowSuppressed, true).show);
  EXPECT_FALSE(DecideUnblock(kBlocking | kShowSuppressed, true).remove_region);
  const auto region = DecideUnblock(kBlocking | kEmptyRegion, true);
  EXPECT_TRUE(region.remove_region);
  EXPECT_TRUE(region.tell_control_program);
  EXPECT_FALSE(DecideUnblock(kBlocking | kEmptyRegion, false).tell_control_program);
  const auto none = DecideUnblock(0, true);
  EXPECT_FALSE(none.show || none.remove_region || none.tell_control_program);

  // Withdrawn between a suppressed show and the unblock: shown on detach.
  EXPECT_TRUE(UnblockOnDetach(kBlocking | kShowSuppressed, true, false));
  EXPECT_TRUE(UnblockOnDetach(kBlocking | kEmptyRegion, true, false));
  // The extender made again for the same window keeps the state.
  EXPECT_FALSE(UnblockOnDetach(kBlocking | kShowSuppressed, true, true));
  EXPECT_FALSE(UnblockOnDetach(kBlocking | kShowSuppressed, false, false));
  EXPECT_FALSE(UnblockOnDetach(kBlocking, true, false));
}

TEST(BlockVisibilityUnblock, RegionRemovedBodyLayout) {
  const auto body = RegionRemovedBody(0x1234567890ABCDEFull);
  ASSERT_EQ(body.size(), 36u);
  auto word = [&](std::size_t at) {
    return std::uint32_t(body[at]) | std::uint32_t(body[at + 1]) << 8 |
           std::uint32_t(body[at + 2]) << 16 | std::uint32_t(body[at + 3]) << 24;
  };
  EXPECT_EQ(word(0), 4u);
  EXPECT_EQ(word(4), 0x90ABCDEFu);
  EXPECT_EQ(word(8), 16u);
  for (std::size_t at = 12; at < 28; at += 4) EXPECT_EQ(word(at), 0u);
  EXPECT_EQ(word(28), 4u);
  EXPECT_EQ(word(32), 1u);
}

TEST(BlockVisibilitySafetyTimer, WaitsForAnInFlightDockWithinTheBound) {
  struct Case {
    const char* what;
    SafetyTick tick;
    SafetyAction expected;
  };
  const Case cases[] = {
      {"no dock request: show now", {false, true, 0}, SafetyAction::kUnblockNow},
      {"dock request on its way", {true, true, 200}, SafetyAction::kKeepWaiting},
      {"container gone", {true, false, 200}, SafetyAction::kUnblockNow},
      {"bound reached", {true, true, kDockWaitBoundMs}, SafetyAction::kUnblockNow},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DecideSafetyTick(c.tick), c.expected);
  }
}

}  // namespace
}  // namespace vm::actions
