#include "hooklib/messenger/event_line.h"

#include <windows.h>

#include <atomic>
#include <string>

#include "common/control_program.h"
#include "hooklib/messenger/messenger_interfaces.h"
#include "hooklib/messenger/messenger_protocol.h"

namespace vm::hooklib {
namespace {

std::atomic<bool> g_event_log_enabled{false};

constexpr wchar_t kEventLoggerReceiver[] = L"EventLogger";
static_assert(static_cast<int>(control::ClientCommand::EventLogLine) == 75);

}  // namespace

void SetLibraryEventLogEnabled(bool enabled) noexcept { g_event_log_enabled.store(enabled); }
bool LibraryEventLogEnabled() noexcept { return g_event_log_enabled.load(); }

bool SendEventLine(std::wstring_view text) noexcept {
  if (!g_event_log_enabled.load()) return false;
  try {
    const Microsoft::WRL::ComPtr<IMessengerClient> client = CurrentMessengerClient();
    if (!client) return false;
    const std::wstring line =
        messenger::FormatEventLine(GetCurrentProcessId(), GetCurrentThreadId(), text);
    client->SendMessage(kEventLoggerReceiver,
                        static_cast<int>(control::ClientCommand::EventLogLine),
                        std::wstring_view(line), 0, nullptr, framework::siMain);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace vm::hooklib
