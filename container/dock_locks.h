#pragma once
// The reasons a docked window stays docked: a set of dock lock kinds. The
// window is given back when the set becomes empty.
#include <cstdint>

#include "common/names.h"

namespace vm::container {

class DockLocks {
 public:
  // Kinds above 7 do not fit the set and are ignored.
  void Add(names::DockLock lock) {
    if (Fits(lock)) bits_ |= Bit(lock);
  }
  // Removes the kind and answers what is left.
  DockLocks Remove(names::DockLock lock) {
    if (Fits(lock)) bits_ &= static_cast<std::uint8_t>(~Bit(lock));
    return *this;
  }
  bool Has(names::DockLock lock) const { return Fits(lock) && (bits_ & Bit(lock)) != 0; }
  bool Empty() const { return bits_ == 0; }
  void Clear() { bits_ = 0; }
  std::uint8_t bits() const { return bits_; }

 private:
  static bool Fits(names::DockLock lock) { return static_cast<std::uint32_t>(lock) <= 7; }
  static std::uint8_t Bit(names::DockLock lock) {
    return static_cast<std::uint8_t>(1u << static_cast<std::uint32_t>(lock));
  }
  std::uint8_t bits_ = 0;
};

// A lock kind received in a message: only the defined kinds are accepted.
inline bool IsKnownDockLock(LPARAM value) {
  return value >= static_cast<LPARAM>(names::DockLock::Kestrel) &&
         value <= static_cast<LPARAM>(names::DockLock::UndockingTimer);
}

}  // namespace vm::container
