#pragma once
// Opens a folder or file to every user: the all-users configuration folder
// is written by programs of every account on the machine.
#include <windows.h>

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vm {

class FileSystemSecurity {
 public:
  FileSystemSecurity();
  ~FileSystemSecurity();
  FileSystemSecurity(const FileSystemSecurity&) = delete;
  FileSystemSecurity& operator=(const FileSystemSecurity&) = delete;

  // Gives the object exactly one ACE: Everyone, full access, inherited by
  // sub-folders and files; inheritance from the parent is cut. Each path is
  // handled once per object (names compared without regard to ASCII case); a
  // failure is silent and a later call tries again. Returns whether the path
  // now counts as handled.
  bool SetFileAccessRights(std::wstring_view path);

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  std::mutex lock_;
  std::vector<std::wstring> processed_;
};

// The process-wide object, created on first use.
FileSystemSecurity& SharedFileSystemSecurity();

}  // namespace vm
