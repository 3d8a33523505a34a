#pragma once
// The ordered, keyed list under every collection of the item framework.
//
// Each entry has a position (insertion order unless inserted at a position)
// and either a string key, unique under case-insensitive comparison, or a
// 32-bit hash value (window handles, agent ids), unique as well. Keys can be
// generated: the list remembers the greatest key seen so far and the next
// generated key is its successor (!, ", #, ... Z, Z!, Z", ...).
//
// What a stored value means is up to the element type: ComPtr<I> holds a
// reference (the interface collection), unique_ptr<T> owns an object (the
// object collection), std::wstring is a copy (the string collection), a raw
// pointer is never freed (the pointer collection).
//
// Plain C++ without windows.h, fuzzed natively. Lookups by key or hash go
// through hash maps; positions are found by a scan of entry pointers.
// Addresses of values are taken with std::addressof: ComPtr overloads
// unary & (to release and hand out its slot).
#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hooklib/framework/text_case.h"
#include "hooklib/framework/variant.h"

namespace vm::framework {

template <class T>
class KeyedList {
 public:
  struct Entry {
    T value;
    std::wstring key;                   // empty for entries stored under a hash
    std::optional<std::uint32_t> hash;  // set only for entries stored under a hash
  };

  KeyedList() = default;
  KeyedList(const KeyedList&) = delete;
  KeyedList& operator=(const KeyedList&) = delete;
  ~KeyedList() { Clear(); }

  int Count() const noexcept { return static_cast<int>(entries_.size()); }

  // Adds under a generated key (key_gen) or under key. pos -1 (or any
  // position past the end, or negative) appends. Returns false, adding
  // nothing, when the key is already present.
  bool Add(T value, bool key_gen, std::wstring_view key = {}, int pos = -1) {
    std::wstring chosen;
    std::wstring folded;
    if (key_gen) {
      // The successor of the greatest key is normally new, but case folding
      // can make it equal an existing key: keep stepping. Each step passes
      // one distinct existing key, so this ends within Count() steps.
      chosen = NextKey(last_key_);
      folded = FoldCase(chosen);
      while (by_key_.count(folded) != 0) {
        chosen = NextKey(chosen);
        folded = FoldCase(chosen);
      }
    } else {
      chosen.assign(key);
      folded = FoldCase(chosen);
      if (by_key_.count(folded) != 0) return false;
    }
    auto entry = std::make_unique<Entry>(Entry{std::move(value), std::move(chosen), std::nullopt});
    Entry* raw = entry.get();
    Insert(std::move(entry), pos);
    by_key_.emplace(std::move(folded), raw);
    if (key_gen || last_key_.empty() || CompareIgnoreCase(raw->key, last_key_) > 0) {
      last_key_ = raw->key;
    }
    return true;
  }

  bool AddByHash(T value, std::uint32_t hash, int pos = -1) {
    if (by_hash_.count(hash) != 0) return false;
    auto entry = std::make_unique<Entry>(Entry{std::move(value), std::wstring(), hash});
    Entry* raw = entry.get();
    Insert(std::move(entry), pos);
    by_hash_.emplace(hash, raw);
    return true;
  }

  int IndexByKey(std::wstring_view key) const {
    auto it = by_key_.find(FoldCase(key));
    return it == by_key_.end() ? -1 : PositionOf(it->second);
  }
  bool KeyExist(std::wstring_view key) const { return by_key_.count(FoldCase(key)) != 0; }

  int IndexByHash(std::uint32_t hash) const {
    auto it = by_hash_.find(hash);
    return it == by_hash_.end() ? -1 : PositionOf(it->second);
  }
  bool HashExist(std::uint32_t hash) const noexcept { return by_hash_.count(hash) != 0; }

  // Position addressed by a variant: a position for the integer kinds, a key
  // for strings, nothing (-1) for any other kind or an out-of-range position.
  int IndexOf(const Variant& index) const {
    if (auto pos = VariantPosition(index)) {
      return (*pos >= 0 && *pos < Count()) ? static_cast<int>(*pos) : -1;
    }
    if (auto key = VariantKey(index)) return IndexByKey(*key);
    return -1;
  }

  T* GetItemsI(int index) noexcept {
    return (index >= 0 && index < Count())
               ? std::addressof(entries_[static_cast<size_t>(index)]->value)
               : nullptr;
  }
  const T* GetItemsI(int index) const noexcept {
    return (index >= 0 && index < Count())
               ? std::addressof(entries_[static_cast<size_t>(index)]->value)
               : nullptr;
  }
  T* GetItemsK(std::wstring_view key) {
    auto it = by_key_.find(FoldCase(key));
    return it == by_key_.end() ? nullptr : std::addressof(it->second->value);
  }
  T* GetItemsH(std::uint32_t hash) {
    auto it = by_hash_.find(hash);
    return it == by_hash_.end() ? nullptr : std::addressof(it->second->value);
  }
  T* GetItems(const Variant& index) { return GetItemsI(IndexOf(index)); }

