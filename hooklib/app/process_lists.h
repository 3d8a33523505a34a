#pragma once
// Which processes and window classes the hook library treats specially. All
// of it is decided from a few facts about the host process (its executable,
// its version description, which modules it has loaded, the Windows version),
// so the decisions are plain functions that need no windows.h.
#include <functional>
#include <string>
#include <string_view>

namespace vm::hooklib {

struct WindowsVersionFlags {
  bool vista_or_later = false;
  bool win7_or_later = false;
  bool win8_or_later = false;
  bool win10_or_later = false;
};

// What the library learns about its host once, at start-up.
struct ProcessFacts {
  std::wstring image_path;       // the executable's full path
  std::string file_description;  // FileDescription of its version resource (ANSI)
  std::function<bool(std::wstring_view module_name)> module_loaded;  // GetModuleHandleW != 0
  WindowsVersionFlags version;
};

// Flags that follow from the process name and loaded modules alone.
struct ProcessFlags {
  bool library_idle = false;  // dwm.exe: no application, hooks only pass calls on
  bool explorer = false;      // explorer.exe: per-thread hooks, Explorer rule
  bool conhost = false;
  bool devenv = false;
  bool dopusrt = false;
  bool application_frame = false;
  bool shell_experience = false;
  bool office = false;  // mso.dll loaded
  bool maxqda = false;
};

// Flags that choose the hook set of the process.
struct HookModes {
  bool get_message_only = false;        // no per-thread window-procedure hooks
  bool deferred_window_checks = false;  // examine windows through a posted message
};

// Lower-cases ASCII letters; names of the lists are plain ASCII.
std::wstring AsciiLower(std::wstring_view text);
// The lower-cased file name part of a path ("C:\Windows\Explorer.EXE" -> "explorer.exe").
std::wstring ProcessNameFromPath(std::wstring_view path);
// True when ";" + name + ";" occurs in a list written as ";a;b;c;".
bool InNameList(std::wstring_view list, std::wstring_view name);

ProcessFlags ComputeProcessFlags(const ProcessFacts& facts);
HookModes ComputeHookModes(const ProcessFacts& facts);

// Window classes never offered to the rule dispatcher (case-sensitive).
bool IsIgnoredWindowClass(std::wstring_view class_name);
// The whole list, as tested (";" at both ends), for inspection.
std::wstring_view IgnoredWindowClassList();

// Classes the window-procedure hook treats specially.
bool IsDeferredCheckClass(
    std::wstring_view class_name);                    // always examined through a posted message
bool IsLateCheckClass(std::wstring_view class_name);  // examined on WM_WINDOWPOSCHANGED
bool IsSkippedClass(std::wstring_view class_name);    // never examined

}  // namespace vm::hooklib
