#include "common/event_log.h"

#include <shlobj.h>

#include <memory>
#include <mutex>

#include "common/control_program.h"
#include "common/file_access_mutex.h"
#include "common/file_system_security.h"
#include "common/names.h"

namespace vm::eventlog {
namespace {

constexpr wchar_t kProductLine[] = L"vfo;1.0.1;";

std::mutex state_lock;
std::wstring alternative_folder;
std::wstring config_folder;
// Created by the first write for that write's file and kept to the end of
// the process, as every writer of the file uses the same name.
std::unique_ptr<FileAccessMutex> file_mutex;
std::mutex write_lock;  // one writer of this process at a time

bool DirectoryExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring WithBackslash(std::wstring path) {
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return path;
}

bool ReadString(HKEY root, const wchar_t* key, const wchar_t* value, std::wstring& out) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(root, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  wchar_t buffer[MAX_PATH * 2] = {};
  DWORD size = sizeof(buffer) - sizeof(wchar_t);
  DWORD type = 0;
  const LSTATUS status =
      RegQueryValueExW(handle, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  out.assign(buffer, size / sizeof(wchar_t));
  while (!out.empty() && out.back() == L'\0') out.pop_back();
  return true;
}

// CSIDL folder + "\Vellmark Tools\Vellmark Foliant", both created when
// missing; `secure` opens each to every user. Empty when it cannot be had.
std::wstring ProductFolderUnder(int csidl, bool secure) {
  wchar_t base[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, base))) return {};
  std::wstring folder = base;
  for (const wchar_t* leaf : {L"\\Vellmark Tools", L"\\Vellmark Foliant"}) {
    folder += leaf;
    if (!DirectoryExists(folder)) CreateDirectoryW(folder.c_str(), nullptr);
    if (secure) SharedFileSystemSecurity().SetFileAccessRights(folder);
  }
  return DirectoryExists(folder) ? folder + L'\\' : std::wstring();
}

std::wstring AllUsersFolder() {
  static std::once_flag once;
  static std::wstring folder;
  std::call_once(once, [] { folder = ProductFolderUnder(CSIDL_COMMON_APPDATA, true); });
  return folder;
}

std::wstring Alternative() {
  std::lock_guard lock(state_lock);
  return alternative_folder;
}

std::wstring Timestamp() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  wchar_t separator[8] = L":";
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, 8) <= 1) {
    separator[0] = L':';
    separator[1] = 0;
  }
  wchar_t text[64];
  swprintf(text, 64, L"%04u-%02u-%02u %02u%s%02u%s%02u.%03u", now.wYear, now.wMonth, now.wDay,
           now.wHour, separator, now.wMinute, separator, now.wSecond, now.wMilliseconds);
  return text;
}

std::wstring TempFolder() {
  wchar_t buffer[MAX_PATH + 2] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH + 1) return {};
  return WithBackslash(std::wstring(buffer, length));
}

void AppendToFile(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
}

std::string ToAnsi(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

}  // namespace

void SetAlternativeConfigFolder(std::wstring folder) {
  std::lock_guard lock(state_lock);
  alternative_folder = std::move(folder);
}

std::wstring ResolveConfigFolder() {
  std::wstring setting;
  if (!ReadString(HKEY_CURRENT_USER, names::kProductKey, names::kConfigFilesLocationValue,
                  setting) &&
      !ReadString(HKEY_LOCAL_MACHINE, names::kProductKey, names::kConfigFilesLocationValue,
                  setting)) {
    setting = control::kConfigLocationPerUser;
  }
  std::wstring folder = ProductFolderUnder(CSIDL_APPDATA, false);
  if (!setting.empty()) {
    if (setting == control::kConfigLocationAlternative) {
      folder = Alternative();
    } else if (setting == control::kConfigLocationAllUsers) {
      folder = AllUsersFolder();
    } else if (setting == control::kConfigLocationPerUser) {
      // the per-user folder stands
    } else if (DirectoryExists(setting)) {
      folder = WithBackslash(setting);
    }
  }
  if (!folder.empty() && DirectoryExists(folder)) return folder;
  return Alternative();
}

void SetConfigFolder(std::wstring folder) {
  std::lock_guard lock(state_lock);
  config_folder = std::move(folder);
}

std::wstring ConfigFolder() {
  std::lock_guard lock(state_lock);
  return config_folder;
}

std::wstring LogFilePathFor(std::wstring_view folder) {
  if (!folder.empty()) return std::wstring(folder) + names::kEventLogFile;
  return TempFolder() + names::kInitErrorsLogFile;
}

bool IsEventLogEnabled() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, names::kEventLoggerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return true;
  DWORD value = 1;
  DWORD size = sizeof(value);
  DWORD type = 0;
  const LSTATUS status = RegQueryValueExW(key, names::kEnabledValue, nullptr, &type,
                                          reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value)) return true;
  return value != 0;
}

void WriteEventLine(std::wstring_view text, bool with_timestamp) noexcept {
  try {
    const std::wstring path = LogFilePathFor(ConfigFolder());
    std::wstring line;
    if (with_timestamp) line = Timestamp() + L";";
    line += kProductLine;
    line += text;
    line += L"\r\n";
    const std::string bytes = ToAnsi(line);
    std::lock_guard lock(write_lock);
    if (!file_mutex) {
      file_mutex = std::make_unique<FileAccessMutex>(path);  // taken by its creation
    } else {
      file_mutex->Lock();
    }
    AppendToFile(path, bytes);
    file_mutex->Unlock();
  } catch (...) {
  }
}

std::wstring ErrorText(DWORD error) {
  wchar_t code[16];
  swprintf(code, 16, L"$%08X-", static_cast<unsigned>(error));
  std::wstring text = code;
  wchar_t* message = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  if (length && message) {
    std::wstring body(message, length);
    while (!body.empty() && (body.back() <= L' ' || body.back() == L'.')) body.pop_back();
    text += body;
  }
  if (message) LocalFree(message);
  return text;
}

std::wstring EventEntry(std::wstring_view source, std::wstring_view class_name,
                        std::wstring_view operation, std::wstring_view detail, bool succeeded,
                        DWORD error) {
  std::wstring entry(source);
  entry += L';';
  entry += class_name;
  entry += succeeded ? L";Succeeded;" : L";Failed;";
  entry += operation;
  entry += L';';
  entry += detail;
  if (!succeeded) entry += L';' + ErrorText(error);
  return entry;
}

void LogEvent(std::wstring_view source, std::wstring_view class_name, std::wstring_view operation,
              std::wstring_view detail, bool succeeded, DWORD error) noexcept {
  try {
    if (!IsEventLogEnabled()) return;
    WriteEventLine(EventEntry(source, class_name, operation, detail, succeeded, error), true);
  } catch (...) {
  }
}

void LogEvent(std::wstring_view source, std::wstring_view class_name, std::wstring_view operation,
              std::wstring_view detail, bool succeeded) noexcept {
  const DWORD error = GetLastError();
  LogEvent(source, class_name, operation, detail, succeeded, error);
}

}  // namespace vm::eventlog
