#include "controlcenter/control_center.h"

#include "common/control_program.h"
#include "common/event_log.h"
#include "controlcenter/log_queue.h"
#include "common/names.h"
#include "controlcenter/handler_commands.h"
#include "controlcenter/program.h"

namespace vm::controlcenter {
namespace {

constexpr wchar_t kSource[] = L"ControlCenter";
constexpr wchar_t kClass[] = L"TControlCenter";
constexpr UINT_PTR kRulesCheckTimer = 1;
constexpr UINT kRulesCheckMs = 1000;

void Log(const wchar_t* operation, const std::wstring& detail, bool succeeded = true,
         DWORD error = 0) {
  QueueEvent(kSource, kClass, operation, detail, succeeded, error);
}

}  // namespace

ControlCenter::ControlCenter(Options options, std::unique_ptr<RuleTableSource> rules,
                             std::unique_ptr<HookHostControl> hook_host)
    : options_(std::move(options)),
      rules_(std::move(rules)),
      hook_host_(std::move(hook_host)),
      server_(options_.log_clients) {}

ControlCenter::~ControlCenter() {
  Shutdown(L"end");
  for (HWND w : {main_handler_, shell_handler_}) {
    if (w != nullptr) {
      SetWindowLongPtrW(w, GWLP_USERDATA, 0);
      DestroyWindow(w);
    }
  }
}

bool ControlCenter::Start(HINSTANCE instance, const std::wstring& product_folder) {
  service_message_ = RegisterWindowMessageW(names::kServiceMessage);
  if (service_message_ == 0) service_message_ = names::kServiceMessageFallback;
  tray_message_ = RegisterWindowMessageW(names::kTrayIconMessage);
  taskbar_created_ = RegisterWindowMessageW(names::kTaskbarCreatedMessage);

  // The blocks come first: a client that registers reads them at once.
  if (!service_block_.Create()) {
    Log(L"CreateServiceBlock", names::kServiceMapping, false, GetLastError());
    return false;
  }
  service_block_.SetProductFolder(product_folder);
  service_block_.SetEventLogEnabled(eventlog::IsEventLogEnabled());
  if (!PublishRuleTable()) return false;

  if (!server_.Create(instance)) {
    Log(L"CreateMessengerServer", names::kMessengerServerClass, false, GetLastError());
    return false;
  }
  if (!CreateHandlerWindows(instance)) {
    Log(L"CreateHandlerWindow", names::kControlCenterHandlerClass, false, GetLastError());
    return false;
  }
  if (!options_.no_tray && !tray_.Add(main_handler_, tray_message_)) {
    // Without a notification area the program still serves; it is stopped
    // with WM_CLOSE then.
    Log(L"AddTrayIcon", L"-", false, GetLastError());
  }
  Log(L"Start", L"product folder \"" + product_folder + L"\", rule table " +
                    control::Hex8(rule_tables_.current_id()));
  // Edits of the rules file apply without a restart.
  SetTimer(main_handler_, kRulesCheckTimer, kRulesCheckMs, nullptr);
  // The host gets the window that takes the service message.
  if (!hook_host_->Start(GetCurrentProcessId(), main_handler_, !options_.no_staging, *this)) {
    Log(L"StartHookHost", names::kHookHostExe, false, GetLastError());
  }
  server_.AnnounceToExistingClients();
  return true;
}

bool ControlCenter::CreateHandlerWindows(HINSTANCE instance) {
  for (const wchar_t* class_name :
       {names::kControlCenterHandlerClass, names::kShellControlCenterHandlerClass}) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = &ControlCenter::HandlerProc;
    wc.hInstance = instance;
    wc.lpszClassName = class_name;
    RegisterClassExW(&wc);
    // Top-level and never shown: the hook library finds them with
    // FindWindowA(class, "Vellmark Foliant"), which sees no message-only window.
    HWND w = CreateWindowExW(WS_EX_TOOLWINDOW, class_name, names::kControlCenterHandlerTitle,
                             WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
    if (w == nullptr) return false;
    SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    (class_name == names::kControlCenterHandlerClass ? main_handler_ : shell_handler_) = w;
  }
  // The hook host and the hooked processes reach the main handler from any
  // integrity level.
  ChangeWindowMessageFilterEx(main_handler_, service_message_, MSGFLT_ALLOW, nullptr);
  return true;
}

bool ControlCenter::PublishRuleTable() {
  const std::uint32_t id = rule_tables_.Publish(rules_->TableBytes(tabs_on_));
  if (id == 0) {
    Log(L"PublishRuleTable", L"-", false, GetLastError());
    return false;
  }
  service_block_.SetRuleTableId(id);
  Log(L"PublishRuleTable", control::Hex8(id) + (tabs_on_ ? L", tabs on" : L", tabs off"));
  return true;
}

void ControlCenter::SetTabsOn(bool on) {
  tabs_on_ = on;
  if (!PublishRuleTable()) {
    tabs_on_ = !on;  // the old table stays in force
    return;
  }
  // First the new table, then the switch itself: the dispatcher loads the
  // table on 2 and re-checks Explorer's windows on 4.
  const std::vector<MessengerServer::Command> commands = {
      {static_cast<std::int32_t>(control::PluginCommand::RuleTableChanged), {}},
      {static_cast<std::int32_t>(control::PluginCommand::OptionChanged),
       control::kOptionFoliantEnabled},
  };
  const std::size_t delivered = server_.SendToAllClients(commands);
  Log(L"TabsOn", std::wstring(on ? L"on" : L"off") + L", told " + std::to_wstring(delivered) +
                     L" of " + std::to_wstring(server_.client_count()) + L" clients");
}

void ControlCenter::RulesMayHaveChanged() {
  if (!rules_->Changed()) return;
  if (!PublishRuleTable()) return;  // the old table stays in force
  const std::size_t delivered = server_.SendToAllClients(
      {{static_cast<std::int32_t>(control::PluginCommand::RuleTableChanged), {}}});
  Log(L"RulesChanged", L"told " + std::to_wstring(delivered) + L" of " +
                           std::to_wstring(server_.client_count()) + L" clients");
}

void ControlCenter::SendPluginCommand(WPARAM code, LPARAM option) {
  using control::PluginCommand;
  MessengerServer::Command command;
  command.code = static_cast<std::int32_t>(code);
  switch (static_cast<PluginCommand>(code)) {
    case PluginCommand::RuleTableChanged:
      if (!PublishRuleTable()) return;
      break;
    case PluginCommand::OptionChanged:
      if (option == 1) {
        service_block_.SetEventLogEnabled(eventlog::IsEventLogEnabled());
        command.data = control::kOptionEventLogEnabled;
      } else {
        command.data = control::kOptionFoliantEnabled;
      }
      break;
    case PluginCommand::MainRegistered:
      command.client_window_as_data = true;
      break;
    case PluginCommand::MainUnregistered:
    case PluginCommand::LibraryUnloading:
      break;
    default:
      Log(L"SendPluginCommand", L"no such command: " + std::to_wstring(code), false,
          ERROR_INVALID_PARAMETER);
      return;
  }
  const std::size_t delivered = server_.SendToAllClients({command});
  Log(L"SendPluginCommand", L"command " + std::to_wstring(code) + L", told " +
                                std::to_wstring(delivered) + L" of " +
                                std::to_wstring(server_.client_count()) + L" clients");
}

void ControlCenter::Shutdown(const wchar_t* reason) {
  if (shut_down_) return;
  shut_down_ = true;
  if (main_handler_ != nullptr) KillTimer(main_handler_, kRulesCheckTimer);
  hook_host_->Stop();
  server_.UnregisterAllClients();
  tray_.Remove();
  rule_tables_.Close();
  service_block_.Close();
  server_.Destroy();
  Log(L"Exit", reason);
}

void ControlCenter::OnReloginNeeded() {
  Log(L"HookHost", L"the hook library can be put in place only after the next logon", false,
      ERROR_SHARING_VIOLATION);
}

int ControlCenter::Run() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return kExitOk;
}

