#pragma once
// Which container receives a dock request. Plain code: the main window
// collects the facts (its containers, the one named for the next dock, the
// first of its containers in the desktop's Z order) and asks here.
#include <windows.h>

#include <cstddef>
#include <span>

namespace vm::container {

// Index into `containers` (creation order; must not be empty):
// 1. the container named for the next dock, when it is still in the list;
// 2. otherwise the topmost container, when it is in the list;
// 3. otherwise the first container.
std::size_t ChooseContainer(std::span<const HWND> containers, HWND named_for_next_dock,
                            HWND topmost_container);

}  // namespace vm::container
