#pragma once
// Process and waiting helpers of the protocol tests: start a program, stop it
// by its handle, wait for a real condition while pumping messages.
#include <windows.h>
#include <tlhelp32.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "common/unique_handle.h"

namespace vm::test {

// A process this test started; terminated (by its handle) when dropped.
class Child {
 public:
  Child() = default;
  explicit Child(const std::wstring& command_line) {
    std::wstring cmd = command_line;
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                       &pi)) {
      process_.reset(pi.hProcess);
      CloseHandle(pi.hThread);
      id_ = pi.dwProcessId;
    }
  }
  Child(Child&&) = default;
  Child& operator=(Child&&) = default;
  ~Child() { Stop(); }

  bool started() const { return static_cast<bool>(process_); }
  HANDLE handle() const { return process_.get(); }
  DWORD id() const { return id_; }

  // Exit code once it ended within `timeout_ms`, else STILL_ACTIVE.
  DWORD WaitExit(DWORD timeout_ms) const {
    DWORD code = STILL_ACTIVE;
    if (process_ && WaitForSingleObject(process_.get(), timeout_ms) == WAIT_OBJECT_0) {
      GetExitCodeProcess(process_.get(), &code);
    }
    return code;
  }

  void Stop() {
    if (!process_) return;
    if (WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.get(), 1);
      WaitForSingleObject(process_.get(), 10000);
    }
    process_.reset();
  }

 private:
  UniqueHandle process_;
  DWORD id_ = 0;
};

inline void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

// Polls `done` every few milliseconds, pumping this thread's messages, until
// it holds or `timeout_ms` passed. Returns the last answer.
inline bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms = 10000) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    PumpMessages();
  }
}

// Processes of this session with the given image name (case-insensitive);
// `parent` limits them to children of one process.
inline std::vector<DWORD> ProcessesNamed(const wchar_t* image, DWORD parent = 0) {
  std::vector<DWORD> ids;
  UniqueHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snap) return ids;
  PROCESSENTRY32W e{};
  e.dwSize = sizeof(e);
  for (BOOL ok = Process32FirstW(snap.get(), &e); ok; ok = Process32NextW(snap.get(), &e)) {
    if (_wcsicmp(e.szExeFile, image) == 0 && (parent == 0 || e.th32ParentProcessID == parent)) {
      ids.push_back(e.th32ProcessID);
    }
  }
  return ids;
}

// Stops one process by id (opened by handle, terminated, waited for).
inline void StopProcess(DWORD id) {
  UniqueHandle p(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
  if (!p) return;
  TerminateProcess(p.get(), 1);
  WaitForSingleObject(p.get(), 10000);
}

inline double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace vm::test
