#include "hooklib/framework/class_registry.h"

#include <windows.h>

#include <cstdint>

#include "hooklib/framework/keyed_list.h"
#include "hooklib/framework/param_text.h"

namespace vm::framework {
namespace {

class ExclusiveLock {
 public:
  explicit ExclusiveLock(SRWLOCK& lock) noexcept : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
  ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
  ExclusiveLock(const ExclusiveLock&) = delete;
  ExclusiveLock& operator=(const ExclusiveLock&) = delete;

 private:
  SRWLOCK& lock_;
};

class SharedLock {
 public:
  explicit SharedLock(SRWLOCK& lock) noexcept : lock_(lock) { AcquireSRWLockShared(&lock_); }
  ~SharedLock() { ReleaseSRWLockShared(&lock_); }
  SharedLock(const SharedLock&) = delete;
  SharedLock& operator=(const SharedLock&) = delete;

 private:
  SRWLOCK& lock_;
};

class Registry {
 public:
  bool Add(const ItemClass& item_class, std::wstring_view name) {
    ExclusiveLock guard(lock_);
    return classes_.Add(&item_class, false, name);
  }
  bool Remove(std::wstring_view name) {
    ExclusiveLock guard(lock_);
    return classes_.Delete(classes_.IndexByKey(name));
  }
  const ItemClass* Find(std::wstring_view name) {
    SharedLock guard(lock_);
    const ItemClass* const* found = classes_.GetItemsK(name);
    return found ? *found : nullptr;
  }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
  KeyedList<const ItemClass*> classes_;
};

// Made on first use (module initialisation registers into it) and ended with
// the module; it holds no objects, only class references.
Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

// Depth of CreateItem calls on this thread, in a TLS slot rather than a
// thread_local: the library is mapped into other processes and unloaded
// while their threads live on, so it keeps no per-thread storage that would
// need cleaning up at thread exit. The slot holds a plain integer.
class NestingSlot {
 public:
  NestingSlot() noexcept : index_(TlsAlloc()) {}
  ~NestingSlot() {
    if (index_ != TLS_OUT_OF_INDEXES) TlsFree(index_);
  }
  NestingSlot(const NestingSlot&) = delete;
  NestingSlot& operator=(const NestingSlot&) = delete;

  // False when no slot could be had: depth is then not tracked.
  bool Valid() const noexcept { return index_ != TLS_OUT_OF_INDEXES; }
  std::uintptr_t Get() const noexcept {
    return reinterpret_cast<std::uintptr_t>(TlsGetValue(index_));
  }
  void Set(std::uintptr_t depth) const noexcept {
    TlsSetValue(index_, reinterpret_cast<void*>(depth));
  }

 private:
  DWORD index_;
};

NestingSlot& Nesting() {
  static NestingSlot slot;
  return slot;
}

class NestingScope {
 public:
  NestingScope() noexcept : slot_(Nesting()) {
    if (slot_.Valid()) slot_.Set(depth_ = slot_.Get() + 1);
  }
  ~NestingScope() {
    if (slot_.Valid()) slot_.Set(depth_ - 1);
  }
  NestingScope(const NestingScope&) = delete;
  NestingScope& operator=(const NestingScope&) = delete;
  bool TooDeep() const noexcept { return depth_ > static_cast<std::uintptr_t>(kMaxItemNesting); }

 private:
  NestingSlot& slot_;
  std::uintptr_t depth_ = 0;
};

}  // namespace

bool RegisterItemClass(const ItemClass& item_class, std::wstring_view name) noexcept {
  if (name.empty() || !item_class.create) return false;
  try {
    return TheRegistry().Add(item_class, name);
  } catch (...) {
    return false;
  }
}

bool UnregisterItemClass(std::wstring_view name) noexcept {
  try {
    return TheRegistry().Remove(name);
  } catch (...) {
    return false;
  }
}

const ItemClass* FindItemClass(std::wstring_view name) noexcept {
  try {
    return TheRegistry().Find(name);
  } catch (...) {
    return nullptr;
  }
}

ComPtr<IItem> CreateItem(std::wstring_view name, std::wstring_view params) noexcept {
  NestingScope scope;
  if (scope.TooDeep()) return nullptr;
  const ItemClass* item_class = FindItemClass(name);
  if (!item_class || !item_class->create) return nullptr;
  return item_class->create(params);
}

ComPtr<IItem> CreateItemFromText(std::wstring_view text) noexcept {
  const auto split = SplitClassText<wchar_t>(text);
  return CreateItem(split.class_name, split.params);
}

}  // namespace vm::framework
