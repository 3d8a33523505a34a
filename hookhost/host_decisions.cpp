#include "hookhost/host_decisions.h"

#include <windows.h>

#include <cwctype>

namespace vm::hookhost {

std::uint32_t ParseDecimal32(std::wstring_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) {
    negative = text[i] == L'-';
    ++i;
  }
  if (i == text.size()) return 0;
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c < L'0' || c > L'9') return 0;
    value = value * 10 + static_cast<std::uint64_t>(c - L'0');
    if (value > 0xFFFFFFFFull) return 0;
  }
  if (negative) {
    if (value > 0x80000000ull) return 0;
    return static_cast<std::uint32_t>(0u - static_cast<std::uint32_t>(value));
  }
  return static_cast<std::uint32_t>(value);
}

HostCommand ParseHostCommand(std::span<const std::wstring_view> arguments) {
  HostCommand command;
  if (arguments.empty()) {
    command.mode = HostMode::StartControlProgram;
    return command;
  }
  if (arguments.size() != 3) return command;
  command.mode = HostMode::Serve;
  command.parent_id = ParseDecimal32(arguments[0]);
  // A window handle has 32 significant bits; the upper half copies the sign.
  command.window =
      static_cast<std::intptr_t>(static_cast<std::int32_t>(ParseDecimal32(arguments[1])));
  command.stage_library = arguments[2] == L"0";
  return command;
}

StagingResult StageLibrary(const std::wstring& source, const std::wstring& staged,
                           StagingFiles& files) {
  if (staged.empty()) return {source, false};
  if (files.Exists(staged) && files.Crc32Of(staged) != files.Crc32Of(source)) {
    if (!files.Delete(staged)) return {std::wstring(), true};
  }
  if (files.Exists(staged)) return {staged, false};
  if (files.Copy(source, staged)) {
    files.MakeNormal(staged);
    return {staged, false};
  }
  return {source, false};
}

std::wstring StagedPathFromExpansion(std::wstring_view expanded, std::size_t needed_chars) {
  // needed_chars counts the terminating zero, as ExpandEnvironmentStringsW does.
  if (needed_chars == 0 || needed_chars > MAX_PATH || expanded.empty()) return {};
  if (expanded.find(L'%') != std::wstring_view::npos) return {};
  return std::wstring(expanded);
}

std::wstring_view FileNamePart(std::wstring_view path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

bool SameFileName(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool IsOtherCopy(std::wstring_view module_path, std::wstring_view path) {
  return SameFileName(FileNamePart(module_path), FileNamePart(path)) &&
         !SameFileName(module_path, path);
}

MouseHookDecision DecideMouseHookRequest(std::uintptr_t code, bool installed) {
  if (code == kInstallMouseHookCode && !installed) return {MouseHookAction::Install, true};
  if (code == kUninstallMouseHookCode && installed) return {MouseHookAction::Uninstall, true};
  return {};
}

}  // namespace vm::hookhost
