#include "common/container_protocol.h"

#include <objbase.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <cstring>
#include <vector>

namespace vm::protocol {
namespace {

using Microsoft::WRL::ComPtr;

bool ProcessEnded(HANDLE process, DWORD wait_ms) {
  return WaitForSingleObject(process, wait_ms) == WAIT_OBJECT_0;
}

// Owns the start lock while it is held; releasing before closing matters,
// because the thread that asks for a dock is an Explorer thread that lives on:
// a mutex closed while still owned would stay owned by it and keep every
// other starter out.
class StartLock {
 public:
  StartLock() : mutex_(CreateMutexW(nullptr, FALSE, names::kContainerStartLock)) {}
  ~StartLock() {
    if (owned_) ReleaseMutex(mutex_.get());
  }
  StartLock(const StartLock&) = delete;
  StartLock& operator=(const StartLock&) = delete;

  bool exists() const { return static_cast<bool>(mutex_); }

  // True when the lock was acquired normally. An abandoned lock counts as not
  // acquired (a starter died while starting; no start attempt this time) but
  // is released again, so the next request can start the program.
  bool Acquire(DWORD wait_ms) {
    const DWORD r = WaitForSingleObject(mutex_.get(), wait_ms);
    if (r == WAIT_ABANDONED) {
      ReleaseMutex(mutex_.get());
      return false;
    }
    owned_ = r == WAIT_OBJECT_0;
    return owned_;
  }

 private:
  UniqueHandle mutex_;
  bool owned_ = false;
};

// Step 4.2 of the start: wait for the started program to show its window.
StartResult AwaitMainWindow(HANDLE process, const StartTimings& t) {
  for (int attempt = 0; attempt < t.idle_attempts; ++attempt) {
    if (HWND w = FindMainWindow()) return {w, StartOutcome::Started, true};
    if (WaitForInputIdle(process, t.idle_wait_ms) == 0) {
      const ULONGLONG deadline = GetTickCount64() + t.window_wait_after_idle_ms;
      for (;;) {
        if (HWND w = FindMainWindow()) return {w, StartOutcome::Started, true};
        // The wait on the process is also the pause between looks, so a
        // program that exits ends the wait at once.
        if (ProcessEnded(process, t.poll_ms)) {
          return {FindMainWindow(), StartOutcome::ProcessEnded, true};
        }
        if (GetTickCount64() >= deadline) return {FindMainWindow(), StartOutcome::NoWindow, true};
      }
    }
    if (ProcessEnded(process, t.poll_ms)) {
      return {FindMainWindow(), StartOutcome::ProcessEnded, true};
    }
  }
  return {FindMainWindow(), StartOutcome::NoWindow, true};
}

}  // namespace

HWND FindMainWindow() noexcept { return FindWindowW(names::kMainWindowClass, L""); }

StartResult FindOrStartContainer(const std::wstring& command_line,
                                 const StartTimings& timings) noexcept {
  try {
    if (HWND w = FindMainWindow()) return {w, StartOutcome::AlreadyRunning, false};

    StartLock lock;
    if (!lock.exists()) return {FindMainWindow(), StartOutcome::LockUnavailable, false};
    if (!lock.Acquire(timings.lock_wait_ms)) {
      return {FindMainWindow(), StartOutcome::LockTimedOut, false};
    }
    // Another process may have started the program while this one waited.
    if (HWND w = FindMainWindow()) return {w, StartOutcome::FoundAfterLock, false};

    std::vector<wchar_t> cmd(command_line.begin(), command_line.end());
    cmd.push_back(L'\0');
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
      return {FindMainWindow(), StartOutcome::CreateProcessFailed, false};
    }
    UniqueHandle process(pi.hProcess);
    UniqueHandle thread(pi.hThread);
    return AwaitMainWindow(process.get(), timings);
  } catch (...) {
    return {nullptr, StartOutcome::NoWindow, false};
  }
}

bool RequestDock(HWND explorer_window, const std::wstring& command_line,
                 const StartTimings& timings) noexcept {
  const HWND main_window = FindOrStartContainer(command_line, timings).main_window;
  if (main_window == nullptr) return false;
  return PostMessageW(main_window, names::WM_TC_DOCKWINDOW,
                      reinterpret_cast<WPARAM>(explorer_window),
                      static_cast<LPARAM>(names::DockLock::Vfo)) != FALSE;
}

