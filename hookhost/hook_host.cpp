#include "hookhost/hook_host.h"

#include <psapi.h>
#include <shellapi.h>

#include <vector>

#include "common/control_program.h"
#include "common/crc32.h"
#include "common/event_log.h"
#include "common/names.h"
#include "common/shared_names.h"
#include "common/single_instance.h"
#include "common/system_info.h"

namespace vm::hookhost {
namespace {

constexpr wchar_t kLibraryFile[] = L"vfoemb64.dll";
constexpr wchar_t kStagedLibrary[] = L"%temp%\\vfoemb64.dll";
constexpr wchar_t kControlProgramFile[] = L"VellmarkFoliantCenter.exe";

void Log(std::wstring_view operation, std::wstring_view detail, bool succeeded, DWORD error) {
  eventlog::LogEvent(kLogSource, kLogClass, operation, detail, succeeded, error);
}

std::wstring HandleText(const void* handle) {
  wchar_t text[24];
  swprintf(text, 24, L"$%016llX",
           static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(handle)));
  return text;
}

class SystemStagingFiles final : public StagingFiles {
 public:
  bool Exists(const std::wstring& path) override {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  std::uint32_t Crc32Of(const std::wstring& path) override { return HookHost::GetFileCrc32(path); }
  bool Delete(const std::wstring& path) override { return DeleteFileW(path.c_str()) != FALSE; }
  bool Copy(const std::wstring& from, const std::wstring& to) override {
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
  }
  void MakeNormal(const std::wstring& path) override {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
};

std::wstring StagedLibraryPath() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD needed = ExpandEnvironmentStringsW(kStagedLibrary, buffer, MAX_PATH);
  return StagedPathFromExpansion(needed != 0 && needed <= MAX_PATH ? buffer : L"", needed);
}

// A path as the file system spells it in full (8.3 parts expanded), or the
// path itself when that cannot be had.
std::wstring LongPath(const std::wstring& path) {
  wchar_t buffer[MAX_PATH * 4] = {};
  const DWORD length =
      GetLongPathNameW(path.c_str(), buffer, static_cast<DWORD>(std::size(buffer)));
  if (length == 0 || length >= std::size(buffer)) return path;
  return std::wstring(buffer, length);
}

std::vector<DWORD> ProcessIds() {
  std::vector<DWORD> ids(1024);
  for (;;) {
    DWORD bytes = 0;
    if (!EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes))
      return {};
    // A full buffer may have left processes out: try again with more room.
    if (bytes < ids.size() * sizeof(DWORD) || ids.size() >= 65536) {
      ids.resize(bytes / sizeof(DWORD));
      return ids;
    }
    ids.resize(ids.size() * 2);
  }
}

std::vector<HMODULE> ModulesOf(HANDLE process) {
  std::vector<HMODULE> modules(1024);
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD bytes = 0;
    if (!EnumProcessModules(process, modules.data(),
                            static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &bytes))
      return {};
    if (bytes <= modules.size() * sizeof(HMODULE)) {
      modules.resize(bytes / sizeof(HMODULE));
      return modules;
    }
    modules.resize(bytes / sizeof(HMODULE) + 64);
  }
  return modules;
}

}  // namespace

std::wstring ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

HookHost::HookHost()
    : startup_event_(CreateEventW(nullptr, FALSE, FALSE, control::kHostStartupEvent)),
      shutdown_event_(CreateEventW(nullptr, FALSE, FALSE, control::kHostShutdownEvent)),
      relogin_event_(CreateEventW(nullptr, FALSE, FALSE, control::kHostNeedReloginEvent)) {}

HookHost::~HookHost() = default;

int HookHost::Run(const HostCommand& command) {
  eventlog::SetConfigFolder(eventlog::ResolveConfigFolder());
  if (command.mode == HostMode::StartControlProgram) {
    StartControlProgram();
    return 0;
  }
  if (command.mode != HostMode::Serve) return 0;

  {
    // The mapping this creates stays open to the end of the process and is
    // what keeps later copies out.
    SingleAppInstance instance(names::kHookHostInstanceId);
    if (instance.AppAlreadyExist()) return 0;
  }
  // Our own id is no parent: under Wine a dead parent's id is soon given to
  // a new process, this one included, and we would wait on ourselves.
  if (command.parent_id == 0 || command.parent_id == GetCurrentProcessId()) return 0;

  SetLastError(0);
  parent_.reset(OpenProcess(SYNCHRONIZE, FALSE, command.parent_id));
  const DWORD open_error = GetLastError();
  Log(L"OpenProcess", std::to_wstring(command.parent_id), static_cast<bool>(parent_), open_error);
  if (!parent_) return 0;
  // A parent that has already ended (its process object kept by a handle of
  // someone else) has nothing left for us to serve.
  if (WaitForSingleObject(parent_.get(), 0) == WAIT_OBJECT_0) return 0;

  control_window_ = reinterpret_cast<HWND>(command.window);
  if (control_window_ == nullptr) return 0;
  stage_library_ = command.stage_library;

  InitSharedNames(Deliverable::HookHost);
  service_message_ = Names().service;
  Serve();
  // Global atoms outlive the process unless given back.
  FinalizeSharedNames();
  return 0;
}

void HookHost::StartControlProgram() {
  const std::wstring folder = ProgramFolder();
  const std::wstring program = folder + kControlProgramFile;
  ShellExecuteW(nullptr, nullptr, program.c_str(), nullptr, folder.c_str(), SW_HIDE);
}

