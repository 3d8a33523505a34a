#pragma once
// Keeps a second copy of a program from running in one Windows session. The
// first copy records its process in a small named file mapping; later copies
// find the mapping and know they are not first.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace vm {

// Content of the mapping: 16 bytes, little-endian, shared with the other
// programs of the product (including builds for other architectures).
struct StoredInstanceData {
  std::uint32_t process_id = 0;  // the first instance
  std::uint32_t padding = 0;
  std::uint64_t current_window = 0;  // brought forward on activation; 0 = none
};
static_assert(sizeof(StoredInstanceData) == 16);

class SingleAppInstance {
 public:
  // `app_id` is the bare identifier; the mapping is "Local\" + app_id.
  explicit SingleAppInstance(std::wstring_view app_id);

  // True when another process holds the guard. Otherwise this process takes
  // it: the mapping is created, records this process, and stays open until
  // the process ends (or ReleaseSingleInstanceGuards), whatever happens to
  // this object. A guard that cannot be created answers false, so the
  // program still runs.
  bool AppAlreadyExist();
  // True when another process holds the guard; never creates it.
  bool CheckApp();
  // Asks the first instance to come forward: brings its recorded window to
  // the foreground when bit 0x08000000 of `delayed_command_id` is set, and
  // broadcasts "DelayedCBCommand{...}" to the other applications with the
  // command (that bit cleared) and lParam 1 when it was set, else 0. Uses the
  // record read by AppAlreadyExist or CheckApp.
  void ActivateFirstApp(std::uint32_t delayed_command_id);
  // The first instance names the window ActivateFirstApp brings forward.
  // False when this process does not hold the guard.
  bool SetCurrentWindow(HWND window);

  const StoredInstanceData& StoredData() const { return stored_; }
  const std::wstring& MappingName() const { return mapping_name_; }

 private:
  // Reads the record of an existing mapping. nullopt-like: false when there
  // is no mapping; `readable` tells whether its view could be read.
  bool ReadExisting(bool& readable);

  std::wstring mapping_name_;
  StoredInstanceData stored_;
};

// Bit of a delayed command that asks for the stored window to come forward.
inline constexpr std::uint32_t kActivateStoredWindowBit = 0x08000000;

// Closes every guard this process holds (normally left to process exit).
void ReleaseSingleInstanceGuards();

}  // namespace vm
