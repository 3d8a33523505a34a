#pragma once
// The running control program: its blocks, its messenger servers, its two
// handler windows and its notification-area icon. One object, one GUI thread.
#include <windows.h>

#include <memory>
#include <string>

#include "controlcenter/command_line.h"
#include "controlcenter/hook_host_control.h"
#include "controlcenter/messenger_server.h"
#include "controlcenter/rule_table_source.h"
#include "controlcenter/shared_blocks.h"
#include "controlcenter/tray_icon.h"

namespace vm::controlcenter {

class ControlCenter final : public HookHostEvents {
 public:
  ControlCenter(Options options, std::unique_ptr<RuleTableSource> rules,
                std::unique_ptr<HookHostControl> hook_host);
  ~ControlCenter() override;

  // Publishes the blocks, creates the windows, starts the hook host. False
  // (with the reason logged) when the program cannot serve.
  bool Start(HINSTANCE instance, const std::wstring& product_folder);
  // Runs until Exit, WM_CLOSE or the end of the session.
  int Run();

  void OnReloginNeeded() override;

 private:
  static LRESULT CALLBACK HandlerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT OnMainMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  bool CreateHandlerWindows(HINSTANCE instance);
  bool PublishRuleTable();
  void SetTabsOn(bool on);
  // Publishes the table again and tells every client when its source changed.
  void RulesMayHaveChanged();
  void SendPluginCommand(WPARAM code, LPARAM option);
  // Unregisters every client and closes the blocks; safe to call twice.
  void Shutdown(const wchar_t* reason);

  Options options_;
  std::unique_ptr<RuleTableSource> rules_;
  std::unique_ptr<HookHostControl> hook_host_;
  MessengerServer server_;
  ServiceBlockWriter service_block_;
  RuleTablePublisher rule_tables_;
  TrayIcon tray_;
  HWND main_handler_ = nullptr;
  HWND shell_handler_ = nullptr;
  UINT service_message_ = 0;
  UINT tray_message_ = 0;
  UINT taskbar_created_ = 0;
  bool tabs_on_ = true;
  bool shut_down_ = false;
};

}  // namespace vm::controlcenter