void HookHost::Serve() {
  // The clean-up runs however the serving ends, an exception included; the
  // control program learns from the shutdown event that the host is gone.
  struct CleanUp {
    HookHost& host;
    ~CleanUp() {
      host.UnloadEALibrary();
      SetEvent(host.shutdown_event_.get());
    }
  } clean_up{*this};

  if (!LoadEALibrary()) return;

  DWORD_PTR answer = 0;
  SendMessageTimeoutW(control_window_, service_message_,
                      static_cast<WPARAM>(control::ServiceCode::HostAnnounce),
                      static_cast<LPARAM>(GetCurrentThreadId()), SMTO_NORMAL,
                      control::kHostAnnounceTimeoutMs, &answer);
  SetEvent(startup_event_.get());

  const HANDLE handles[2] = {shutdown_event_.get(), parent_.get()};
  const DWORD wake_mask = WakeMaskFor(Os().flags.windows8_or_later);
  while (MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, wake_mask) == WAIT_OBJECT_0 + 2) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (FilterServiceMessage(message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
}

bool HookHost::LoadEALibrary() {
  const std::wstring source = ProgramFolder() + kLibraryFile;
  std::wstring path = source;
  if (stage_library_) {
    SystemStagingFiles files;
    const StagingResult staging = StageLibrary(source, StagedLibraryPath(), files);
    if (staging.relogin) {
      SetEvent(relogin_event_.get());
      return false;
    }
    path = staging.path;
  }
  if (IsModuleLoadedElsewhere(path)) {
    SetEvent(relogin_event_.get());
    return false;
  }
  SetLastError(0);
  library_ = LoadLibraryW(path.c_str());
  const DWORD error = GetLastError();
  Log(L"LoadLibrary", L"\"" + path + L"\"", library_ != nullptr, error);
  if (library_ == nullptr) return false;
  return CallEAProc("InstallMainHooks");
}

void HookHost::UnloadEALibrary() {
  if (mouse_hook_installed_ && CallEAProc("UninstallMouseHook")) mouse_hook_installed_ = false;
  if (library_ == nullptr) return;
  CallEAProc("UninstallMainHooks");
  SetLastError(0);
  if (!FreeLibrary(library_)) {
    const DWORD error = GetLastError();
    Log(L"FreeLibrary", HandleText(library_), false, error);
  }
  library_ = nullptr;
}

bool HookHost::CallEAProc(const char* export_name) {
  if (library_ == nullptr) return false;
  using Export = DWORD(WINAPI*)();
  const auto procedure = reinterpret_cast<Export>(GetProcAddress(library_, export_name));
  if (procedure == nullptr) return false;
  SetLastError(0);
  const bool result = procedure() != 0;
  const DWORD error = GetLastError();
  std::wstring name;
  for (const char* c = export_name; *c; ++c) name += static_cast<wchar_t>(*c);
  Log(L"CallEAProc", name, result, error);
  return result;
}

bool HookHost::FilterServiceMessage(const MSG& message) {
  if (message.hwnd != nullptr || message.message != service_message_ || service_message_ == 0)
    return false;
  const MouseHookDecision decision = DecideMouseHookRequest(message.wParam, mouse_hook_installed_);
  switch (decision.action) {
    case MouseHookAction::Install:
      mouse_hook_installed_ = CallEAProc("InstallMouseHook");
      break;
    case MouseHookAction::Uninstall:
      if (CallEAProc("UninstallMouseHook")) mouse_hook_installed_ = false;
      break;
    case MouseHookAction::None:
      break;
  }
  return decision.handled;
}

bool HookHost::IsModuleLoadedElsewhere(const std::wstring& path) {
  const std::wstring_view name = FileNamePart(path);
  const long own_session = SessionIdOf(GetCurrentProcessId());
  std::wstring long_path;  // looked up only when a same-named module turns up
  for (const DWORD id : ProcessIds()) {
    if (SessionIdOf(id) != own_session) continue;
    UniqueHandle process{OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id)};
    if (!process) continue;
    for (const HMODULE module : ModulesOf(process.get())) {
      wchar_t buffer[MAX_PATH * 4] = {};
      const DWORD length = GetModuleFileNameExW(process.get(), module, buffer,
                                                static_cast<DWORD>(std::size(buffer)));
      if (length == 0) continue;
      const std::wstring module_path(buffer, length);
      if (!SameFileName(FileNamePart(module_path), name)) continue;
      if (!IsOtherCopy(module_path, path)) continue;
      // The same file spelled with short (8.3) folder names is no other copy.
      if (long_path.empty()) long_path = LongPath(path);
      if (IsOtherCopy(LongPath(module_path), long_path)) return true;
    }
  }
  return false;
}

std::uint32_t HookHost::GetFileCrc32(const std::wstring& path) {
  UniqueHandle file{CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
  if (!file) return 0;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return 0;
  std::uint32_t state = kCrc32Init;
  long long left = size.QuadPart;
  static thread_local unsigned char block[4096];
  while (left > 0) {
    DWORD read = 0;
    const DWORD wanted = left < 4096 ? static_cast<DWORD>(left) : 4096;
    if (!ReadFile(file.get(), block, wanted, &read, nullptr) || read == 0) break;
    state = Crc32Update(state, block, read);
    left -= read;
  }
  return Crc32Final(state);
}

}  // namespace vm::hookhost
