#pragma once
// Holds a critical section for the life of a scope.
#include <windows.h>

namespace vm {

class CriticalSectionLock {
 public:
  explicit CriticalSectionLock(CRITICAL_SECTION& cs) noexcept : cs_(cs) {
    EnterCriticalSection(&cs_);
  }
  ~CriticalSectionLock() { LeaveCriticalSection(&cs_); }
  CriticalSectionLock(const CriticalSectionLock&) = delete;
  CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

 private:
  CRITICAL_SECTION& cs_;
};

}  // namespace vm
