#include "hooklib/core/library.h"

#include <atomic>
#include <vector>

#include "common/shared_names.h"
#include "common/system_info.h"
#include "hooklib/core/hook_frame.h"
#include "hooklib/core/hook_procedures.h"
#include "hooklib/core/library_state.h"
#include "hooklib/core/process_storage.h"
#include "hooklib/core/stub_pool.h"
#include "hooklib/core/thread_hooks.h"
#include "hooklib/core/trampolines.h"
#include "hooklib/core/window_hook.h"

namespace vm::hooklib {
namespace {

enum StartState : int { kNotStarted = 0, kStarting = 1, kStarted = 2 };

std::atomic<bool> g_attached{false};
std::atomic<int> g_start_state{kNotStarted};
ProcessStorageState g_storage;

// Written once during start-up, read-only afterwards.
WindowsVersionFlags g_version;
ProcessFlags g_flags;
HookModes g_modes;
std::atomic<ThreadHookList*> g_thread_hooks{nullptr};

// Only meaningful in the process that called InstallMainHooks.
std::atomic<HHOOK> g_message_hook{nullptr};
std::atomic<HHOOK> g_shell_hook{nullptr};

WindowsVersionFlags ReadWindowsVersion() {
  const VersionFlags& os = Os().flags;
  WindowsVersionFlags v;
  v.vista_or_later = os.vista_or_later;
  v.win7_or_later = os.windows7_or_later;
  v.win8_or_later = os.windows8_or_later;
  v.win10_or_later = os.windows10_or_later;
  return v;
}

std::wstring ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
  return NormaliseImagePath(std::wstring(buffer.begin(), buffer.end()));
}

std::wstring Trim(std::wstring s, const wchar_t* blanks) {
  const auto first = s.find_first_not_of(blanks);
  if (first == std::wstring::npos) return {};
  const auto last = s.find_last_not_of(blanks);
  return s.substr(first, last - first + 1);
}

std::string FileDescriptionOf(const std::wstring& path) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
  if (size == 0 || size > (16u << 20)) return {};
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return {};
  struct Translation {
    WORD language;
    WORD code_page;
  };
  Translation* translations = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translations), &length) ||
      length < sizeof(Translation)) {
    return {};
  }
  wchar_t key[64] = {};
  swprintf(key, 64, L"\\StringFileInfo\\%04x%04x\\FileDescription", translations[0].language,
           translations[0].code_page);
  wchar_t* text = nullptr;
  if (!VerQueryValueW(data.data(), key, reinterpret_cast<void**>(&text), &length) ||
      text == nullptr) {
    return {};
  }
  const std::wstring description = Trim(std::wstring(text, wcsnlen(text, length)), L" \t");
  if (description.empty()) return {};
  const int n =
      WideCharToMultiByte(CP_ACP, 0, description.c_str(), static_cast<int>(description.size()),
                          nullptr, 0, nullptr, nullptr);
  std::string ansi(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_ACP, 0, description.c_str(), static_cast<int>(description.size()),
                        ansi.data(), n, nullptr, nullptr);
  }
  return ansi;
}

// Like AdmitSharedMessages, but with user32 alone: the library does not load
// further system libraries into every process it enters.
void AllowServiceMessages() {
  if (!Os().flags.vista_or_later) return;
  using FilterFn = BOOL(WINAPI*)(UINT, DWORD);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  auto allow = user32
                   ? reinterpret_cast<FilterFn>(GetProcAddress(user32, "ChangeWindowMessageFilter"))
                   : nullptr;
  if (allow == nullptr) return;
  const SharedNames& n = Names();
  if (n.service != 0) allow(n.service, MSGFLT_ADD);
  if (n.taskbar_created != 0) allow(n.taskbar_created, MSGFLT_ADD);
}

void CreateApplication() {
  ApplicationFactory factory = CurrentApplicationFactory();
  if (factory == nullptr) return;  // no application module in this build
  ApplicationHooks* app = factory();
  if (app == nullptr) return;
  SetApplication(app);
  app->Release();  // the global keeps the reference
  app->Init();
}

// Steps of the start-up that need an ordinary thread (not the loader lock).
void RunStartUp() {
  // 1. Process flags and lists (the facts are read once).
  const ProcessFacts facts = GatherProcessFacts();
  g_version = facts.version;
  g_flags = ComputeProcessFlags(facts);
  // 3. Shared names.
  InitSharedNames(Deliverable::HookLibrary);
  InitWindowHookAtoms();
  // 4. Optional entry points and the message filter.
  InitDpiSwitch();
  InitHookProcedures();
  AllowServiceMessages();
  // 6. Hook modes (the trampolines were built when the library attached).
  g_modes = ComputeHookModes(facts);
}

}  // namespace

ProcessFacts GatherProcessFacts() {
  ProcessFacts facts;
  facts.image_path = ExecutablePath();
  facts.file_description = FileDescriptionOf(facts.image_path);
  facts.module_loaded = [](std::wstring_view module) {
    const std::wstring name(module);
    return GetModuleHandleW(name.c_str()) != nullptr;
  };
  facts.version = ReadWindowsVersion();
  return facts;
}

