#include "container/message_loop.h"

#include "common/shared_names.h"

namespace vm::container {

bool ContainerAcceleratorFilter::TranslateKeyDown(MSG& message) noexcept {
  if (table_ == nullptr || message.hwnd == nullptr) return false;
  DWORD process_id = 0;
  GetWindowThreadProcessId(message.hwnd, &process_id);
  if (process_id != GetCurrentProcessId()) return false;
  HWND root = GetAncestor(message.hwnd, GA_ROOT);
  if (root == nullptr || !WindowHasClass(root, ClassAtom::ContainerWindow)) return false;
  return TranslateAcceleratorW(root, table_, &message) != 0;
}

int RunMessageLoop(KeyDownFilter* filter) {
  MSG message;
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) return 0;  // only with a bad window handle argument; never here
    if (message.message == WM_KEYDOWN && filter != nullptr && filter->TranslateKeyDown(message)) {
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace vm::container
