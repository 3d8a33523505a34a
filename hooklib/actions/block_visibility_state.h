#pragma once
// The decisions of the block-visibility action, apart from the window: what
// attaching does, what a WM_WINDOWPOSCHANGING does while blocking, what an
// unblock undoes, when a detach must unblock, and when the 200 ms safety
// timer may show a window whose dock request is still on its way. The state
// is the bit set kept in the window's block-state property, so that it
// survives a re-created extender.
#include <cstdint>
#include <vector>

namespace vm::actions {

namespace block_state {
inline constexpr std::uint32_t kBlocking = 1;        // shows are being held back
inline constexpr std::uint32_t kShowSuppressed = 2;  // a show was taken away: show on unblock
inline constexpr std::uint32_t kEmptyRegion = 4;     // an empty region hides it: remove on unblock
}  // namespace block_state

struct AttachFacts {
  std::uint32_t state = 0;  // the property, 0 when absent
  bool visible = false;
  bool need_blocking = false;       // the rule's "blocking"
  bool compatibility_mode = false;  // the rule's "compatibility_mode"
  bool has_foliant_action = false;  // the same extender runs the Explorer-to-container action
  bool vista_or_later = true;
  bool cabinet_window = false;  // class "CabinetWClass"
};

struct AttachDecision {
  bool compatibility_mode = false;
  bool remove_property = false;
  bool start_timer = false;  // the 200 ms unblock
  std::uint32_t new_state = 0;
  bool store_state = false;
};

AttachDecision DecideAttach(const AttachFacts& facts);

// WM_WINDOWPOSCHANGING while the window may be blocked.
struct PositionChange {
  std::uint32_t state = 0;
  std::uint32_t flags = 0;  // WINDOWPOS.flags
};

struct PositionDecision {
  bool act = false;  // anything to do at all
  bool set_empty_region = false;
  std::uint32_t flags = 0;      // the flags to leave in WINDOWPOS
  std::uint32_t new_state = 0;  // before the region's outcome (see RegionOutcome)
  bool consumed = false;        // the window's own procedure does not see the message
};

// `in_own_region_call`: the change comes from the action's own SetWindowRgn.
PositionDecision DecidePositionChange(const PositionChange& change, bool compatibility_mode,
                                      bool in_own_region_call);
// The state after trying to set the empty region.
std::uint32_t RegionOutcome(std::uint32_t state, bool region_set);

struct UnblockDecision {
  bool show = false;                  // SetWindowPos with the show flags below
  bool remove_region = false;         // SetWindowRgn(window, 0, TRUE)
  bool tell_control_program = false;  // command 51 (Windows 8 or later)
};
inline constexpr std::uint32_t kUnblockShowFlags = 0x257;

UnblockDecision DecideUnblock(std::uint32_t state, bool windows8_or_later);

// A detach leaves a window hidden for good when its unblock has not run yet,
// unless only the extender is being made again for the same window (the
// state then carries over to the new one).
bool UnblockOnDetach(std::uint32_t state, bool window_exists, bool extender_recreated);

// Body of command 51 to the control program: length-prefixed fields of the
// window handle's low 32 bits, an empty rectangle and the value 1.
std::vector<std::uint8_t> RegionRemovedBody(std::uint64_t window);

// The safety timer against a window that would stay hidden: when it fires
// while a dock request for the window is in flight, the window is not shown
// as an ordinary window yet (that would flash before it becomes a tab); it
// waits for the container's unblock, the end of the container, or the bound.
struct SafetyTick {
  bool dock_in_flight = false;
  bool container_alive = false;
  std::uint32_t waited_ms = 0;  // since the dock request
};
inline constexpr std::uint32_t kDockWaitBoundMs = 3000;

enum class SafetyAction { kUnblockNow, kKeepWaiting };
SafetyAction DecideSafetyTick(const SafetyTick& tick);

}  // namespace vm::actions
