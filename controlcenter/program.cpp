#include "controlcenter/program.h"

#include <shellapi.h>

#include <string>
#include <vector>

#include "common/event_log.h"
#include "common/single_instance.h"
#include "controlcenter/command_line.h"
#include "controlcenter/control_center.h"
#include "controlcenter/hook_host.h"
#include "controlcenter/log_queue.h"
#include "controlcenter/rules_file_source.h"

namespace vm::controlcenter {
namespace {

std::vector<std::wstring> Arguments(const wchar_t* command_line) {
  std::vector<std::wstring> out;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(command_line, &count);
  if (argv == nullptr) return out;
  for (int i = 1; i < count; ++i) out.emplace_back(argv[i]);
  LocalFree(argv);
  return out;
}

// A GUI program has a console only when its starter gave it standard
// handles; without one the text goes to a message box.
void Tell(const std::wstring& text, bool error) {
  HANDLE out = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string bytes(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) {
      WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), n,
                          nullptr, nullptr);
    }
    DWORD written = 0;
    if (WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) return;
  }
  MessageBoxW(nullptr, text.c_str(), L"Vellmark Foliant",
              MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH * 2] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  std::wstring s(path, n);
  const std::size_t slash = s.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : s.substr(0, slash + 1);
}

bool IsDirectory(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// True when another copy of the program serves. A copy that is still ending
// (its process gone or going, its guard not yet released) does not count: we
// wait for it, bounded, so that a restart right after an exit is no refusal.
bool AnotherCopyRuns() {
  const ULONGLONG deadline = GetTickCount64() + 3000;
  for (;;) {
    SingleAppInstance guard(kControlCenterInstanceId);
    if (!guard.AppAlreadyExist()) return false;
    const DWORD other = guard.StoredData().process_id;
    if (other == 0) return true;  // started at the same instant as we were: it wins
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, other);
    const bool ending = process == nullptr || WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    if (process != nullptr) CloseHandle(process);
    if (!ending || GetTickCount64() >= deadline) return true;
    Sleep(50);
  }
}

constexpr DWORD kLogDrainTimeoutMs = 2000;
constexpr wchar_t kRulesFileName[] = L"WindowRules.txt";

// The rules file given, else the one in the configuration folder. Without a
// configuration folder there is nowhere to keep one: the built-in Explorer
// rule alone.
std::unique_ptr<RuleTableSource> MakeRuleTableSource(const Options& options,
                                                     const std::wstring& config_folder,
                                                     const std::wstring& product_folder) {
  std::wstring path = options.rules_file;
  if (path.empty() && !config_folder.empty()) path = config_folder + kRulesFileName;
  const std::wstring command_line = ContainerCommandLine(product_folder);
  if (path.empty()) return std::make_unique<BuiltInRuleTableSource>(command_line);
  return std::make_unique<RulesFileTableSource>(
      path, command_line, [](const std::wstring& text, bool failure) {
        QueueEvent(L"ControlCenter", L"TRulesFile", L"ReadRules", text, !failure,
                   failure ? ERROR_INVALID_DATA : 0);
      });
}

}  // namespace

int RunControlCenter(const wchar_t* command_line) {
  try {
    const ParseResult parse = ParseCommandLine(Arguments(command_line));
    if (!parse.options) {
      Tell(L"VellmarkFoliantCenter: " + parse.error + L"\r\n\r\n" + UsageText(), true);
      return kExitBadCommandLine;
    }
    const Options& options = *parse.options;
    if (options.help) {
      Tell(UsageText(), false);
      return kExitOk;
    }

    if (AnotherCopyRuns()) return kExitAlreadyRunning;

    // The event log's folder: the one given, else what the registry names.
    std::wstring folder = options.config_folder;
    if (!folder.empty()) {
      if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
      if (!IsDirectory(folder)) CreateDirectoryW(folder.c_str(), nullptr);
      if (!IsDirectory(folder)) {
        Tell(L"VellmarkFoliantCenter: --config-folder: no such folder: " + folder, true);
        return kExitBadCommandLine;
      }
    } else {
      folder = eventlog::ResolveConfigFolder();
    }
    eventlog::SetConfigFolder(folder);

    StartLogWriter();
    int code = kExitStartFailed;
    {
      const std::wstring product_folder = OwnFolder();
      std::unique_ptr<HookHostControl> hook_host;
      if (options.no_hook_host) {
        hook_host = std::make_unique<DoNothingHookHost>();
      } else {
        hook_host = std::make_unique<LaunchedHookHost>();
      }
      ControlCenter center(options, MakeRuleTableSource(options, folder, product_folder),
                           std::move(hook_host));
      if (center.Start(GetModuleHandleW(nullptr), product_folder)) code = center.Run();
    }
    // The last lines get a moment; a file mutex held by a hung writer must
    // not keep the program from ending. The writer thread may then still be
    // inside the log code, so the process ends without running the static
    // destructors that code uses.
    if (!StopLogWriter(kLogDrainTimeoutMs)) ExitProcess(static_cast<UINT>(code));
    return code;
  } catch (...) {
    return kExitStartFailed;
  }
}

}  // namespace vm::controlcenter
