#pragma once
// The hook library's half of the container protocol, kept here so that the
// Explorer action, the stand-in programs of the tests and the container's own
// tests share one implementation: finding and starting the container program,
// dock and undock requests, the path buffer an Explorer window owns, and the
// folder reference written into it. The container's half (handing a folder to
// a docked window) is container/folder_handoff.h.
#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/container_protocol_text.h"
#include "common/names.h"
#include "common/unique_handle.h"

namespace vm::protocol {

// ---- Finding and starting the container program -----------------------------

// The container program's hidden main window (its title is always ""), or null.
HWND FindMainWindow() noexcept;

struct StartTimings {
  DWORD lock_wait_ms = 10000;  // for the start lock held by another starter
  DWORD idle_wait_ms = 1000;   // one WaitForInputIdle attempt
  int idle_attempts = 5;
  DWORD poll_ms = 100;  // between looks for the window, and the wait on the process
  // How long to keep looking for the main window once the program is idle.
  // The program creates the window before it first waits for input, so a
  // program that is idle and still has no window after this long is not going
  // to show one. Without a bound a container stuck in start-up would block the
  // Explorer thread that asked for the dock (and, through the start lock,
  // every other starter) forever. 5 s plus at most 5 idle attempts keeps the
  // whole start near the 10 s the other starters wait for the lock.
  DWORD window_wait_after_idle_ms = 5000;
};

enum class StartOutcome {
  AlreadyRunning,       // the window existed before the start lock was taken
  FoundAfterLock,       // another starter had started it while this one waited
  Started,              // this call started the program and found its window
  LockUnavailable,      // the start lock could not be created or opened
  LockTimedOut,         // held elsewhere for longer than lock_wait_ms, or abandoned
  CreateProcessFailed,  // the command line could not be started
  ProcessEnded,         // the program ended before it showed its window
  NoWindow,             // the program runs but showed no window in time
};

struct StartResult {
  HWND main_window = nullptr;  // null unless the program's window was found
  StartOutcome outcome = StartOutcome::NoWindow;
  bool started_process = false;  // true when this call ran CreateProcessW
};

// Finds the main window, starting the program with `command_line` under the
// start lock "Local\VellmarkTools_TabbedContainerStartLock" when it is missing.
// Blocks the calling thread for the whole start. When the lock cannot be had,
// nothing is started but a window that exists by then is still returned.
StartResult FindOrStartContainer(const std::wstring& command_line,
                                 const StartTimings& timings = {}) noexcept;

// The dock request for an Explorer window: find (or start) the program, then
// post WM_TC_DOCKWINDOW (window, lock 1). Dropped without a message when no
// main window can be had. The caller serialises dock and undock requests of
// its process (the Explorer action holds its critical section around them).
bool RequestDock(HWND explorer_window, const std::wstring& command_line,
                 const StartTimings& timings = {}) noexcept;
// The undock request: WM_TC_UNDOCKWINDOW (window, lock 1) to a running
// program; never starts one.
bool RequestUndock(HWND explorer_window) noexcept;

// ---- Path buffer (owned by the hook library inside the Explorer process) ----

// Name of the path-buffer mapping of an Explorer window.
std::wstring PathBufferName(HWND explorer_window);

// The page-file mapping through which the container hands strings to one
// Explorer window. Lives from the first IPC_PREPAREBUFFER or IPC_READPATH
// until the action detaches from the window. One thread (the window's) uses it.
class PathBuffer {
 public:
  explicit PathBuffer(HWND explorer_window) : window_(explorer_window) {}
  PathBuffer(const PathBuffer&) = delete;
  PathBuffer& operator=(const PathBuffer&) = delete;

  // IPC_PREPAREBUFFER: make sure a string of `length` bytes and its terminator
  // fit. Answers true when a view is mapped afterwards. Lengths above
  // kMaxPathBufferRequest are refused (false) and leave the buffer as it was.
  bool Prepare(std::uint64_t length) noexcept;

  // IPC_NAVIGATE: the string in the buffer, up to its terminator. No value
  // without a buffer or without a terminator inside it.
  std::optional<std::string> Read() const;

  // IPC_READPATH: prepare for the text's length, then copy it with its terminator.
  bool Write(std::string_view text) noexcept;

  void Release() noexcept;

  std::size_t size() const noexcept { return size_; }
  const void* view() const noexcept { return view_.get(); }

 private:
  HWND window_;
  UniqueHandle mapping_;
  UniqueMapView view_;
  std::size_t size_ = 0;
};

// ---- Folder references with real item ID lists -------------------------------

struct CoTaskMemTraits {
  static PIDLIST_ABSOLUTE invalid() noexcept { return nullptr; }
  static bool valid(PIDLIST_ABSOLUTE p) noexcept { return p != nullptr; }
  static void close(PIDLIST_ABSOLUTE p) noexcept { ::CoTaskMemFree(p); }
};
using UniqueIdList = UniqueResource<PIDLIST_ABSOLUTE, CoTaskMemTraits>;

// The display name used in a folder reference: SHGetNameFromIDList with
// SIGDN_DESKTOPABSOLUTEEDITING, else the desktop folder's GetDisplayNameOf
// with SHGDN_FORADDRESSBAR; empty when both fail.
std::wstring FolderReferenceCaption(PCIDLIST_ABSOLUTE folder);

// The folder reference of an item ID list (ILSaveToStream bytes + caption).
// No value when the list cannot be serialised. `caption_of` is the display
// name source; tests replace it to reach the "no display name" form.
std::optional<std::string> MakeFolderReference(
    PCIDLIST_ABSOLUTE folder,
    std::wstring (*caption_of)(PCIDLIST_ABSOLUTE) = FolderReferenceCaption);

// The item ID list named by a folder reference; null when the text is not a
// well-formed reference (see ParseFolderReference and ItemIdListFromStream).
UniqueIdList IdListFromFolderReference(std::string_view text, std::wstring* caption = nullptr);

}  // namespace vm::protocol
