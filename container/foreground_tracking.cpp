#include "container/foreground_tracking.h"

#include "common/names.h"

namespace vm::container {

bool IsIgnoredForegroundWindow(std::wstring_view class_name, std::wstring_view title,
                               bool own_process) {
  if (own_process && class_name == L"TPUtilWindow") return true;
  for (std::wstring_view ignored :
       {std::wstring_view(L"#32771"), std::wstring_view(names::kTaskSwitcherClass),
        std::wstring_view(names::kMultitaskingViewClass),
        std::wstring_view(names::kSiblingTaskSwitcherClass),
        std::wstring_view(L"ForegroundStaging"), std::wstring_view(L"TaskListOverlayWnd"),
        std::wstring_view(L"TaskListThumbnailWnd")}) {
    if (class_name == ignored) return true;
  }
  return class_name == L"XamlExplorerHostIslandWindow" &&
         title.substr(0, 100) == std::wstring_view(L"Task Switching");
}

ForegroundPlan PlanForegroundChange(ForegroundMemory& memory, HWND window, DWORD thread,
                                    std::span<const HWND> containers, HWND container_to_keep_active,
                                    const TrackingAtoms& atoms, const WindowFacts& facts) {
  ForegroundPlan plan;
  const UINT atom = facts.ClassAtom(window);

  // A change the program made itself: until its own notice arrives, earlier
  // notices describe a foreground that is already gone. A window that died
  // before its notice came would hold the tracking for ever, so it is dropped.
  if (memory.last_foreground_window != nullptr && !facts.IsWindow(memory.last_foreground_window)) {
    memory.last_foreground_window = nullptr;
  }
  if (memory.last_foreground_window != nullptr) {
    if (window == memory.last_foreground_window) {
      plan.set_active = window;
      memory.last_foreground_window = nullptr;
    }
    return plan;
  }

  // A ribbon's tool window (a drop-down gallery, say) takes the foreground
  // briefly; the docked window it belongs to has not really lost it.
  if (atom != 0 && atom == atoms.net_ui_tool_window) {
    memory.last_ribbon_tool_thread = thread;
    return plan;
  }

  if (facts.IsOwnProcess(window) && atom != 0 && atom == atoms.tab_sheet) {
    window = facts.FirstChild(window);  // the docked window inside the sheet
  } else if (HWND root_owner = facts.RootOwner(window)) {
    window = root_owner;
  }
  plan.window = window;

  const HWND host = window != nullptr ? facts.HostingContainer(window) : nullptr;
  if (host != nullptr && memory.last_ribbon_tool_thread != 0 &&
      memory.last_ribbon_tool_thread == thread) {
    // Back from the ribbon's tool window to its own docked window.
    memory.last_ribbon_tool_thread = 0;
    return plan;
  }

  plan.stop = false;
  plan.actions.reserve(containers.size());
  for (HWND container : containers) {
    if (host != nullptr && container == host) {
      plan.actions.push_back(ContainerAction::WindowActivated);
    } else if (container == window) {
      plan.actions.push_back(ContainerAction::Activate);
    } else if (container_to_keep_active != nullptr && container == container_to_keep_active) {
      plan.actions.push_back(ContainerAction::None);
    } else {
      plan.actions.push_back(ContainerAction::Deactivate);
    }
  }
  plan.end_alt_tab = !atoms.IsTaskSwitcher(atom);
  return plan;
}

}  // namespace vm::container
