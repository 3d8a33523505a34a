#include "container/key_forwarding.h"

namespace vm::container {

bool KeyBelongsToContainer(const KeyEvent& key, bool windows7_or_later) {
  if ((key.flags & LLKHF_INJECTED) != 0) return false;
  if (key.message == WM_SYSKEYDOWN) return key.vk == VK_ESCAPE || key.vk == VK_SPACE;
  if (key.message == WM_KEYDOWN && windows7_or_later && key.windows_key_down) {
    switch (key.vk) {
      case VK_HOME:
      case VK_LEFT:
      case VK_UP:
      case VK_RIGHT:
      case VK_DOWN:
        return true;
    }
  }
  return false;
}

}  // namespace vm::container
