#pragma once
// Files and folders of a test run: a fresh folder under the temporary
// folder, and reading a file another process may still be writing.
#include <windows.h>

#include <string>

#include "common/unique_handle.h"
#include "tests/support/child_process.h"

namespace vm::test {

// A new folder under the temporary folder, named after `stem` and unique to
// this run (no trailing backslash).
inline std::wstring NewTempFolder(const wchar_t* stem) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + UniqueName(stem);
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

// The whole file; empty when it cannot be opened. Shares writing, so a log
// that its writer holds open can be read.
inline std::string ReadWholeFile(const std::wstring& path) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
  std::string all;
  if (!file) return all;
  char buffer[65536];
  DWORD read = 0;
  while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    all.append(buffer, read);
  }
  return all;
}

}  // namespace vm::test
