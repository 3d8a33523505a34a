#pragma once
// Where the test programs find the deliverables: tests live in bin/tests,
// the deliverables one folder up.
#include <windows.h>

#include <string>

namespace vm::test {

inline std::wstring TestDir() {
  wchar_t path[MAX_PATH * 2] = {};
  DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  std::wstring s(path, n);
  return s.substr(0, s.find_last_of(L"\\/"));
}

inline std::wstring BinDir() {
  std::wstring t = TestDir();
  return t.substr(0, t.find_last_of(L"\\/"));
}

inline std::wstring BinPath(const std::wstring& name) { return BinDir() + L"\\" + name; }
inline std::wstring TestPath(const std::wstring& name) { return TestDir() + L"\\" + name; }

}  // namespace vm::test
