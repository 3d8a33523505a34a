#pragma once
// The regular-expression engine of caption criteria: PCRE's 8-bit API in
// "pcre64.dll", which the control program installs in the product folder.
// Loaded on first use, its eight entry points resolved by name, unloaded by
// Done. One critical section serialises loading, unloading and every
// evaluation, so the dispatcher's threads can share the one instance.
//
// Patterns are compiled with no options and PCRE's built-in "C" character
// tables (a null table pointer): building tables for another locale would go
// through the C runtime's process-wide locale, which is the host's (explorer
// among them) and must never change under it. Compiled patterns are kept
// per table, so a caption is checked without compiling again; a pattern
// that does not compile is remembered as one that never holds.
#include <windows.h>

#include <map>
#include <string>
#include <string_view>

#include "hooklib/app/rule_table.h"

namespace vm::hooklib {

class PatternLibrary final : public RegexEngine {
 public:
  PatternLibrary() noexcept;
  ~PatternLibrary();
  PatternLibrary(const PatternLibrary&) = delete;
  PatternLibrary& operator=(const PatternLibrary&) = delete;

  // The folder "pcre64.dll" is loaded from; empty: none known, and regular
  // expressions never hold. A new folder unloads what was loaded from the
  // old one.
  void SetProductFolder(std::wstring_view folder) noexcept;
  // The product folder from a service block view (offset 0, at most 261
  // UTF-16 characters, zero-terminated when shorter); `size` bytes readable.
  void SetProductFolderFromServiceBlock(const void* block, std::size_t size) noexcept;
  std::wstring ProductFolder() const;

  // Unloads the library and forgets its entry points, the compiled patterns
  // and the folder.
  void Done() noexcept;

  // True when `pattern` compiles and matches somewhere in `subject`.
  bool Matches(const void* table, std::string_view pattern,
               std::string_view subject) noexcept override;

  bool Loaded() const noexcept;
  // Compiled patterns kept for the current table (tests).
  std::size_t CachedPatterns() const noexcept;

 private:
  struct Api;
  struct Compiled {
    void* code = nullptr;   // pcre*
    void* study = nullptr;  // pcre_extra* from pcre_study, or null
  };

  bool EnsureLoaded();  // under lock_
  void Unload();        // under lock_
  void ForgetPatterns();
  const Compiled* Compile(const std::string& pattern);

  mutable CRITICAL_SECTION lock_;
  std::wstring folder_;
  HMODULE module_ = nullptr;
  bool load_failed_ = false;  // not retried until the folder changes or Done
  Api* api_ = nullptr;
  const void* table_ = nullptr;
  std::map<std::string, Compiled, std::less<>> cache_;
};

// The process's instance, used by the rule dispatcher.
PatternLibrary& ProcessPatternLibrary() noexcept;

}  // namespace vm::hooklib
