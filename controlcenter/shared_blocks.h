#pragma once
// The two kinds of shared memory the control program publishes for the hook
// library: the service block (product folder, event-log switch, id of the
// current rule table) and the rule table blocks, one per id.
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "common/unique_handle.h"

namespace vm::controlcenter {

class ServiceBlockWriter {
 public:
  // Creates (or takes over) the named block. A block left by an earlier run
  // that a hooked process still holds open is reused and overwritten; one
  // too small to hold the layout (made by someone else) is refused.
  bool Create();
  bool valid() const { return static_cast<bool>(view_); }
  void SetProductFolder(std::wstring_view folder);
  void SetEventLogEnabled(bool enabled);
  void SetRuleTableId(std::uint32_t id);
  void Close();

 private:
  void Write32(std::size_t offset, std::uint32_t value);
  UniqueHandle mapping_;
  UniqueMapView view_;
};

class RuleTablePublisher {
 public:
  // Publishes `bytes` (size word first) under a fresh id and returns it, or
  // 0 on failure. An id whose block still exists (held by a hooked process
  // since an earlier run, or made by someone else) is skipped. The block
  // published before stays open one generation more, so a client that read
  // the old id a moment ago still finds its table.
  std::uint32_t Publish(const std::string& bytes);
  std::uint32_t current_id() const { return current_.id; }
  void Close();

 private:
  struct Block {
    std::uint32_t id = 0;
    UniqueHandle mapping;
  };
  Block current_;
  Block previous_;
  std::uint32_t next_id_ = 0;
};

}  // namespace vm::controlcenter
