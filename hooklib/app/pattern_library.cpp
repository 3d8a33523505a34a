#include "hooklib/app/pattern_library.h"

#include <pcre.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <type_traits>

#include "common/control_program.h"
#include "common/critical_section_lock.h"

namespace vm::hooklib {

namespace {

using Lock = CriticalSectionLock;

// A hostile pattern must not hold the window's thread nor run its stack out:
// PCRE recurses on the machine stack while it backtracks.
constexpr unsigned long kMatchLimit = 200000;
constexpr unsigned long kRecursionLimit = 1000;
// Patterns kept per table; a table with more distinct regular expressions
// than this compiles the rest again each time rather than grow without end.
constexpr std::size_t kMaxCachedPatterns = 512;
// Longer subjects are cut: captions are a line of text.
constexpr std::size_t kMaxSubject = 1 << 16;

}  // namespace

struct PatternLibrary::Api {
  int (*setlocale)(const char*) = nullptr;
  void (*free_ex)(void*) = nullptr;
  decltype(&pcre_compile) compile = nullptr;
  decltype(&pcre_exec) exec = nullptr;
  decltype(&pcre_dfa_exec) dfa_exec = nullptr;
  decltype(&pcre_study) study = nullptr;
  decltype(&pcre_fullinfo) fullinfo = nullptr;
  decltype(&pcre_maketables) maketables = nullptr;
};

PatternLibrary::PatternLibrary() noexcept { InitializeCriticalSection(&lock_); }

PatternLibrary::~PatternLibrary() {
  Done();
  DeleteCriticalSection(&lock_);
}

void PatternLibrary::SetProductFolder(std::wstring_view folder) noexcept {
  Lock lock(lock_);
  try {
    std::wstring next(folder);
    if (!next.empty() && next.back() != L'\\' && next.back() != L'/') next += L'\\';
    if (next == folder_) return;
    Unload();
    folder_ = std::move(next);
  } catch (...) {
    Unload();
    folder_.clear();
  }
}

void PatternLibrary::SetProductFolderFromServiceBlock(const void* block,
                                                      std::size_t size) noexcept {
  if (block == nullptr) return SetProductFolder({});
  const std::size_t chars = std::min(control::kProductFolderChars, size / sizeof(wchar_t));
  wchar_t buffer[control::kProductFolderChars];
  std::memcpy(buffer, block, chars * sizeof(wchar_t));
  std::size_t n = 0;
  while (n < chars && buffer[n] != L'\0') ++n;
  SetProductFolder(std::wstring_view(buffer, n));
}

std::wstring PatternLibrary::ProductFolder() const {
  Lock lock(lock_);
  return folder_;
}

void PatternLibrary::Done() noexcept {
  Lock lock(lock_);
  Unload();
  folder_.clear();
}

bool PatternLibrary::Loaded() const noexcept {
  Lock lock(lock_);
  return module_ != nullptr;
}

std::size_t PatternLibrary::CachedPatterns() const noexcept {
  Lock lock(lock_);
  return cache_.size();
}

bool PatternLibrary::EnsureLoaded() {
  if (module_ != nullptr) return true;
  if (load_failed_ || folder_.empty()) return false;
  const std::wstring path = folder_ + L"pcre64.dll";
  HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) {
    load_failed_ = true;
    return false;
  }
  auto api = new (std::nothrow) Api;
  if (api == nullptr) {
    FreeLibrary(module);
    return false;
  }
  auto resolve = [&](const char* name, auto& out) {
    out = reinterpret_cast<std::remove_reference_t<decltype(out)>>(
        reinterpret_cast<void*>(GetProcAddress(module, name)));
    return out != nullptr;
  };
  const bool all = resolve("pcre_setlocale", api->setlocale) &&
                   resolve("pcre_free_ex", api->free_ex) && resolve("pcre_compile", api->compile) &&
                   resolve("pcre_exec", api->exec) && resolve("pcre_dfa_exec", api->dfa_exec) &&
                   resolve("pcre_study", api->study) && resolve("pcre_fullinfo", api->fullinfo) &&
                   resolve("pcre_maketables", api->maketables);
  if (!all) {
    // Not the build the product installs: without pcre_free_ex nothing it
    // returns could be freed with the right allocator.
    delete api;
    FreeLibrary(module);
    load_failed_ = true;
    return false;
  }
  module_ = module;
  api_ = api;
  return true;
}

void PatternLibrary::ForgetPatterns() {
  if (api_ != nullptr) {
    for (auto& [text, compiled] : cache_) {
      api_->free_ex(compiled.study);
      api_->free_ex(compiled.code);
    }
  }
  cache_.clear();
  table_ = nullptr;
}

void PatternLibrary::Unload() {
  ForgetPatterns();
  delete api_;
  api_ = nullptr;
  if (module_ != nullptr) FreeLibrary(module_);
  module_ = nullptr;
  load_failed_ = false;
}

const PatternLibrary::Compiled* PatternLibrary::Compile(const std::string& pattern) {
  if (auto it = cache_.find(pattern); it != cache_.end()) return &it->second;
  if (cache_.size() >= kMaxCachedPatterns) {
    const void* table = table_;
    ForgetPatterns();
    table_ = table;
  }
  Compiled compiled;
  const char* error = nullptr;
  int offset = 0;
  compiled.code = api_->compile(pattern.c_str(), 0, &error, &offset, nullptr);
  if (compiled.code != nullptr) {
    error = nullptr;
    compiled.study = api_->study(static_cast<pcre*>(compiled.code), 0, &error);
  }
  return &cache_.emplace(pattern, compiled).first->second;
}

bool PatternLibrary::Matches(const void* table, std::string_view pattern,
                             std::string_view subject) noexcept {
  Lock lock(lock_);
  try {
    if (folder_.empty() || pattern.empty() || !EnsureLoaded()) return false;
    if (table != table_) {
      ForgetPatterns();
      table_ = table;
    }
    const Compiled* compiled = Compile(std::string(pattern));
    if (compiled->code == nullptr) return false;  // does not compile: never holds

    pcre_extra extra{};
    if (compiled->study != nullptr) extra = *static_cast<const pcre_extra*>(compiled->study);
    extra.flags |= PCRE_EXTRA_MATCH_LIMIT | PCRE_EXTRA_MATCH_LIMIT_RECURSION;
    extra.match_limit = kMatchLimit;
    extra.match_limit_recursion = kRecursionLimit;
    if (subject.size() > kMaxSubject) subject = subject.substr(0, kMaxSubject);
    int ovector[30];
    const int rc = api_->exec(static_cast<const pcre*>(compiled->code), &extra, subject.data(),
                              static_cast<int>(subject.size()), 0, 0, ovector, 30);
    return rc >= 0;
  } catch (...) {
    return false;
  }
}

PatternLibrary& ProcessPatternLibrary() noexcept {
  // Never destroyed: at process exit pcre64.dll may already be gone, and
  // FreeLibrary has no place in the loader's detach notification. The
  // dispatcher's Done unloads it in time.
  static PatternLibrary* library = new PatternLibrary;
  return *library;
}

}  // namespace vm::hooklib
