#pragma once
// Read-only views of the control program's two kinds of shared memory: the
// service block and a rule table block. Any process of the session may have
// made or may write these blocks, so a view is only as large as the mapping
// really is, and everything read through it is checked against that size.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "common/unique_handle.h"

namespace vm::hooklib {

class MappingView {
 public:
  // The service block ("..._ServiceMapping_8146"), 567 bytes; null when it
  // does not exist or is smaller.
  static std::shared_ptr<const MappingView> OpenServiceBlock() noexcept;
  // The rule table block of that id: its size word is read first and the
  // view is then mapped at that size; null when the block does not exist,
  // names a size of 0 or one larger than the block.
  static std::shared_ptr<const MappingView> OpenRuleTable(std::uint32_t id) noexcept;

  ~MappingView();
  MappingView(const MappingView&) = delete;
  MappingView& operator=(const MappingView&) = delete;

  std::uint32_t Id() const noexcept { return id_; }
  // The whole view (a rule table from its size word on).
  std::span<const std::uint8_t> Bytes() const noexcept { return {view_, size_}; }
  // A 32-bit field at an offset (fields sit at odd offsets); empty when it
  // does not lie inside the view.
  std::optional<std::uint32_t> Read32(std::size_t offset) const noexcept;

 private:
  MappingView(std::uint32_t id, HANDLE mapping, const std::uint8_t* view, std::size_t size)
      : id_(id), mapping_(mapping), view_(view), size_(size) {}
  std::uint32_t id_;
  UniqueHandle mapping_;
  const std::uint8_t* view_;
  std::size_t size_;
};

}  // namespace vm::hooklib
