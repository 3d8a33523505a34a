#pragma once
// The hook host's decisions that need no window: what its command line asks
// for, which wake mask the serving loop may use on this Windows, whether and
// how the library is staged into the temporary folder, whether a module
// loaded elsewhere is another copy of ours, and what a mouse-hook request
// does. Table-tested; the program itself only carries them out.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vm::hookhost {

// ---- Command line ------------------------------------------------------------

enum class HostMode {
  StartControlProgram,  // no arguments
  Serve,                // exactly three
  Nothing,              // any other count
};

struct HostCommand {
  HostMode mode = HostMode::Nothing;
  std::uint32_t parent_id = 0;  // 0: not given or not a number
  std::intptr_t window = 0;     // 0: not given or not a number; sign-extended from 32 bits
  bool stage_library = false;   // the third argument is exactly "0"
};

// `arguments` excludes the program's own name.
HostCommand ParseHostCommand(std::span<const std::wstring_view> arguments);

// A decimal 32-bit number: optional blanks, an optional sign, digits, nothing
// after them. Values from -2^31 to 2^32-1 are taken (a 32-bit caller may print
// a handle either way) and kept as their low 32 bits; anything else is 0.
std::uint32_t ParseDecimal32(std::wstring_view text);

// ---- Serving loop ------------------------------------------------------------

// QS_ALLINPUT as this Windows knows it. The touch and pointer bits (0x0800,
// 0x1000) exist from Windows 8 on; before that MsgWaitForMultipleObjects
// refuses a mask that has them, and a failed wait would end the serving loop
// right after the host announced itself.
inline constexpr std::uint32_t kWakeMaskWindows8 = 0x1CFF;
inline constexpr std::uint32_t kWakeMaskBeforeWindows8 = 0x04FF;
constexpr std::uint32_t WakeMaskFor(bool windows8_or_later) {
  return windows8_or_later ? kWakeMaskWindows8 : kWakeMaskBeforeWindows8;
}

// ---- Staging -----------------------------------------------------------------

// What staging needs of the file system, so the decision can be tested
// without touching files.
class StagingFiles {
 public:
  virtual ~StagingFiles() = default;
  virtual bool Exists(const std::wstring& path) = 0;            // a file, not a folder
  virtual std::uint32_t Crc32Of(const std::wstring& path) = 0;  // 0 when unreadable
  virtual bool Delete(const std::wstring& path) = 0;
  virtual bool Copy(const std::wstring& from, const std::wstring& to) = 0;  // overwrites
  virtual void MakeNormal(const std::wstring& path) = 0;                    // FILE_ATTRIBUTE_NORMAL
};

struct StagingResult {
  std::wstring path;     // what to load; empty when nothing may be loaded
  bool relogin = false;  // an old staged copy could not be removed
};

// Puts the library in place in the temporary folder: an existing staged copy
// with the source's CRC-32 is used as it is; one with another CRC-32 is
// deleted (when that fails nothing is loaded and the control program is asked
// to log in again: an old copy is still in use) and copied again. When the
// copy fails the source is loaded. An empty `staged` (the temporary folder
// could not be had) loads the source.
StagingResult StageLibrary(const std::wstring& source, const std::wstring& staged,
                           StagingFiles& files);

// "%temp%\vfoemb64.dll" as expanded into 260 characters, or empty when that
// failed: too long, or no temporary folder to expand (the text would still
// hold "%" and name a folder relative to wherever the host runs).
std::wstring StagedPathFromExpansion(std::wstring_view expanded, std::size_t needed_chars);

// ---- Other copies of the library ---------------------------------------------

// The file-name part of a path (after the last "\" or "/").
std::wstring_view FileNamePart(std::wstring_view path);

// Case-insensitive equality as the file system compares names.
bool SameFileName(std::wstring_view a, std::wstring_view b);

// True when a module at `module_path` is a same-named library from another
// path than `path`: the file-name parts equal and the full paths differ,
// both without regard to case.
bool IsOtherCopy(std::wstring_view module_path, std::wstring_view path);

// ---- Mouse-hook requests -------------------------------------------------------

inline constexpr std::uintptr_t kInstallMouseHookCode = 74;
inline constexpr std::uintptr_t kUninstallMouseHookCode = 75;

enum class MouseHookAction { None, Install, Uninstall };

struct MouseHookDecision {
  MouseHookAction action = MouseHookAction::None;
  bool handled = false;
};

// A service thread message with `code` while the mouse hook is (not)
// installed: 74 installs when it is not, 75 uninstalls when it is; anything
// else is left alone (and then translated and dispatched, which does nothing
// for a thread message).
MouseHookDecision DecideMouseHookRequest(std::uintptr_t code, bool installed);

}  // namespace vm::hookhost
