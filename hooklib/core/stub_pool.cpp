#include "hooklib/core/stub_pool.h"

#include <cstring>

#include "hooklib/core/library_state.h"
#include "hooklib/core/machine_code.h"
#include "hooklib/core/process_storage.h"

namespace vm::hooklib {
namespace {

using code::kPageSize;
using code::kStubSize;
using code::kStubsOffset;
using code::kStubsPerPage;

// Far more than any process needs; bounds walks over lists found in memory.
constexpr std::size_t kMaxPages = 1 << 14;

std::uint8_t* PageOf(const void* stub) {
  return reinterpret_cast<std::uint8_t*>(reinterpret_cast<std::uintptr_t>(stub) &
                                         ~static_cast<std::uintptr_t>(kPageSize - 1));
}

std::uint64_t DispatcherOf(const std::uint8_t* page) {
  return reinterpret_cast<std::uint64_t>(page + code::kDispatcherOffset);
}

std::uint8_t* NextLink(const std::uint8_t* p, std::size_t offset) {
  return reinterpret_cast<std::uint8_t*>(code::ReadU64(p + offset));
}

FARPROC Kernel32(const char* name) {
  HMODULE k = GetModuleHandleW(L"kernel32.dll");
  return k ? GetProcAddress(k, name) : nullptr;
}

FARPROC User32(const char* name) {
  HMODULE u = GetModuleHandleW(L"user32.dll");
  return u ? GetProcAddress(u, name) : nullptr;
}

std::uint64_t IsBadReadPtrAddress() {
  static const auto address = reinterpret_cast<std::uint64_t>(Kernel32("IsBadReadPtr"));
  return address;
}

// Stub pages are execute-read while nobody writes to them; a stub is
// written (under the pool's lock) with its page made writable for just that
// time. Other threads may be running other stubs of the page meanwhile, so
// it stays executable throughout.
class PageWriteScope {
 public:
  explicit PageWriteScope(std::uint8_t* page) noexcept : page_(page) {
    DWORD old = 0;
    writable_ = VirtualProtect(page_, kPageSize, PAGE_EXECUTE_READWRITE, &old) != 0;
  }
  ~PageWriteScope() {
    DWORD old = 0;
    if (writable_) VirtualProtect(page_, kPageSize, PAGE_EXECUTE_READ, &old);
  }
  PageWriteScope(const PageWriteScope&) = delete;
  PageWriteScope& operator=(const PageWriteScope&) = delete;
  bool writable() const noexcept { return writable_; }

 private:
  std::uint8_t* page_;
  bool writable_ = false;
};

// A page made by this library (this copy or an earlier one): its dispatcher
// is ours, bound to this process's counter.
bool LooksLikeOurPage(const std::uint8_t* page) {
  if (reinterpret_cast<std::uintptr_t>(page) % kPageSize != 0) return false;
  if (!IsCommittedMemory(page, kPageSize, true)) return false;
  const auto expected = code::DispatcherCode(
      reinterpret_cast<std::uint64_t>(CallDepthCounterBlock()), IsBadReadPtrAddress());
  return std::memcmp(page + code::kDispatcherOffset, expected.data(), expected.size()) == 0;
}

// Lets exceptions be walked through the dispatcher and the forwarder.
void RegisterUnwindData(std::uint8_t* page) {
  auto* table = static_cast<RUNTIME_FUNCTION*>(
      GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 2 * sizeof(RUNTIME_FUNCTION)));
  if (table == nullptr) return;  // works without; exceptions just cannot pass
  table[0].BeginAddress = code::kDispatcherOffset + code::kDispatcherFunctionBegin;
  table[0].EndAddress = code::kDispatcherOffset + code::kDispatcherCodeSize;
  table[0].UnwindData = code::kDispatcherUnwindOffset;
  table[1].BeginAddress = code::kForwarderOffset;
  table[1].EndAddress = code::kForwarderOffset + code::kForwarderCodeSize;
  table[1].UnwindData = code::kForwarderUnwindOffset;
  // Kept for the life of the process, like the page.
  if (!RtlAddFunctionTable(table, 2, reinterpret_cast<DWORD64>(page))) GlobalFree(table);
}

}  // namespace

StubPool& StubPool::Instance() {
  static StubPool pool;
  return pool;
}

void StubPool::Start() noexcept {
  std::uint64_t pages = 0;
  std::uint64_t free_list = 0;
  if (!ReadStubPoolHeads(pages, free_list)) return;
  AcquireSRWLockExclusive(&lock_);
  std::uint8_t* head = reinterpret_cast<std::uint8_t*>(pages);
  std::size_t count = 0;
  bool pages_ok = true;
  for (std::uint8_t* p = head; p != nullptr; p = NextLink(p, code::kPageLinkOffset)) {
    if (++count > kMaxPages || !LooksLikeOurPage(p)) {
      pages_ok = false;
      break;
    }
  }
  if (pages_ok && pages_ == nullptr) {
    pages_ = head;
    // The free list is only taken when every entry is a stub of these pages
    // and it ends within the number of stubs they hold.
    std::uint8_t* free_head = reinterpret_cast<std::uint8_t*>(free_list);
    std::size_t n = 0;
    bool free_ok = true;
    for (std::uint8_t* s = free_head; s != nullptr; s = NextLink(s, code::kStubMethodCodeOffset)) {
      if (++n > count * kStubsPerPage || !IsStubLocked(s)) {
        free_ok = false;
        break;
      }
    }
    free_list_ = free_ok ? free_head : nullptr;
  }
  ReleaseSRWLockExclusive(&lock_);
}

