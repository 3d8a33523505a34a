#pragma once
// The control program's command line. A user starts it without arguments;
// the switches exist for scripts and tests. Plain code, no windows.h.
#include <optional>
#include <string>
#include <vector>

namespace vm::controlcenter {

struct Options {
  bool help = false;           // --help, -h, /?: print the usage text and end
  bool no_tray = false;        // --no-tray: no notification-area icon
  bool log_clients = false;    // --log-clients: every protocol exchange goes to the event log
  bool no_hook_host = false;   // --no-hook-host: serve without starting the hook host
  bool no_staging = false;     // --no-staging: the host loads the library from our folder
  std::wstring config_folder;  // --config-folder <path>: the event log's folder, instead of
                               // the one the registry names
  std::wstring rules_file;     // --rules-file <path>: the window rules file instead of the
                               // one in the configuration folder
};

struct ParseResult {
  std::optional<Options> options;  // empty when the command line is refused
  std::wstring error;              // why it was refused
};

// `arguments` without the program name.
ParseResult ParseCommandLine(const std::vector<std::wstring>& arguments);

// The usage text, lines ending in CR LF.
std::wstring UsageText();

}  // namespace vm::controlcenter
