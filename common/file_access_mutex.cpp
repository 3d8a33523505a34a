#include "common/file_access_mutex.h"

#include "common/names.h"

namespace vm {

std::wstring FileAccessMutex::MutexNameFor(std::wstring_view file_path) {
  const std::size_t slash = file_path.find_last_of(L"\\/");
  const std::wstring_view file =
      slash == std::wstring_view::npos ? file_path : file_path.substr(slash + 1);
  return std::wstring(names::kFileLockPrefix) + std::wstring(file);
}

FileAccessMutex::FileAccessMutex(std::wstring_view file_path)
    : handle_(CreateMutexW(nullptr, FALSE, MutexNameFor(file_path).c_str())) {
  Lock();
}

FileAccessMutex::~FileAccessMutex() { Unlock(); }

void FileAccessMutex::Lock() {
  if (handle_) WaitForSingleObject(handle_.get(), INFINITE);
}

void FileAccessMutex::Unlock() {
  if (handle_) ReleaseMutex(handle_.get());
}

}  // namespace vm