void StubPool::Finish() noexcept {
  AcquireSRWLockShared(&lock_);
  const auto pages = reinterpret_cast<std::uint64_t>(pages_);
  const auto free_list = reinterpret_cast<std::uint64_t>(free_list_);
  ReleaseSRWLockShared(&lock_);
  WriteStubPoolHeads(pages, free_list);
}

std::uint8_t* StubPool::NewPage() noexcept {
  auto* page = static_cast<std::uint8_t*>(
      VirtualAlloc(nullptr, kPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
  if (page == nullptr) return nullptr;
  code::WriteU64(page + code::kPageLinkOffset, reinterpret_cast<std::uint64_t>(pages_));
  const auto dispatcher = code::DispatcherCode(
      reinterpret_cast<std::uint64_t>(CallDepthCounterBlock()), IsBadReadPtrAddress());
  std::memcpy(page + code::kDispatcherOffset, dispatcher.data(), dispatcher.size());
  const auto dispatcher_unwind = code::DispatcherUnwindInfo();
  std::memcpy(page + code::kDispatcherUnwindOffset, dispatcher_unwind.data(),
              dispatcher_unwind.size());
  const auto forwarder = code::ForwarderCode();
  std::memcpy(page + code::kForwarderOffset, forwarder.data(), forwarder.size());
  const auto forwarder_unwind = code::ForwarderUnwindInfo();
  std::memcpy(page + code::kForwarderUnwindOffset, forwarder_unwind.data(),
              forwarder_unwind.size());
  // Pushed in address order, so the highest stub is handed out first.
  for (std::size_t k = 0; k < kStubsPerPage; ++k) {
    std::uint8_t* stub = page + kStubsOffset + k * kStubSize;
    code::WriteCallForm(stub, DispatcherOf(page));
    code::WriteU64(stub + code::kStubMethodCodeOffset, reinterpret_cast<std::uint64_t>(free_list_));
    free_list_ = stub;
  }
  DWORD old_protect = 0;
  VirtualProtect(page, kPageSize, PAGE_EXECUTE_READ, &old_protect);
  FlushInstructionCache(GetCurrentProcess(), page, kPageSize);
  RegisterUnwindData(page);
  pages_ = page;
  return page;
}

void* StubPool::AllocateStub(const StubMethod& method) noexcept {
  AcquireSRWLockExclusive(&lock_);
  std::uint8_t* stub = free_list_;
  if (stub == nullptr && NewPage() != nullptr) stub = free_list_;
  if (stub != nullptr) {
    PageWriteScope write(PageOf(stub));  // restored before the lock is released
    if (write.writable()) {
      free_list_ = NextLink(stub, code::kStubMethodCodeOffset);
      code::WriteU64(stub + code::kStubMethodCodeOffset,
                     reinterpret_cast<std::uint64_t>(method.code));
      code::WriteU64(stub + code::kStubMethodObjectOffset,
                     reinterpret_cast<std::uint64_t>(method.object));
      if (!code::IsCallForm(stub)) code::WriteCallForm(stub, DispatcherOf(PageOf(stub)));
      FlushInstructionCache(GetCurrentProcess(), stub, kStubSize);
    } else {
      stub = nullptr;
    }
  }
  ReleaseSRWLockExclusive(&lock_);
  return stub;
}

void StubPool::FreeStub(void* address) noexcept {
  auto* stub = static_cast<std::uint8_t*>(address);
  AcquireSRWLockExclusive(&lock_);
  if (IsStubLocked(stub) && !IsFreeLocked(stub)) {
    PageWriteScope write(PageOf(stub));
    if (write.writable()) {
      // A stub still called by mistake finds no object and calls nothing.
      code::WriteU64(stub + code::kStubMethodObjectOffset, 0);
      code::WriteU64(stub + code::kStubMethodCodeOffset,
                     reinterpret_cast<std::uint64_t>(free_list_));
      if (!code::IsCallForm(stub)) code::WriteCallForm(stub, DispatcherOf(PageOf(stub)));
      FlushInstructionCache(GetCurrentProcess(), stub, kStubSize);
      free_list_ = stub;
    }
  }
  ReleaseSRWLockExclusive(&lock_);
}

void* StubPool::RetargetStub(void* address, const StubMethod* method) noexcept {
  auto* stub = static_cast<std::uint8_t*>(address);
  AcquireSRWLockExclusive(&lock_);
  void* previous = nullptr;
  // Only a forwarder has a window procedure to give back; a stub in call
  // form (in use, or free) is left alone.
  if (IsStubLocked(stub) && !code::IsCallForm(stub) && !IsFreeLocked(stub)) {
    PageWriteScope write(PageOf(stub));
    if (write.writable()) {
      previous = reinterpret_cast<void*>(code::ReadU64(stub + code::kStubTargetOffset));
      code::WriteU64(stub + code::kStubMethodCodeOffset,
                     reinterpret_cast<std::uint64_t>(method ? method->code : nullptr));
      code::WriteU64(stub + code::kStubMethodObjectOffset,
                     reinterpret_cast<std::uint64_t>(method ? method->object : nullptr));
      code::WriteCallForm(stub, DispatcherOf(PageOf(stub)));
      FlushInstructionCache(GetCurrentProcess(), stub, kStubSize);
    }
  }
  ReleaseSRWLockExclusive(&lock_);
  return previous;
}

void StubPool::MakeForwarder(void* address, void* old_proc, bool unicode) noexcept {
  if (address == nullptr || old_proc == nullptr) return;
  static const auto call_w = reinterpret_cast<std::uint64_t>(User32("CallWindowProcW"));
  static const auto call_a = reinterpret_cast<std::uint64_t>(User32("CallWindowProcA"));
  const std::uint64_t call = unicode ? call_w : call_a;
  if (call == 0) return;
  auto* stub = static_cast<std::uint8_t*>(address);
  AcquireSRWLockExclusive(&lock_);
  if (IsStubLocked(stub) && !IsFreeLocked(stub)) {
    PageWriteScope write(PageOf(stub));
    if (write.writable()) {
      code::WriteForwardForm(
          stub, reinterpret_cast<std::uint64_t>(stub), reinterpret_cast<std::uint64_t>(old_proc),
          call, reinterpret_cast<std::uint64_t>(PageOf(stub) + code::kForwarderOffset));
      FlushInstructionCache(GetCurrentProcess(), stub, kStubSize);
    }
  }
  ReleaseSRWLockExclusive(&lock_);
}

bool StubPool::IsStub(const void* address) const noexcept {
  AcquireSRWLockShared(&lock_);
  const bool result = IsStubLocked(static_cast<const std::uint8_t*>(address));
  ReleaseSRWLockShared(&lock_);
  return result;
}

bool StubPool::IsForwarder(const void* address) const noexcept {
  AcquireSRWLockShared(&lock_);
  const auto* stub = static_cast<const std::uint8_t*>(address);
  const bool result = IsStubLocked(stub) && !code::IsCallForm(stub);
  ReleaseSRWLockShared(&lock_);
  return result;
}

bool StubPool::IsStubLocked(const std::uint8_t* address) const noexcept {
  if (address == nullptr) return false;
  const std::uint8_t* page = PageOf(address);
  const std::size_t offset = static_cast<std::size_t>(address - page);
  if (offset < kStubsOffset || (offset - kStubsOffset) % kStubSize != 0 ||
      (offset - kStubsOffset) / kStubSize >= kStubsPerPage) {
    return false;
  }
  std::size_t n = 0;
  for (const std::uint8_t* p = pages_; p != nullptr && n < kMaxPages;
       p = NextLink(p, code::kPageLinkOffset), ++n) {
    if (p == page) return true;
  }
  return false;
}

bool StubPool::IsFreeLocked(const std::uint8_t* stub) const noexcept {
  std::size_t n = 0;
  const std::size_t limit = kMaxPages * kStubsPerPage;
  for (const std::uint8_t* s = free_list_; s != nullptr && n < limit;
       s = NextLink(s, code::kStubMethodCodeOffset), ++n) {
    if (s == stub) return true;
  }
  return false;
}

std::size_t StubPool::PageCount() const noexcept {
  AcquireSRWLockShared(&lock_);
  std::size_t n = 0;
  for (const std::uint8_t* p = pages_; p != nullptr && n < kMaxPages;
       p = NextLink(p, code::kPageLinkOffset)) {
    ++n;
  }
  ReleaseSRWLockShared(&lock_);
  return n;
}

std::size_t StubPool::FreeCount() const noexcept {
  AcquireSRWLockShared(&lock_);
  std::size_t n = 0;
  for (const std::uint8_t* s = free_list_; s != nullptr && n < kMaxPages * kStubsPerPage;
       s = NextLink(s, code::kStubMethodCodeOffset)) {
    ++n;
  }
  ReleaseSRWLockShared(&lock_);
  return n;
}

void* StubPool::PageListHead() const noexcept {
  AcquireSRWLockShared(&lock_);
  void* p = pages_;
  ReleaseSRWLockShared(&lock_);
  return p;
}

void* StubPool::FreeListHead() const noexcept {
  AcquireSRWLockShared(&lock_);
  void* p = free_list_;
  ReleaseSRWLockShared(&lock_);
  return p;
}

}  // namespace vm::hooklib