void AttachLibrary() noexcept {
  if (g_attached.exchange(true)) return;
  // 2. Process-local storage, 5. the stub module, and the trampolines of 6:
  // kernel32 work only, so it is done while the loader calls us.
  g_storage = AttachProcessStorage();
  BindLibraryState(g_storage);
  StubPool::Instance().Start();
  BuildTrampolines(g_storage.trampoline_block, g_storage.trampoline_page, &CallWndProcHook,
                   &CallWndProcRetHook);
}

bool EnsureLibraryStarted() noexcept {
  const int state = g_start_state.load(std::memory_order_acquire);
  if (state == kStarted) return true;
  if (state == kStarting) return false;
  int expected = kNotStarted;
  if (!g_start_state.compare_exchange_strong(expected, kStarting, std::memory_order_acq_rel)) {
    return expected == kStarted;
  }
  AttachLibrary();  // linked statically: nobody attached us
  try {
    RunStartUp();
  } catch (...) {
  }
  // 8. The application, unless the library idles in this process. From here
  // on the hooks work; those called while the application starts find it
  // not published yet.
  const bool idle = g_flags.library_idle;
  if (!idle) {
    g_thread_hooks.store(new (std::nothrow) ThreadHookList(), std::memory_order_release);
    SetThreadDetachCallbackEnabled(true);
  }
  g_start_state.store(kStarted, std::memory_order_release);
  if (!idle) {
    try {
      CreateApplication();
    } catch (...) {
    }
  }
  return true;
}

bool LibraryStarted() noexcept { return g_start_state.load(std::memory_order_acquire) == kStarted; }

void DetachLibrary(bool terminating) noexcept {
  try {
    // The notification handler. Before Windows 7 a console process ends
    // with its console window's thread gone: treat it as a normal exit.
    if (terminating && LibraryStarted() && !g_version.win7_or_later) {
      using GetConsoleWindowFn = HWND(WINAPI*)();
      HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
      auto console =
          kernel32
              ? reinterpret_cast<GetConsoleWindowFn>(GetProcAddress(kernel32, "GetConsoleWindow"))
              : nullptr;
      if (console != nullptr && console() != nullptr) {
        terminating = false;
        if (!ApplicationUnloading()) {
          if (auto messenger = GetMessenger()) messenger->Done();
        }
      }
    }
    if (!terminating && !g_flags.library_idle) {
      if (auto app = GetApplication()) app->Done();
    }
    // The modules finish, in reverse order of their start.
    SetProcessHook(nullptr);
    SetApplication(nullptr);
    SetThreadDetachCallbackEnabled(false);
    if (ThreadHookList* list = g_thread_hooks.exchange(nullptr)) {
      if (terminating) {
        // The other threads are gone and so are their hooks.
      } else {
        delete list;  // removes what is left, without waiting for other threads
      }
    }
    if (!terminating) StubPool::Instance().Finish();
    SetMessenger(nullptr);
    // Nothing may call into this copy once it is unmapped: the trampolines
    // pass calls on until a later copy takes them over.
    RetireTrampolines(g_storage.trampoline_block);
    if (!terminating) FinalizeSharedNames();
  } catch (...) {
  }
}

void OnThreadDetach() noexcept {
  try {
    RunThreadDetachCallback();
  } catch (...) {
  }
}

BOOL InstallMainHooks() noexcept {
  LibraryCallScope scope;
  try {
    EnsureLibraryStarted();
    const HMODULE module = LibraryModule();
    // A second call keeps the hooks it finds: replacing their handles would
    // leave hooks behind that nothing can remove.
    if (g_message_hook.load() == nullptr) {
      g_message_hook.store(SetWindowsHookExW(WH_GETMESSAGE, &MessageHookProc, module, 0));
    }
    if (g_shell_hook.load() == nullptr) {
      g_shell_hook.store(SetWindowsHookExW(WH_SHELL, &ShellHookProc, module, 0));
    }
    return g_message_hook.load() != nullptr || g_shell_hook.load() != nullptr ? -1 : 0;
  } catch (...) {
    return 0;
  }
}

BOOL UninstallMainHooks() noexcept {
  LibraryCallScope scope;
  bool ok = true;
  for (std::atomic<HHOOK>* hook : {&g_shell_hook, &g_message_hook}) {
    if (HHOOK h = hook->exchange(nullptr)) ok = UnhookWindowsHookEx(h) && ok;
  }
  return ok ? -1 : 0;
}

bool HookCurrentThread() noexcept {
  FreeRetiredStubs();  // of threads that ended since the last call
  if (!g_flags.explorer) return false;
  ThreadHookList* list = g_thread_hooks.load(std::memory_order_acquire);
  if (list == nullptr || !TrampolinesActive() || ApplicationUnloading()) return false;
  return list->HookThread(GetCurrentThreadId());
}

const WindowsVersionFlags& CurrentWindowsVersion() noexcept { return g_version; }
const ProcessFlags& CurrentProcessFlags() noexcept { return g_flags; }
const HookModes& CurrentHookModes() noexcept { return g_modes; }
ThreadHookList* CurrentThreadHooks() noexcept {
  return g_thread_hooks.load(std::memory_order_acquire);
}

HOOKPROC CurrentTrampoline(int index) noexcept {
  return TrampolineAddress(g_storage.trampoline_block, index);
}

bool ApplicationUnloading() noexcept {
  auto app = GetApplication();
  return app && app->IsUnloading();
}

}  // namespace vm::hooklib