bool RequestUndock(HWND explorer_window) noexcept {
  const HWND main_window = FindMainWindow();
  if (main_window == nullptr) return false;
  return PostMessageW(main_window, names::WM_TC_UNDOCKWINDOW,
                      reinterpret_cast<WPARAM>(explorer_window),
                      static_cast<LPARAM>(names::DockLock::Vfo)) != FALSE;
}

std::wstring PathBufferName(HWND explorer_window) {
  return PathBufferNameFor(reinterpret_cast<std::uintptr_t>(explorer_window));
}

bool PathBuffer::Prepare(std::uint64_t length) noexcept {
  try {
    const PathBufferPlan plan = PlanPathBuffer(length, size_);
    if (plan.action == PathBufferAction::Refuse) return false;
    if (plan.action == PathBufferAction::Keep) return static_cast<bool>(view_);

    Release();
    const std::uint64_t size = plan.new_size;
    UniqueHandle mapping(CreateFileMappingW(
        INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, static_cast<DWORD>(size >> 32),
        static_cast<DWORD>(size & 0xFFFFFFFF), PathBufferName(window_).c_str()));
    if (!mapping) return false;
    UniqueMapView view(MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!view) return false;
    // A mapping of that name may exist already (left by an earlier copy of
    // the library in this process, or made by someone else) with its own,
    // possibly smaller size: trust only what is really mapped.
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(view.get(), &info, sizeof(info)) == 0 || info.RegionSize < plan.new_size) {
      return false;
    }
    mapping_ = std::move(mapping);
    view_ = std::move(view);
    size_ = plan.new_size;
    return true;
  } catch (...) {
    return false;
  }
}

std::optional<std::string> PathBuffer::Read() const {
  auto text = PathBufferString(static_cast<const char*>(view_.get()), size_);
  if (!text) return std::nullopt;
  return std::string(*text);
}

bool PathBuffer::Write(std::string_view text) noexcept {
  if (!Prepare(text.size()) || text.size() >= size_) return false;
  auto* dest = static_cast<char*>(view_.get());
  std::memcpy(dest, text.data(), text.size());
  dest[text.size()] = '\0';
  return true;
}

void PathBuffer::Release() noexcept {
  view_.reset();
  mapping_.reset();
  size_ = 0;
}

std::wstring FolderReferenceCaption(PCIDLIST_ABSOLUTE folder) {
  PWSTR name = nullptr;
  if (SUCCEEDED(SHGetNameFromIDList(folder, SIGDN_DESKTOPABSOLUTEEDITING, &name)) && name) {
    std::wstring result(name);
    CoTaskMemFree(name);
    return result;
  }
  ComPtr<IShellFolder> desktop;
  if (FAILED(SHGetDesktopFolder(&desktop))) return {};
  STRRET ret{};
  if (FAILED(desktop->GetDisplayNameOf(folder, SHGDN_FORADDRESSBAR, &ret))) return {};
  if (FAILED(StrRetToStrW(&ret, folder, &name)) || name == nullptr) return {};
  std::wstring result(name);
  CoTaskMemFree(name);
  return result;
}

std::optional<std::string> MakeFolderReference(PCIDLIST_ABSOLUTE folder,
                                               std::wstring (*caption_of)(PCIDLIST_ABSOLUTE)) {
  if (folder == nullptr) return std::nullopt;
  ComPtr<IStream> stream;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return std::nullopt;
  if (FAILED(ILSaveToStream(stream.Get(), folder))) return std::nullopt;

  STATSTG stat{};
  if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || stat.cbSize.QuadPart > 0x20000) {
    return std::nullopt;  // ILSaveToStream writes a 16-bit length: anything more is not its work
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stat.cbSize.QuadPart));
  LARGE_INTEGER start{};
  ULONG read = 0;
  if (FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr)) ||
      (!bytes.empty() &&
       FAILED(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read))) ||
      read != bytes.size()) {
    return std::nullopt;
  }
  const std::wstring caption = caption_of ? caption_of(folder) : std::wstring();
  return FormatFolderReference(bytes, caption);
}

UniqueIdList IdListFromFolderReference(std::string_view text, std::wstring* caption) {
  const auto ref = ParseFolderReference(text);
  if (!ref) return {};
  const auto list = ItemIdListFromStream(ref->id_list_stream);
  if (!list) return {};
  void* memory = CoTaskMemAlloc(list->size());
  if (memory == nullptr) return {};
  std::memcpy(memory, list->data(), list->size());
  if (caption) *caption = ref->caption;
  return UniqueIdList(static_cast<PIDLIST_ABSOLUTE>(memory));
}

}  // namespace vm::protocol
