#pragma once
// What the hook host tests and their stand-in control program share: the
// stand-in's record (a named mapping the test creates) and the commands the
// test posts to the stand-in's window.
#include <windows.h>

#include <cstdint>
#include <string>

namespace vm::test::hookhost {

struct ControlRecord {
  std::uint64_t window;          // the control window, once it exists
  std::uint32_t process_id;      // of the stand-in
  std::uint32_t host_thread;     // lParam of the last announcement (code 73)
  std::uint32_t announcements;   // how many came
  std::uint32_t library_loaded;  // 1: the library named on the command line is loaded
  std::uint32_t posts;           // mouse-hook requests posted to the host's thread
  std::uint32_t post_failures;   // of which PostThreadMessageW failed
};

// Posted to the control window by the test.
inline constexpr UINT kPostInstallMouseHook = WM_APP + 1;    // the stand-in posts 74
inline constexpr UINT kPostUninstallMouseHook = WM_APP + 2;  // the stand-in posts 75
inline constexpr UINT kQuit = WM_APP + 3;

// Set by the test to let a stand-in started "silent" answer again.
inline std::wstring ReleaseEventName(const std::wstring& record_name) {
  return record_name + L"_release";
}

// The stand-in started with no arguments (as VellmarkFoliantCenter.exe next
// to the host) appends one line to this file in its own folder and ends.
inline constexpr wchar_t kStartedFile[] = L"started.txt";

}  // namespace vm::test::hookhost
