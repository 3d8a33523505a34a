#include "controlcenter/command_line.h"

namespace vm::controlcenter {

ParseResult ParseCommandLine(const std::vector<std::wstring>& arguments) {
  ParseResult result;
  Options options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& a = arguments[i];
    // A switch that takes a path must be followed by a non-empty one.
    auto take_path = [&](std::wstring& into) {
      if (i + 1 >= arguments.size() || arguments[i + 1].empty()) {
        result.error = a + L" needs a path";
        return false;
      }
      into = arguments[++i];
      return true;
    };
    if (a == L"--help" || a == L"-h" || a == L"/?") {
      options.help = true;
    } else if (a == L"--no-tray") {
      options.no_tray = true;
    } else if (a == L"--log-clients") {
      options.log_clients = true;
    } else if (a == L"--no-hook-host") {
      options.no_hook_host = true;
    } else if (a == L"--no-staging") {
      options.no_staging = true;
    } else if (a == L"--config-folder") {
      if (!take_path(options.config_folder)) return result;
    } else if (a == L"--rules-file") {
      if (!take_path(options.rules_file)) return result;
    } else {
      result.error = L"unknown argument: " + a;
      return result;
    }
  }
  result.options = options;
  return result;
}

std::wstring UsageText() {
  return L"VellmarkFoliantCenter.exe [switches]\r\n"
         L"Control program of Vellmark Foliant: publishes the window rules, serves the\r\n"
         L"hook library's messenger clients and keeps the event log CenterEvents.log.\r\n"
         L"Stop it with Exit in its notification-area menu, or post WM_CLOSE to its\r\n"
         L"window of class VellmarkTools_ControlCenterHandlerWindow.\r\n"
         L"\r\n"
         L"  --no-tray               no notification-area icon\r\n"
         L"  --config-folder <path>  write the event log into <path> instead of the\r\n"
         L"                          folder ConfigFilesLocation names\r\n"
         L"  --log-clients           log every exchange with the messenger clients\r\n"
         L"  --no-hook-host          do not start VellmarkFoliantCenter64.exe (no hooks)\r\n"
         L"  --no-staging            the hook host loads vfoemb64.dll from this folder\r\n"
         L"                          instead of a copy in the temporary folder\r\n"
         L"  --rules-file <path>     the window rules file (default: WindowRules.txt in the\r\n"
         L"                          configuration folder, made when missing)\r\n"
         L"  --help                  this text\r\n"
         L"\r\n"
         L"Exit codes: 0 ended normally, 1 another copy already runs,\r\n"
         L"2 command line refused, 3 start-up failed.\r\n";
}

}  // namespace vm::controlcenter
