#pragma once
// Serialises the writers of one file across the processes of a session. Only
// the file-name part of the path names the lock, so files of the same name
// in different folders share it.
#include <windows.h>

#include <string>
#include <string_view>

#include "common/unique_handle.h"

namespace vm {

class FileAccessMutex {
 public:
  // Creates or opens the mutex and waits for it: the writer holds the lock
  // when the constructor returns. When the mutex cannot be created the
  // object does nothing and writers are not serialised.
  explicit FileAccessMutex(std::wstring_view file_path);
  ~FileAccessMutex();
  FileAccessMutex(const FileAccessMutex&) = delete;
  FileAccessMutex& operator=(const FileAccessMutex&) = delete;

  // Waits without limit. A mutex abandoned by a writer that died is taken
  // over: the file may hold that writer's half line, which is better than
  // never writing again.
  void Lock();
  void Unlock();

  bool valid() const { return static_cast<bool>(handle_); }
  static std::wstring MutexNameFor(std::wstring_view file_path);

 private:
  UniqueHandle handle_;
};

}  // namespace vm
