#include "container/container_choice.h"

#include <algorithm>

namespace vm::container {

std::size_t ChooseContainer(std::span<const HWND> containers, HWND named_for_next_dock,
                            HWND topmost_container) {
  auto index_of = [&](HWND window) -> std::size_t {
    if (window == nullptr) return containers.size();
    return static_cast<std::size_t>(std::find(containers.begin(), containers.end(), window) -
                                    containers.begin());
  };
  // A named container that has gone meanwhile falls back to the Z order
  // rather than to nothing: the request must still land somewhere.
  if (const std::size_t named = index_of(named_for_next_dock); named < containers.size()) {
    return named;
  }
  if (const std::size_t top = index_of(topmost_container); top < containers.size()) return top;
  return 0;
}

}  // namespace vm::container
