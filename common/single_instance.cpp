#include "common/single_instance.h"

#include <cstring>
#include <mutex>
#include <vector>

#include "common/names.h"
#include "common/shared_names.h"
#include "common/unique_handle.h"

namespace vm {
namespace {

// The mappings this process created, by name. They stay open for the life of
// the process: the open handle alone keeps the guard in force.
struct HeldGuard {
  std::wstring name;
  UniqueHandle mapping;
};
std::mutex g_guards_lock;
std::vector<HeldGuard> g_guards;

HANDLE HeldMapping(const std::wstring& name) {
  std::lock_guard lock(g_guards_lock);
  for (const HeldGuard& g : g_guards) {
    if (g.name == name) return g.mapping.get();
  }
  return nullptr;
}

bool ReadRecord(HANDLE mapping, StoredInstanceData& out) {
  UniqueMapView view(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(StoredInstanceData)));
  if (!view) return false;
  std::memcpy(&out, view.get(), sizeof(out));
  return true;
}

bool WriteRecord(HANDLE mapping, const StoredInstanceData& data) {
  UniqueMapView view(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(StoredInstanceData)));
  if (!view) return false;
  std::memcpy(view.get(), &data, sizeof(data));
  return true;
}

}  // namespace

SingleAppInstance::SingleAppInstance(std::wstring_view app_id)
    : mapping_name_(L"Local\\" + std::wstring(app_id)) {}

bool SingleAppInstance::ReadExisting(bool& readable) {
  readable = false;
  UniqueHandle existing(OpenFileMappingW(FILE_MAP_READ, FALSE, mapping_name_.c_str()));
  if (!existing) return false;
  readable = ReadRecord(existing.get(), stored_);
  return true;
}

bool SingleAppInstance::AppAlreadyExist() {
  try {
    bool readable = false;
    if (ReadExisting(readable)) {
      return readable && stored_.process_id != GetCurrentProcessId();
    }

    UniqueHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            sizeof(StoredInstanceData), mapping_name_.c_str()));
    if (!mapping) return false;  // no guard possible: run anyway
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
      // Another process created the mapping between our open and our create:
      // both programs started at the same instant. The kernel hands the new
      // object to exactly one creator, so the one that sees ERROR_ALREADY_EXISTS
      // counts as the second instance, even though the winner may not have
      // written its record yet (the record's process id may still be 0). This
      // way two simultaneous starts never both run.
      stored_ = {};
      ReadRecord(mapping.get(), stored_);
      return stored_.process_id != GetCurrentProcessId();
    }

    StoredInstanceData data;
    data.process_id = GetCurrentProcessId();
    if (!WriteRecord(mapping.get(), data)) return false;  // closes the mapping
    stored_ = data;
    std::lock_guard lock(g_guards_lock);
    g_guards.push_back({mapping_name_, std::move(mapping)});
    return false;
  } catch (...) {
    return false;
  }
}

bool SingleAppInstance::CheckApp() {
  try {
    bool readable = false;
    return ReadExisting(readable) && readable && stored_.process_id != GetCurrentProcessId();
  } catch (...) {
    return false;
  }
}

bool SingleAppInstance::SetCurrentWindow(HWND window) {
  HANDLE mapping = HeldMapping(mapping_name_);
  if (mapping == nullptr) return false;
  StoredInstanceData data;
  if (!ReadRecord(mapping, data)) return false;
  data.current_window = reinterpret_cast<std::uintptr_t>(window);
  if (!WriteRecord(mapping, data)) return false;
  stored_ = data;
  return true;
}

void SingleAppInstance::ActivateFirstApp(std::uint32_t delayed_command_id) {
  LPARAM lparam = 0;
  if ((delayed_command_id & kActivateStoredWindowBit) != 0) {
    // The handle came from another process's record: SetForegroundWindow
    // refuses anything that is not a window, so a stale value is harmless.
    SetForegroundWindow(
        reinterpret_cast<HWND>(static_cast<std::uintptr_t>(stored_.current_window)));
    delayed_command_id &= ~kActivateStoredWindowBit;
    lparam = 1;
  }
  UINT message = Names().delayed_command;
  if (message == 0) message = RegisterWindowMessageW(names::kDelayedCommandMessage);
  if (message == 0) return;
  DWORD recipients = BSM_APPLICATIONS;
  BroadcastSystemMessageW(BSF_IGNORECURRENTTASK | BSF_POSTMESSAGE, &recipients, message,
                          delayed_command_id, lparam);
}

void ReleaseSingleInstanceGuards() {
  std::lock_guard lock(g_guards_lock);
  g_guards.clear();
}

}  // namespace vm
