#pragma once
// One line per shared value, "name=value", in a fixed order: what the names
// probe prints and what the test compares against its own values.
#include <sstream>
#include <string>

#include "common/shared_names.h"

namespace vm::test {

inline std::string DumpNames(const SharedNames& n) {
  std::ostringstream out;
  auto put = [&out](const char* name, unsigned value) { out << name << '=' << value << '\n'; };
  put("handshake", n.handshake);
  put("service", n.service);
  put("win_event", n.win_event);
  put("delayed_command", n.delayed_command);
  put("taskbar_created", n.taskbar_created);
  put("hook_host_reserved", n.hook_host_reserved);
  put("tray_icon", n.tray_icon);
  put("container_ipc", n.container_ipc);
  put("console_patch", n.console_patch);
  put("intent_api_update", n.intent_api_update);
  put("shell_hook", n.shell_hook);
  put("console_process", n.console_process);
  put("reserved1", n.reserved1);
  put("reserved2", n.reserved2);
  put("reserved3", n.reserved3);
  put("reserved4", n.reserved4);
  put("noninvasive", n.noninvasive);
  put("screen_to_parent_rects", n.screen_to_parent_rects);
  put("no_rematch_on_caption", n.no_rematch_on_caption);
  put("rule_crc", n.rule_crc);
  put("rule_crc_valid", n.rule_crc_valid);
  put("block_visibility_state", n.block_visibility_state);
  put("move_to_monitor_with_mouse", n.move_to_monitor_with_mouse);
  put("stub_left", n.stub_left);
  put("rehooked", n.rehooked);
  put("console_patch_observer", n.console_patch_observer);
  for (std::size_t i = 0; i < n.class_atoms.size(); ++i) {
    out << "class_atom[" << i << "]=" << n.class_atoms[i] << '\n';
  }
  return out.str();
}

}  // namespace vm::test