  const Entry* EntryAt(int index) const noexcept {
    return (index >= 0 && index < Count()) ? entries_[static_cast<size_t>(index)].get() : nullptr;
  }

  // First position holding a value equal to item, or -1.
  template <class U>
  int GetItemIndex(const U& item) const {
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i]->value == item) return static_cast<int>(i);
    }
    return -1;
  }

  // Deletes by position; out-of-range positions delete nothing. The entry is
  // unlinked before its value is destroyed, so a destructor that looks at
  // this list sees it consistent.
  bool Delete(int index) {
    if (index < 0 || index >= Count()) return false;
    auto it = entries_.begin() + index;
    std::unique_ptr<Entry> doomed = std::move(*it);
    entries_.erase(it);
    Unindex(doomed.get());
    doomed.reset();
    return true;
  }
  bool Delete(const Variant& index) { return Delete(IndexOf(index)); }
  bool DeleteByHash(std::uint32_t hash) { return Delete(IndexByHash(hash)); }

  // Moves the addressed entry to new_pos (clamped to the list).
  bool Move(const Variant& index, int new_pos) {
    const int from = IndexOf(index);
    if (from < 0) return false;
    std::unique_ptr<Entry> e = std::move(entries_[static_cast<size_t>(from)]);
    entries_.erase(entries_.begin() + from);
    const int to = std::clamp(new_pos, 0, Count());
    entries_.insert(entries_.begin() + to, std::move(e));
    return true;
  }

  // Stable sort of the values; less(a, b) is a strict weak order.
  template <class Less>
  void Sort(Less less) {
    std::stable_sort(entries_.begin(), entries_.end(),
                     [&](const std::unique_ptr<Entry>& a, const std::unique_ptr<Entry>& b) {
                       return less(a->value, b->value);
                     });
  }

  void Clear() {
    // Values are destroyed after the list is empty (see Delete).
    std::vector<std::unique_ptr<Entry>> doomed;
    doomed.swap(entries_);
    by_key_.clear();
    by_hash_.clear();
    doomed.clear();
  }

  const std::wstring& LastKey() const noexcept { return last_key_; }

  // Successor of a key: "!" after the empty key, key + "!" after a key
  // ending in "Z" (or in the last code unit), otherwise the key with its last
  // character incremented by one.
  static std::wstring NextKey(std::wstring_view last) {
    std::wstring next(last);
    if (next.empty()) return L"!";
    const auto c = static_cast<std::uint32_t>(next.back());
    if (next.back() == L'Z' || c >= 0xFFFF) {
      next.push_back(L'!');
    } else {
      next.back() = static_cast<wchar_t>(c + 1);
    }
    return next;
  }

  // Iteration in position order.
  template <class Fn>
  void ForEach(Fn&& fn) const {
    for (const auto& e : entries_) fn(e->value);
  }

 private:
  void Insert(std::unique_ptr<Entry> entry, int pos) {
    if (pos < 0 || pos >= Count()) {
      entries_.push_back(std::move(entry));
    } else {
      entries_.insert(entries_.begin() + pos, std::move(entry));
    }
  }

  void Unindex(const Entry* e) {
    if (e->hash) {
      by_hash_.erase(*e->hash);
    } else {
      by_key_.erase(FoldCase(e->key));
    }
  }

  int PositionOf(const Entry* e) const noexcept {
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].get() == e) return static_cast<int>(i);
    }
    return -1;
  }

  std::vector<std::unique_ptr<Entry>> entries_;
  std::unordered_map<std::wstring, Entry*> by_key_;
  std::unordered_map<std::uint32_t, Entry*> by_hash_;
  std::wstring last_key_;
};

// The string collection's extras: a copy of the text under a key.
class StringCollection : public KeyedList<std::wstring> {
 public:
  bool GetValue(std::wstring_view key, std::wstring& value) {
    if (auto p = GetItemsK(key)) {
      value = *p;
      return true;
    }
    return false;
  }
  bool ChangeValue(std::wstring_view key, std::wstring_view value) {
    if (auto p = GetItemsK(key)) {
      p->assign(value);
      return true;
    }
    return false;
  }
};

}  // namespace vm::framework
