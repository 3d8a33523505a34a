#include "common/file_system_security.h"

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>

namespace vm {
namespace {

bool EqualIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + 32) : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [&](wchar_t x, wchar_t y) { return lower(x) == lower(y); });
}

}  // namespace

FileSystemSecurity::FileSystemSecurity() {
  // Everyone, generic all, inherited by sub-folders (CI) and files (OI).
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;CIOI;GA;;;WD)", SDDL_REVISION_1,
                                                            &descriptor_, nullptr)) {
    descriptor_ = nullptr;
  }
}

FileSystemSecurity::~FileSystemSecurity() {
  if (descriptor_ != nullptr) LocalFree(descriptor_);
}

bool FileSystemSecurity::SetFileAccessRights(std::wstring_view path) {
  if (descriptor_ == nullptr || path.empty()) return false;
  std::lock_guard lock(lock_);
  for (const std::wstring& done : processed_) {
    if (EqualIgnoringAsciiCase(done, path)) return true;
  }
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor_, &present, &dacl, &defaulted) || !present)
    return false;
  std::wstring name(path);
  const DWORD result = SetNamedSecurityInfoW(
      name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      nullptr, nullptr, dacl, nullptr);
  if (result != ERROR_SUCCESS) return false;
  processed_.push_back(std::move(name));
  return true;
}

FileSystemSecurity& SharedFileSystemSecurity() {
  static FileSystemSecurity security;
  return security;
}

}  // namespace vm
