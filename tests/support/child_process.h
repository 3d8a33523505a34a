#pragma once
// Processes a test starts: created with a command line, stopped by their
// handle when the owner goes (terminated if still running), exit code read
// with a bounded wait that keeps this thread's messages flowing.
#include <windows.h>

#include <string>
#include <utility>

#include "common/unique_handle.h"
#include "tests/support/message_pump.h"

namespace vm::test {

class ChildProcess {
 public:
  ChildProcess() = default;
  // `program` is quoted; `arguments` follow it verbatim.
  ChildProcess(const std::wstring& program, const std::wstring& arguments) {
    std::wstring command = L"\"" + program + L"\"";
    if (!arguments.empty()) command += L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &info)) {
      process_.reset(info.hProcess);
      CloseHandle(info.hThread);
      id_ = info.dwProcessId;
    }
  }
  ChildProcess(ChildProcess&&) noexcept = default;
  ChildProcess& operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
      Stop();
      process_ = std::move(other.process_);
      id_ = std::exchange(other.id_, 0);
    }
    return *this;
  }
  ~ChildProcess() { Stop(); }

  bool started() const { return static_cast<bool>(process_); }
  HANDLE handle() const { return process_.get(); }
  DWORD id() const { return id_; }

  bool Running() const {
    return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
  }

  // The exit code once the process ended within `timeout_ms` (pumping
  // messages meanwhile), else STILL_ACTIVE.
  DWORD WaitExit(DWORD timeout_ms = 10000) const {
    if (!process_) return STILL_ACTIVE;
    PumpUntil([&] { return !Running(); }, timeout_ms);
    DWORD code = STILL_ACTIVE;
    if (!Running()) GetExitCodeProcess(process_.get(), &code);
    return code;
  }

  void Stop() {
    if (!process_) return;
    if (Running()) {
      TerminateProcess(process_.get(), 99);
      WaitForSingleObject(process_.get(), 10000);
    }
    process_.reset();
  }

 private:
  UniqueHandle process_;
  DWORD id_ = 0;
};

// A name no other test run uses: kernel objects of parallel tests must not meet.
inline std::wstring UniqueName(const wchar_t* stem) {
  static LONG counter = 0;
  return std::wstring(stem) + L"_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
         std::to_wstring(InterlockedIncrement(&counter)) + L"_" + std::to_wstring(GetTickCount64());
}

}  // namespace vm::test
