#include "hooklib/app/window_info.h"

#include <propsys.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <atomic>

#include "common/system_info.h"
#include "hooklib/app/pattern_library.h"
#include "hooklib/app/process_lists.h"
#include "hooklib/core/library.h"

namespace vm::hooklib {

namespace {

constexpr PROPERTYKEY kAppUserModelId = {
    {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, 5};
constexpr std::size_t kMaxClassChars = 255;
constexpr std::size_t kMaxCaptionChars = 32767;

std::atomic<PropertyStoreForWindowFn> g_store_for_testing{nullptr};

std::string ToAnsi(std::wstring_view text) {
  if (text.empty() || text.size() > 0x7FFFFFFF) return {};
  const int n = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), n, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), n, out.data(), size, nullptr, nullptr);
  return out;
}

std::wstring RawClassName(HWND wnd) {
  wchar_t buffer[kMaxClassChars + 1] = {};
  const int n = GetClassNameW(wnd, buffer, static_cast<int>(std::size(buffer)));
  return std::wstring(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

bool IsWpf(std::wstring_view name) {
  return name.size() > 50 && name.starts_with(L"HwndWrapper[") && name.ends_with(L"]");
}

std::wstring TrimWpf(std::wstring name) {
  if (IsWpf(name)) name.erase(name.size() - 1 - 36, 36);
  return name;
}

PropertyStoreForWindowFn SystemPropertyStoreForWindow() {
  static std::atomic<PropertyStoreForWindowFn> fn{nullptr};
  static std::atomic<bool> looked{false};
  if (!looked.load()) {
    HMODULE shell32 = GetModuleHandleW(L"shell32.dll");
    if (shell32 == nullptr) shell32 = LoadLibraryW(L"shell32.dll");
    if (shell32 != nullptr) {
      fn = reinterpret_cast<PropertyStoreForWindowFn>(
          reinterpret_cast<void*>(GetProcAddress(shell32, "SHGetPropertyStoreForWindow")));
    }
    looked = true;
  }
  return fn.load();
}

// The process that owns a window for the match: on Windows 7 and later a
// console window belongs to conhost.exe, which keeps the console client's
// process id in the window's first extra pointer.
DWORD OwnerProcess(HWND wnd, std::wstring_view raw_class) {
  DWORD pid = 0;
  GetWindowThreadProcessId(wnd, &pid);
  if (raw_class == L"ConsoleWindowClass" && Os().flags.windows7_or_later &&
      ProcessNameFromPath(ProcessImagePath(pid, true)) == L"conhost.exe") {
    const LONG_PTR client = GetWindowLongPtrW(wnd, 0);
    if (client > 0 && client <= 0xFFFFFFFF) pid = static_cast<DWORD>(client);
  }
  return pid;
}

}  // namespace

void SetPropertyStoreForWindowForTesting(PropertyStoreForWindowFn fn) noexcept {
  g_store_for_testing = fn;
}

std::wstring WindowAppUserModelId(HWND wnd) {
  PropertyStoreForWindowFn fn = g_store_for_testing.load();
  if (fn == nullptr) fn = SystemPropertyStoreForWindow();
  if (fn == nullptr) return {};
  Microsoft::WRL::ComPtr<IPropertyStore> store;
  if (FAILED(fn(wnd, IID_PPV_ARGS(&store))) || !store) return {};
  PROPVARIANT value;
  PropVariantInit(&value);
  std::wstring out;
  if (SUCCEEDED(store->GetValue(kAppUserModelId, &value)) && value.vt == VT_LPWSTR &&
      value.pwszVal != nullptr) {
    out = value.pwszVal;
  }
  PropVariantClear(&value);
  return out;
}

std::wstring MatchClassName(HWND wnd) {
  std::wstring name = RawClassName(wnd);
  if (IsWpf(name)) {
    name = TrimWpf(std::move(name));
    if (HWND child = GetWindow(wnd, GW_CHILD)) name += L" - " + TrimWpf(RawClassName(child));
  }
  if (Os().flags.windows10_or_later &&
      CompareStringOrdinal(name.c_str(), -1, L"ApplicationFrameWindow", -1, TRUE) == CSTR_EQUAL) {
    const std::wstring id = WindowAppUserModelId(wnd);
    if (!id.empty()) name += L" - " + id;
  }
  return name;
}

std::string ReadWindowCaption(HWND wnd) noexcept {
  try {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(wnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kCaptionTimeoutMs,
                             &length) ||
        length == 0) {
      return {};
    }
    if (length > kMaxCaptionChars) length = kMaxCaptionChars;
    std::wstring buffer(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(wnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, kCaptionTimeoutMs, &copied)) {
      return {};
    }
    buffer.resize(copied < length ? copied : length);
    const std::size_t end = buffer.find(L'\0');
    if (end != std::wstring::npos) buffer.resize(end);
    return ToAnsi(buffer);
  } catch (...) {
    return {};
  }
}

MatchContext ProcessMatchContext() noexcept {
  MatchContext context;
  context.in_explorer = CurrentProcessFlags().explorer;
  context.regex = &ProcessPatternLibrary();
  return context;
}

WindowInfo FillWindowInfo(HWND wnd, bool upper_case_file_name) noexcept {
  WindowInfo info;
  info.wnd = reinterpret_cast<std::uintptr_t>(wnd);
  try {
    const std::wstring raw_class = RawClassName(wnd);
    const DWORD pid = OwnerProcess(wnd, raw_class);
    const std::string path = pid != 0 ? ToAnsi(ProcessImagePath(pid, true)) : std::string();
    if (!path.empty()) {
      info.file_name = WindowFileName(path);
      if (upper_case_file_name) DefaultUpperCaser()(info.file_name);
    }
    info.window_class = ToAnsi(MatchClassName(wnd));
  } catch (...) {
  }
  info.window_caption = ReadWindowCaption(wnd);
  return info;
}

}  // namespace vm::hooklib
