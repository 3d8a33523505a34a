#pragma once
// The event log "CenterEvents.log" in the product's configuration folder,
// shared by every process that writes it (the hook host, our control
// program) under one named file mutex. Nothing here may disturb the caller:
// every failure is swallowed and at worst loses the line.
#include <windows.h>

#include <string>
#include <string_view>

namespace vm::eventlog {

// Where the configuration lives: "ConfigFilesLocation" under the product key
// (HKCU, then HKLM; "3" when missing) picks the per-user folder (created when
// missing), the all-users folder ("2", opened to everyone), the alternative
// folder ("1") or an existing folder named by the value. The result ends in
// a backslash, or is empty when no folder could be had.
std::wstring ResolveConfigFolder();

// The folder "1" stands for. Our hook host never knows one (empty); a
// control program that has its own may set it before resolving.
void SetAlternativeConfigFolder(std::wstring folder);

// The folder the writer uses, fixed by the process once it has resolved it.
// Empty sends lines to the temporary folder's start-up error file.
void SetConfigFolder(std::wstring folder);
std::wstring ConfigFolder();

// The file a line goes to for a given configuration folder.
std::wstring LogFilePathFor(std::wstring_view config_folder);

// "Enabled" under the EventLogger key: only an existing integer 0 turns the
// log off.
bool IsEventLogEnabled();

// Appends "[timestamp;]vfo;1.0.1;" + text + CR LF under the file mutex.
void WriteEventLine(std::wstring_view text, bool with_timestamp = true) noexcept;

// "$" + the code as 8 upper-case hex digits + "-" + the system's text for it
// without trailing spaces, control characters or full stops.
std::wstring ErrorText(DWORD error);

// The fields joined with ";": source;class;Succeeded|Failed;operation;detail
// and, for a failure, the error text of `error`.
std::wstring EventEntry(std::wstring_view source, std::wstring_view class_name,
                        std::wstring_view operation, std::wstring_view detail, bool succeeded,
                        DWORD error);

// Builds and writes one entry when the log is on. The error of a failure is
// the one the caller captured right after the failing call: reading the log
// switch from the registry changes GetLastError.
void LogEvent(std::wstring_view source, std::wstring_view class_name, std::wstring_view operation,
              std::wstring_view detail, bool succeeded, DWORD error) noexcept;
// The same, with the calling thread's last error taken first thing.
void LogEvent(std::wstring_view source, std::wstring_view class_name, std::wstring_view operation,
              std::wstring_view detail, bool succeeded) noexcept;

}  // namespace vm::eventlog
