#include "hooklib/app/mapping_view.h"

#include <cstring>

#include "common/control_program.h"

namespace vm::hooklib {

MappingView::~MappingView() {
  if (view_ != nullptr) UnmapViewOfFile(view_);
}

std::optional<std::uint32_t> MappingView::Read32(std::size_t offset) const noexcept {
  if (offset > size_ || size_ - offset < 4) return std::nullopt;
  std::uint32_t value = 0;
  std::memcpy(&value, view_ + offset, 4);
  return value;
}

std::shared_ptr<const MappingView> MappingView::OpenServiceBlock() noexcept {
  try {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, control::kServiceBlockName);
    if (mapping == nullptr) return nullptr;
    // A mapping smaller than the layout fails here rather than at a read.
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, control::kServiceBlockSize);
    if (view == nullptr) {
      CloseHandle(mapping);
      return nullptr;
    }
    return std::shared_ptr<const MappingView>(new MappingView(
        0, mapping, static_cast<const std::uint8_t*>(view), control::kServiceBlockSize));
  } catch (...) {
    return nullptr;
  }
}

std::shared_ptr<const MappingView> MappingView::OpenRuleTable(std::uint32_t id) noexcept {
  if (id == 0) return nullptr;
  try {
    HANDLE mapping =
        OpenFileMappingW(FILE_MAP_READ, FALSE, control::RuleTableBlockName(id).c_str());
    if (mapping == nullptr) return nullptr;
    std::uint32_t size = 0;
    if (void* head = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 4)) {
      std::memcpy(&size, head, 4);
      UnmapViewOfFile(head);
    }
    // A size the block does not have fails to map: the view is never larger
    // than the block, whatever the size word says later on.
    void* view = size >= 4 ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, size) : nullptr;
    if (view == nullptr) {
      CloseHandle(mapping);
      return nullptr;
    }
    return std::shared_ptr<const MappingView>(
        new MappingView(id, mapping, static_cast<const std::uint8_t*>(view), size));
  } catch (...) {
    return nullptr;
  }
}

}  // namespace vm::hooklib
