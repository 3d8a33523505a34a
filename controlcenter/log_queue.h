#pragma once
// The program's way into the event log. Lines are written on a thread of
// their own: the writer waits for the log's file mutex, which another
// process (the hook host, any writer of the file) holds while it writes, and
// a process that hangs holding it must not freeze our window thread, which
// serves every hooked process. Lines keep their order; each gets its time
// stamp when written, normally at once.
#include <windows.h>

#include <string>
#include <string_view>

namespace vm::controlcenter {

void StartLogWriter();
// Writes what is queued and ends the thread; false when that did not happen
// within `timeout_ms` (the file mutex is held): the rest is then lost.
bool StopLogWriter(DWORD timeout_ms);

// One line "timestamp;vfo;1.0.1;" + text; without a writer thread, at once.
void QueueEventLine(std::wstring text);
// An entry source;class;Succeeded|Failed;operation;detail[;error text],
// when the event log is on.
void QueueEvent(std::wstring_view source, std::wstring_view class_name, std::wstring_view operation,
                std::wstring_view detail, bool succeeded, DWORD error);

}  // namespace vm::controlcenter
