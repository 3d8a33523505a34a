#pragma once
// The GUI thread's message loop. Every WM_KEYDOWN is offered to a key filter
// before it is dispatched: the tab shortcuts typed on the program's own
// controls are translated against their container window there.
#include <windows.h>

namespace vm::container {

class KeyDownFilter {
 public:
  virtual ~KeyDownFilter() = default;
  // True when the key was translated; the message is then not dispatched.
  virtual bool TranslateKeyDown(MSG& message) noexcept = 0;
};

// Translates keys typed on a control of this process whose top-level window
// is a container window, with that container as the target of the
// accelerator table's WM_COMMAND. `table` may be null (nothing translated).
class ContainerAcceleratorFilter final : public KeyDownFilter {
 public:
  explicit ContainerAcceleratorFilter(HACCEL table) : table_(table) {}
  bool TranslateKeyDown(MSG& message) noexcept override;

 private:
  HACCEL table_;
};

// Runs until WM_QUIT; returns its exit code. `filter` may be null.
int RunMessageLoop(KeyDownFilter* filter);

}  // namespace vm::container
