#include "hooklib/app/library_thread.h"

#include <atomic>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "common/system_info.h"
#include "hooklib/core/library_state.h"

namespace vm::hooklib {
namespace {

struct StartBlock {
  LPTHREAD_START_ROUTINE proc = nullptr;
  void* arg = nullptr;
  HMODULE module = nullptr;
  HANDLE handle = nullptr;  // closed by the thread when it owns it
  bool thread_owns_handle = false;
};

// One more reference on the library module: GetModuleHandleExA (looked up
// at run time) by an address inside it, or, where that does not exist,
// LoadLibraryW of its path.
HMODULE PinLibrary() noexcept {
  const HMODULE self = LibraryModule();
  if (self == nullptr) return nullptr;
  using GetModuleHandleExAFn = BOOL(WINAPI*)(DWORD, LPCSTR, HMODULE*);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  auto get_module_handle_ex =
      kernel32
          ? reinterpret_cast<GetModuleHandleExAFn>(GetProcAddress(kernel32, "GetModuleHandleExA"))
          : nullptr;
  if (get_module_handle_ex != nullptr) {
    HMODULE pinned = nullptr;
    if (get_module_handle_ex(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(self),
                             &pinned)) {
      return pinned;
    }
    return nullptr;
  }
  wchar_t path[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameW(self, path, static_cast<DWORD>(std::size(path)));
  if (n == 0 || n >= std::size(path)) return nullptr;
  return LoadLibraryW(path);
}

struct FileVersion {
  unsigned major = 0;
  unsigned build = 0;
};

FileVersion ExecutableVersion() {
  wchar_t path[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  if (n == 0 || n >= std::size(path)) return {};
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return {};
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(path, 0, size, data.data())) return {};
  VS_FIXEDFILEINFO* info = nullptr;
  UINT info_size = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &info_size) ||
      info == nullptr || info_size < sizeof(VS_FIXEDFILEINFO)) {
    return {};
  }
  return {HIWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS)};
}

bool ProcessPerMonitorAware() {
  // Only asked in Office processes, which have shcore loaded already; it is
  // loaded here otherwise, and kept (it is a system library).
  HMODULE shcore = GetModuleHandleW(L"shcore.dll");
  if (shcore == nullptr) shcore = LoadLibraryW(L"shcore.dll");
  if (shcore == nullptr) return false;
  using GetProcessDpiAwarenessFn = HRESULT(WINAPI*)(HANDLE, int*);
  auto get =
      reinterpret_cast<GetProcessDpiAwarenessFn>(GetProcAddress(shcore, "GetProcessDpiAwareness"));
  int awareness = 0;
  return get != nullptr && SUCCEEDED(get(nullptr, &awareness)) &&
         awareness == 2;  // PROCESS_PER_MONITOR_DPI_AWARE
}

LibraryThreadDpiFacts GatherDpiFacts() {
  LibraryThreadDpiFacts facts;
  const SystemVersion& os = Os();
  facts.windows10_or_later = os.flags.windows10_or_later;
  facts.windows_build = os.record.build;
  facts.office_loaded = GetModuleHandleW(L"mso.dll") != nullptr;
  if (!facts.windows10_or_later || facts.windows_build < 14393 || !facts.office_loaded) {
    return facts;  // nothing else matters
  }
  wchar_t path[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  std::wstring name(path, n < std::size(path) ? n : 0);
  name = name.substr(name.find_last_of(L"\\/") + 1);
  for (auto& c : name) c = static_cast<wchar_t>(towlower(c));
  facts.is_outlook = name == L"outlook.exe";
  const FileVersion version = ExecutableVersion();
  facts.exe_major = version.major;
  facts.exe_build = version.build;
  facts.process_per_monitor_aware = ProcessPerMonitorAware();
  return facts;
}

// Computed once per process, by the first library thread that starts.
enum : int { kDpiUnknown = 0, kDpiLeave = 1, kDpiPerMonitor = 2 };
std::atomic<int> g_dpi_rule{kDpiUnknown};

void ApplyThreadDpiAwareness() noexcept {
  try {
    int rule = g_dpi_rule.load(std::memory_order_acquire);
    if (rule == kDpiUnknown) {
      rule = LibraryThreadsPerMonitorAware(GatherDpiFacts()) ? kDpiPerMonitor : kDpiLeave;
      g_dpi_rule.store(rule, std::memory_order_release);
    }
    if (rule != kDpiPerMonitor) return;
    using SetThreadDpiAwarenessContextFn = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    auto set = user32 ? reinterpret_cast<SetThreadDpiAwarenessContextFn>(
                            GetProcAddress(user32, "SetThreadDpiAwarenessContext"))
                      : nullptr;
    if (set != nullptr) set(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  } catch (...) {
  }
}

DWORD WINAPI LibraryThreadStart(void* parameter) {
  auto* block = static_cast<StartBlock*>(parameter);
  const HMODULE module = block->module;
  const LPTHREAD_START_ROUTINE proc = block->proc;
  void* const arg = block->arg;
  if (block->thread_owns_handle) CloseHandle(block->handle);
  delete block;

  ApplyThreadDpiAwareness();
  DWORD result = 0;
  try {
    result = proc(arg);
  } catch (...) {
    result = 0;
  }
  LeaveLibraryCall();
  FreeLibraryAndExitThread(module, result);
}

}  // namespace

HMODULE PinLibraryModule() noexcept { return PinLibrary(); }
void ApplyLibraryThreadDpiAwareness() noexcept { ApplyThreadDpiAwareness(); }

bool LibraryThreadsPerMonitorAware(const LibraryThreadDpiFacts& facts) noexcept {
  if (!facts.windows10_or_later || facts.windows_build < 14393 || !facts.office_loaded)
    return false;
  if (facts.exe_major >= 16 && facts.process_per_monitor_aware) return true;
  return facts.is_outlook &&
         (facts.exe_major > 16 || (facts.exe_major == 16 && facts.exe_build > 6499));
}

bool StartLibraryThread(LPTHREAD_START_ROUTINE proc, void* arg, UniqueHandle* handle,
                        DWORD* thread_id) noexcept {
  if (proc == nullptr) return false;
  auto* block = new (std::nothrow) StartBlock;
  if (block == nullptr) return false;
  block->proc = proc;
  block->arg = arg;
  block->thread_owns_handle = handle == nullptr;
  block->module = PinLibrary();
  if (block->module == nullptr) {
    delete block;
    return false;
  }
  EnterLibraryCall();

  DWORD id = 0;
  const HANDLE thread = CreateThread(nullptr, 0, &LibraryThreadStart, block, CREATE_SUSPENDED, &id);
  bool started = false;
  if (thread != nullptr) {
    block->handle = thread;  // the thread has not run yet: it is suspended
    if (ResumeThread(thread) != static_cast<DWORD>(-1)) {
      started = true;
    } else {
      // It never ran a line of ours: end it and take back what it would have.
      TerminateThread(thread, 0);
      WaitForSingleObject(thread, INFINITE);
      CloseHandle(thread);
    }
  }
  if (!started) {
    // Undo the pin and the call depth too, or the library could never be
    // unloaded from this process again.
    const HMODULE module = block->module;
    delete block;
    LeaveLibraryCall();
    FreeLibrary(module);
    return false;
  }
  if (thread_id != nullptr) *thread_id = id;
  if (handle != nullptr) handle->reset(thread);
  return true;
}

}  // namespace vm::hooklib
