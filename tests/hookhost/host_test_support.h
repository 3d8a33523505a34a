#pragma once
// Shared by the hook host's integration tests: the host's three events as the
// control program holds them, the stand-in control program, folders of a run,
// the event log's new lines and environment switches for the processes the
// test starts.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/control_program.h"
#include "common/event_log.h"
#include "common/names.h"
#include "common/unique_handle.h"
#include "tests/hookhost/control_double.h"
#include "tests/support/child_process.h"
#include "tests/support/message_pump.h"
#include "tests/support/paths.h"

namespace vm::test::hookhost {

inline constexpr DWORD kBound = 20000;  // for anything that should take well under a second

// The three events, opened (or created) the way the control program does.
// Auto-reset: looking whether one is set takes the signal.
struct HostEvents {
  UniqueHandle startup{CreateEventW(nullptr, FALSE, FALSE, control::kHostStartupEvent)};
  UniqueHandle shutdown{CreateEventW(nullptr, FALSE, FALSE, control::kHostShutdownEvent)};
  UniqueHandle relogin{CreateEventW(nullptr, FALSE, FALSE, control::kHostNeedReloginEvent)};

  HostEvents() { Reset(); }
  void Reset() {
    for (auto* e : {&startup, &shutdown, &relogin}) ResetEvent(e->get());
  }
  static bool Taken(const UniqueHandle& e, DWORD ms = 0) {
    if (ms == 0) return WaitForSingleObject(e.get(), 0) == WAIT_OBJECT_0;
    return PumpUntil([&] { return WaitForSingleObject(e.get(), 0) == WAIT_OBJECT_0; }, ms);
  }
};

// The stand-in control program (control_double.exe) with its record.
class ControlDouble {
 public:
  explicit ControlDouble(bool silent, const std::wstring& library = L"")
      : name_(UniqueName(L"Local\\vm_hookhost_control")) {
    mapping_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(ControlRecord), name_.c_str()));
    view_.reset(MapViewOfFile(mapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(ControlRecord)));
    release_.reset(CreateEventW(nullptr, TRUE, FALSE, ReleaseEventName(name_).c_str()));
    std::wstring args = name_ + (silent ? L" silent" : L" answer");
    if (!library.empty()) args += L" \"" + library + L"\"";
    process_ = ChildProcess(TestPath(L"hookhost_control_double.exe"), args);
  }
  ~ControlDouble() {
    Release();
    if (process_.Running() && window()) PostMessageW(window(), kQuit, 0, 0);
    process_.WaitExit(5000);
  }

  bool WaitReady() {
    return view_ &&
           PumpUntil([&] { return record().window != 0 || !process_.Running(); }, kBound) &&
           record().window != 0;
  }
  volatile ControlRecord& record() { return *static_cast<volatile ControlRecord*>(view_.get()); }
  HWND window() { return view_ ? reinterpret_cast<HWND>(record().window) : nullptr; }
  ChildProcess& process() { return process_; }
  void Release() {
    if (release_) SetEvent(release_.get());
  }
  // Arguments for a host serving this stand-in.
  std::wstring HostArguments(const wchar_t* stage_switch) {
    return std::to_wstring(process_.id()) + L" " +
           std::to_wstring(static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(window()))) +
           L" " + stage_switch;
  }

 private:
  std::wstring name_;
  UniqueHandle mapping_;
  UniqueMapView view_;
  UniqueHandle release_;
  ChildProcess process_;
};

// What a host that did not come up was doing, for the failure message.
inline std::string HostState(ChildProcess& host, HostEvents& events) {
  DWORD code = STILL_ACTIVE;
  if (!host.Running()) GetExitCodeProcess(host.handle(), &code);
  return std::string("host ") +
         (code == STILL_ACTIVE ? "still running" : "ended with " + std::to_string(code)) +
         (HostEvents::Taken(events.relogin) ? ", re-login set" : "") +
         (HostEvents::Taken(events.shutdown) ? ", shutdown set" : "");
}

