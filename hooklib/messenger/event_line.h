#pragma once
// The hook library's event lines: the library writes no log file of its
// own; while the control program has its event log switched on, each line
// goes to it through the messenger client, to the receiver "EventLogger"
// with command code 75, as process id and thread id (8 upper-case
// hexadecimal digits each) and the text, joined by ";".
#include <string_view>

namespace vm::hooklib {

// The process-wide event-log flag, off until the rule dispatcher sets it
// from the control program's service block.
void SetLibraryEventLogEnabled(bool enabled) noexcept;
bool LibraryEventLogEnabled() noexcept;

// Sends one line when the flag is set and a messenger client exists; true
// when it was handed to the client (which drops it while it is not active).
bool SendEventLine(std::wstring_view text) noexcept;

}  // namespace vm::hooklib
