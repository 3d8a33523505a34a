#include "hooklib/actions/block_visibility_state.h"

namespace vm::actions {
namespace {
constexpr std::uint32_t kSwpShowWindow = 0x0040;
constexpr std::uint32_t kSwpHideWindow = 0x0080;
}  // namespace

AttachDecision DecideAttach(const AttachFacts& f) {
  AttachDecision d;
  d.compatibility_mode = f.compatibility_mode;
  if (f.need_blocking) {
    // Beside the container action the window is re-parented, and an empty
    // region would travel with it into the tab; a plain folder window on
    // older systems cannot be kept from showing otherwise.
    if (f.vista_or_later && f.has_foliant_action)
      d.compatibility_mode = false;
    else if (f.cabinet_window)
      d.compatibility_mode = true;
  }
  const bool nothing_held = f.state == 0 || f.state == block_state::kBlocking;
  if (!f.need_blocking && (f.visible || nothing_held)) {
    d.remove_property = true;
    return d;
  }
  if (!f.visible || (f.state & (block_state::kShowSuppressed | block_state::kEmptyRegion)) != 0) {
    d.start_timer = true;
    d.new_state = f.state | block_state::kBlocking;
    d.store_state = true;
  }
  return d;
}

PositionDecision DecidePositionChange(const PositionChange& c, bool compatibility_mode,
                                      bool in_own_region_call) {
  PositionDecision d;
  d.flags = c.flags;
  d.new_state = c.state;
  if ((c.state & block_state::kBlocking) == 0 || in_own_region_call) return d;
  d.act = true;
  if (compatibility_mode) {
    d.set_empty_region = true;
    return d;
  }
  if (c.flags & kSwpShowWindow) {
    d.flags = c.flags & ~kSwpShowWindow;
    d.new_state |= block_state::kShowSuppressed;
    d.consumed = true;
  } else if (c.flags & kSwpHideWindow) {
    d.new_state &= ~block_state::kShowSuppressed;
  }
  return d;
}

std::uint32_t RegionOutcome(std::uint32_t state, bool region_set) {
  return region_set ? state | block_state::kEmptyRegion : state;
}

UnblockDecision DecideUnblock(std::uint32_t state, bool windows8_or_later) {
  UnblockDecision d;
  d.show = (state & block_state::kShowSuppressed) != 0;
  d.remove_region = (state & block_state::kEmptyRegion) != 0;
  d.tell_control_program = d.remove_region && windows8_or_later;
  return d;
}

bool UnblockOnDetach(std::uint32_t state, bool window_exists, bool extender_recreated) {
  return window_exists && !extender_recreated &&
         (state & (block_state::kShowSuppressed | block_state::kEmptyRegion)) != 0;
}

std::vector<std::uint8_t> RegionRemovedBody(std::uint64_t window) {
  std::vector<std::uint8_t> body;
  auto put = [&body](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) body.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  put(4);
  put(static_cast<std::uint32_t>(window));
  put(16);
  for (int i = 0; i < 4; ++i) put(0);
  put(4);
  put(1);
  return body;
}

SafetyAction DecideSafetyTick(const SafetyTick& t) {
  if (t.dock_in_flight && t.container_alive && t.waited_ms < kDockWaitBoundMs)
    return SafetyAction::kKeepWaiting;
  return SafetyAction::kUnblockNow;
}

}  // namespace vm::actions