// A folder of its own for one case, removed with everything in it.
class RunFolder {
 public:
  explicit RunFolder(const wchar_t* stem)
      : path_(TestDir() + L"\\hookhost_runs\\" + UniqueName(stem)) {
    std::filesystem::create_directories(path_);
  }
  ~RunFolder() {
    std::error_code error;
    // Files may still be in use for a moment by a process that is ending.
    for (int i = 0; i < 50; ++i) {
      std::filesystem::remove_all(path_, error);
      if (!std::filesystem::exists(path_)) break;
      PumpFor(100);
    }
  }
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Sets an environment variable of this process (so of the processes it
// starts) for a while.
class ScopedVariable {
 public:
  ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name) {
    wchar_t buffer[4096] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
    had_ = length > 0 && length < 4096;
    if (had_) old_.assign(buffer, length);
    SetEnvironmentVariableW(name, value.c_str());
  }
  ~ScopedVariable() { SetEnvironmentVariableW(name_.c_str(), had_ ? old_.c_str() : nullptr); }

 private:
  std::wstring name_;
  std::wstring old_;
  bool had_ = false;
};

// The host stages into %temp%: a case gives its hosts a temporary folder of
// their own (TEMP and TMP), so nothing is left in the real one.
struct ScopedTemp {
  explicit ScopedTemp(const std::wstring& folder) : temp(L"TEMP", folder), tmp(L"TMP", folder) {
    std::filesystem::create_directories(folder);
  }
  ScopedVariable temp;
  ScopedVariable tmp;
};

inline std::vector<std::string> ReadLines(const std::wstring& path, std::streamoff from = 0) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::vector<std::string> lines;
  if (!in) return lines;
  in.seekg(from);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

inline std::string Narrow(const std::wstring& s) {
  const int n = WideCharToMultiByte(CP_ACP, 0, s.c_str(), static_cast<int>(s.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  WideCharToMultiByte(CP_ACP, 0, s.c_str(), static_cast<int>(s.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

// The host's lines of the event log written from now on.
class LogTail {
 public:
  LogTail() : path_(eventlog::LogFilePathFor(eventlog::ResolveConfigFolder())) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path_, error);
    start_ = error ? 0 : static_cast<std::streamoff>(size);
  }
  std::vector<std::string> HostLines() const {
    std::vector<std::string> out;
    for (const std::string& line : ReadLines(path_, start_)) {
      // "date;vfo;1.0.1;ControlCenter64;TCCApp;..." without the time stamp.
      const auto at = line.find(";ControlCenter64;TCCApp;");
      if (at != std::string::npos) out.push_back(line.substr(at + 1));
    }
    return out;
  }
  bool Has(const std::string& text) const {
    for (const std::string& line : HostLines())
      if (line.find(text) != std::string::npos) return true;
    return false;
  }
  std::string Dump() const {
    std::string all;
    for (const std::string& line : HostLines()) all += line + "\n";
    return all;
  }

 private:
  std::wstring path_;
  std::streamoff start_ = 0;
};

// Logging stays on for the test: an "Enabled" value of 0 is set to 1 and put
// back afterwards.
class LogSwitchOn {
 public:
  LogSwitchOn() {
    if (RegOpenKeyExW(HKEY_CURRENT_USER, names::kEventLoggerKey, 0, KEY_READ | KEY_SET_VALUE,
                      &key_) != ERROR_SUCCESS) {
      key_ = nullptr;
      return;
    }
    DWORD size = sizeof(old_);
    DWORD type = 0;
    if (RegQueryValueExW(key_, names::kEnabledValue, nullptr, &type, reinterpret_cast<BYTE*>(&old_),
                         &size) == ERROR_SUCCESS &&
        type == REG_DWORD && old_ == 0) {
      const DWORD on = 1;
      RegSetValueExW(key_, names::kEnabledValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on),
                     sizeof(on));
      changed_ = true;
    }
  }
  ~LogSwitchOn() {
    if (changed_)
      RegSetValueExW(key_, names::kEnabledValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&old_),
                     sizeof(old_));
    if (key_) RegCloseKey(key_);
  }

 private:
  HKEY key_ = nullptr;
  DWORD old_ = 1;
  bool changed_ = false;
};

inline bool FileExists(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// True when `process` has a module loaded from exactly `path` (ignoring case).
inline bool HasModule(DWORD process_id, const std::wstring& path) {
  UniqueHandle process{OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id)};
  if (!process) return false;
  HMODULE modules[1024];
  DWORD bytes = 0;
  if (!EnumProcessModules(process.get(), modules, sizeof(modules), &bytes)) return false;
  for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 1024; ++i) {
    wchar_t name[MAX_PATH * 2] = {};
    if (GetModuleFileNameExW(process.get(), modules[i], name, MAX_PATH * 2) &&
        _wcsicmp(name, path.c_str()) == 0)
      return true;
  }
  return false;
}

}  // namespace vm::test::hookhost
