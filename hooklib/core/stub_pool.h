#pragma once
// Window-procedure stubs: 37-byte machine-code window procedures in pages
// that are never freed, so a window procedure address handed to Windows (and
// to whoever subclasses the window after us) stays valid after the library is
// gone. A stub is either in call form (it calls an object's method through
// the page's dispatcher) or in forward form (a pass-through to the window
// procedure that was in place before it). The page list and the free list
// are handed from one library copy to the next through the storage block.
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "hooklib/core/window_message.h"

namespace vm::hooklib {

class StubPool {
 public:
  // The process-wide pool of this library copy.
  static StubPool& Instance();

  // Takes over the pages and free stubs an earlier copy left in the storage
  // block (offsets 24 and 32), after checking that they look like ours.
  void Start() noexcept;
  // Hands them back to the storage block for the next copy.
  void Finish() noexcept;

  // A stub in call form for the method; null when no page can be made.
  void* AllocateStub(const StubMethod& method) noexcept;
  // Returns a stub to the free list (in call form, calling nothing). A value
  // that is not one of our stubs, or a stub that is already free, is ignored.
  void FreeStub(void* stub) noexcept;
  // Puts a stub in call form for the method (when given) and returns the
  // window procedure it forwarded to; null when it was not in forward form.
  void* RetargetStub(void* stub, const StubMethod* method) noexcept;
  // Turns a stub into a pass-through to old_proc through CallWindowProcW
  // (unicode) or CallWindowProcA. Ignores a null stub or procedure.
  void MakeForwarder(void* stub, void* old_proc, bool unicode) noexcept;

  // True for the address of a stub slot in one of our pages.
  bool IsStub(const void* address) const noexcept;
  bool IsForwarder(const void* stub) const noexcept;

  // Inspection (tests).
  std::size_t PageCount() const noexcept;
  std::size_t FreeCount() const noexcept;
  void* PageListHead() const noexcept;
  void* FreeListHead() const noexcept;

 private:
  StubPool() = default;
  std::uint8_t* NewPage() noexcept;  // caller holds the lock
  bool IsStubLocked(const std::uint8_t* address) const noexcept;
  bool IsFreeLocked(const std::uint8_t* stub) const noexcept;

  mutable SRWLOCK lock_ = SRWLOCK_INIT;
  std::uint8_t* pages_ = nullptr;      // most recent page; each links to the previous one
  std::uint8_t* free_list_ = nullptr;  // linked through bytes 12..19
};

}  // namespace vm::hooklib
