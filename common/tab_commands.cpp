#include "common/tab_commands.h"

namespace vm {

TabCommandAction ResolveTabCommand(std::uint32_t command, int tab_count, int active_index) {
  using Kind = TabCommandAction::Kind;
  auto select = [tab_count](int index) {
    if (index < 0 || index >= tab_count) return TabCommandAction{};
    return TabCommandAction{Kind::Select, index};
  };

  switch (command) {
    case CMD_TAB_SELECTLAST:
      return select(tab_count - 1);
    case CMD_TAB_NEXT:
      if (tab_count <= 0) return {};
      // An active index outside the tabs counts as "before the first".
      if (active_index < 0 || active_index >= tab_count) return select(0);
      return select((active_index + 1) % tab_count);
    case CMD_TAB_PREVIOUS:
      if (tab_count <= 0) return {};
      if (active_index <= 0 || active_index >= tab_count) return select(tab_count - 1);
      return select(active_index - 1);
    case CMD_TAB_CLOSE:
      return tab_count > 0 ? TabCommandAction{Kind::CloseActive, -1} : TabCommandAction{};
    case CMD_TAB_NEW:
      return {Kind::NewTab, -1};
    case CMD_TAB_NEWCONTAINER:
      return {Kind::NewContainer, -1};
    case CMD_TAB_FOCUSWINDOW:
      return tab_count > 0 ? TabCommandAction{Kind::FocusWindow, -1} : TabCommandAction{};
    default:
      if (command >= CMD_TAB_SELECT1 && command <= CMD_TAB_SELECT8) {
        return select(static_cast<int>(command - CMD_TAB_SELECT1));
      }
      return {};
  }
}

}  // namespace vm
