#pragma once
// What the hostile-input fixture and its test share: the layout of the named
// mapping in which the fixture publishes its windows and stubs, its check
// results and its exit codes.
#include <cstdint>

namespace vm::test::hostile {

inline constexpr unsigned kProbe = 0x8000 + 7;      // WM_APP + 7: answered by subclassed windows
inline constexpr long long kHookAnswer = 2000;      // ... through the library's stub
inline constexpr long long kOriginalAnswer = 1000;  // ... by the window's own procedure
inline constexpr unsigned kCheckRequest = 0x8000 + 20;  // posted to the control window
inline constexpr unsigned kQuit = 0x8000 + 21;          // posted to the control window

struct TargetBlock {
  std::uint64_t ready;  // 1 once everything below is filled in
  std::uint64_t thread_id;
  std::uint64_t hooked;        // ProbeHookThisThread's answer (3: message and per-thread hooks)
  std::uint64_t subclassed;    // a window subclassed through a stub
  std::uint64_t released;      // a window released by the library (its stub forwards)
  std::uint64_t plain;         // a window the library never touched
  std::uint64_t control;       // the window that answers the check request
  std::uint64_t unhook_wnd;    // the thread's "vfo_LocalUnhookWnd" window
  std::uint64_t stale_window;  // a window that was destroyed
  std::uint64_t live_stub;     // the subclassed window's stub
  std::uint64_t released_stub;
  std::uint64_t stale_stub;      // the stub of a window that was destroyed (freed by the library)
  std::uint64_t check_seq;       // raised after each check
  std::uint64_t check_failures;  // bits of CheckFailure; 0 when all is well
};

enum CheckFailure : std::uint64_t {
  kSubclassedBroken = 1,  // the subclassed window no longer answers through its stub
  kReleasedBroken = 2,    // the released window lost its pass-through
  kStubFreed = 4,         // the pool has more free stubs than before: one in use was freed
  kForeignCapture = 8,    // the mouse capture went to a window of another thread
  kUnhookBroken = 16,     // the thread's hooks or unhook window went
  kLibraryUnloaded = 32,  // the application unloaded (and took the per-thread hooks with it)
};

// Exit codes of the fixture in storage mode.
enum StorageExit : int {
  kStorageOk = 0,
  kNoLibrary = 20,            // the probe library did not load
  kTookForeignBlock = 21,     // the library uses the forged trampoline page
  kForgedMemoryTouched = 22,  // the library wrote to the forged memory
  kTrampolinesBroken = 23,    // its own trampolines do not call it
  kSubclassBroken = 24,       // subclassing through a stub does not work
  kRefusedGoodBlock = 25,     // a block that is in every way ours was not taken
  kBadArguments = 26,
  kHungSend = 27,          // a hook's send to another thread's window did not come back
  kThreadRecordLeft = 28,  // an ended thread's record or unhook stub stayed
};

}  // namespace vm::test::hostile
