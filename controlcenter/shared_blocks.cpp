#include "controlcenter/shared_blocks.h"

#include <cstring>

#include "common/control_program.h"

namespace vm::controlcenter {

bool ServiceBlockWriter::Create() {
  Close();
  UniqueHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          static_cast<DWORD>(control::kServiceBlockSize),
                                          control::kServiceBlockName));
  if (!mapping) return false;
  // A block that already exists is ours from an earlier run, still held by
  // a hooked process; one smaller than the layout cannot be mapped this far.
  UniqueMapView view(
      MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, control::kServiceBlockSize));
  if (!view) return false;
  std::memset(view.get(), 0, control::kServiceBlockSize);
  mapping_ = std::move(mapping);
  view_ = std::move(view);
  return true;
}

void ServiceBlockWriter::Write32(std::size_t offset, std::uint32_t value) {
  if (!view_) return;
  std::memcpy(static_cast<char*>(view_.get()) + offset, &value, sizeof(value));
}

void ServiceBlockWriter::SetProductFolder(std::wstring_view folder) {
  if (!view_) return;
  auto* out = static_cast<char*>(view_.get()) + control::kServiceProductFolderOffset;
  std::memset(out, 0, control::kProductFolderChars * 2);
  // At most 261 characters; shorter ones keep their terminator.
  const std::size_t n =
      folder.size() < control::kProductFolderChars ? folder.size() : control::kProductFolderChars;
  for (std::size_t i = 0; i < n; ++i) {
    const auto unit = static_cast<std::uint16_t>(folder[i]);
    std::memcpy(out + 2 * i, &unit, 2);
  }
}

void ServiceBlockWriter::SetEventLogEnabled(bool enabled) {
  Write32(control::kServiceEventLogOffset, enabled ? 1 : 0);
}

void ServiceBlockWriter::SetRuleTableId(std::uint32_t id) {
  Write32(control::kServiceRuleTableIdOffset, id);
}

void ServiceBlockWriter::Close() {
  view_.reset();
  mapping_.reset();
}

std::uint32_t RuleTablePublisher::Publish(const std::string& bytes) {
  if (bytes.size() < control::kRuleTableNodesOffset) return 0;
  if (next_id_ == 0) next_id_ = GetTickCount() | 1;
  for (int attempt = 0; attempt < 64; ++attempt) {
    const std::uint32_t id = next_id_++;
    if (id == 0) continue;  // 0 means "no table"
    UniqueHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            static_cast<DWORD>(bytes.size()),
                                            control::RuleTableBlockName(id).c_str()));
    if (!mapping) continue;
    if (GetLastError() == ERROR_ALREADY_EXISTS) continue;  // not ours: try the next id
    UniqueMapView view(MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, bytes.size()));
    if (!view) return 0;
    std::memcpy(view.get(), bytes.data(), bytes.size());
    previous_ = std::move(current_);
    current_.id = id;
    current_.mapping = std::move(mapping);
    return id;
  }
  return 0;
}

void RuleTablePublisher::Close() {
  current_ = {};
  previous_ = {};
}

}  // namespace vm::controlcenter