LRESULT CALLBACK ControlCenter::HandlerProc(HWND window, UINT message, WPARAM wparam,
                                            LPARAM lparam) {
  try {
    auto* self = reinterpret_cast<ControlCenter*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && window == self->main_handler_) {
      return self->OnMainMessage(window, message, wparam, lparam);
    }
    // The shell handler only has to exist; closing it is not a way to stop us.
    if (message == WM_CLOSE) return 0;
  } catch (...) {
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT ControlCenter::OnMainMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == service_message_) {
    if (wparam == static_cast<WPARAM>(control::ServiceCode::HostAnnounce)) {
      hook_host_->OnHostAnnounced(static_cast<DWORD>(lparam));
      Log(L"HookHostAnnounced", L"thread " + std::to_wstring(static_cast<DWORD>(lparam)));
      return 1;
    }
    return 0;
  }
  if (message == tray_message_ && tray_message_ != 0) {
    tray_.OnCallback(lparam, tabs_on_);
    return 0;
  }
  if (message == taskbar_created_ && taskbar_created_ != 0) {
    if (!options_.no_tray) tray_.Readd();
    return 0;
  }
  switch (message) {
    case WM_TIMER:
      if (wparam == kRulesCheckTimer && !shut_down_) RulesMayHaveChanged();
      return 0;
    case kMessageSendPluginCommand:
      if (!shut_down_) SendPluginCommand(wparam, lparam);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wparam) == kCommandTabsOn) {
        if (!shut_down_) SetTabsOn(!tabs_on_);
      } else if (LOWORD(wparam) == kCommandExit) {
        Shutdown(L"Exit");
        PostQuitMessage(0);
      }
      return 0;
    case WM_CLOSE:
      Shutdown(L"WM_CLOSE");
      PostQuitMessage(0);
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      // The session ends: the process may be gone right after this returns.
      if (wparam) {
        Shutdown(L"end of session");
        PostQuitMessage(0);
      }
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace vm::controlcenter
