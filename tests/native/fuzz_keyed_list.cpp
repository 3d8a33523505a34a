// libFuzzer target: the keyed list driven by a byte program of adds,
// deletes, moves, sorts and lookups, checked against a plain model after
// every step (positions, unique folded keys, unique hashes, owned values).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hooklib/framework/keyed_list.h"

namespace {

using namespace vm::framework;

#define CHECK(cond)            \
  do {                         \
    if (!(cond)) std::abort(); \
  } while (0)

struct ModelEntry {
  int value;
  std::wstring key;
  std::optional<uint32_t> hash;
};

class Reader {
 public:
  Reader(const uint8_t* d, size_t n) : d_(d), n_(n) {}
  bool More() const { return i_ < n_; }
  uint8_t Byte() { return i_ < n_ ? d_[i_++] : 0; }
  std::wstring Key() {
    const size_t len = Byte() % 4;
    std::wstring k;
    // A small alphabet with case pairs and the generated-key range.
    static constexpr wchar_t kAlphabet[] = {L'!', L'"',   L'Y',   L'Z',   L'z',   L'a',   L'A',
                                            L'`', 0x00E9, 0x00C9, 0x0416, 0x0436, 0xFFFF, 0x0131};
    for (size_t i = 0; i < len; ++i) k.push_back(kAlphabet[Byte() % std::size(kAlphabet)]);
    return k;
  }

 private:
  const uint8_t* d_;
  size_t n_;
  size_t i_ = 0;
};

int ModelFindKey(const std::vector<ModelEntry>& m, const std::wstring& key) {
  for (size_t i = 0; i < m.size(); ++i) {
    if (!m[i].hash && EqualsIgnoreCase(m[i].key, key)) return static_cast<int>(i);
  }
  return -1;
}

void Compare(const KeyedList<std::unique_ptr<int>>& list, const std::vector<ModelEntry>& model) {
  CHECK(list.Count() == static_cast<int>(model.size()));
  for (int i = 0; i < list.Count(); ++i) {
    const auto* e = list.EntryAt(i);
    CHECK(e && e->value && *e->value == model[i].value);
    CHECK(e->hash == model[i].hash);
    if (!e->hash) CHECK(e->key == model[i].key);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  KeyedList<std::unique_ptr<int>> list;
  std::vector<ModelEntry> model;
  int next_value = 0;
  while (in.More()) {
    const uint8_t op = in.Byte() % 9;
    const int pos = static_cast<int>(in.Byte()) - 2;  // -2 .. 253: before, at and past the ends
    switch (op) {
      case 0: {  // add under a key
        const std::wstring key = in.Key();
        const bool added = list.Add(std::make_unique<int>(next_value), false, key, pos);
        CHECK(added == (ModelFindKey(model, key) < 0));
        if (added) {
          const auto at =
              (pos < 0 || pos >= static_cast<int>(model.size())) ? model.size() : size_t(pos);
          model.insert(model.begin() + at, ModelEntry{next_value, key, std::nullopt});
        }
        break;
      }
      case 1: {  // add under a generated key: always succeeds, with a new key
        CHECK(list.Add(std::make_unique<int>(next_value), true, {}, pos));
        int found = -1;
        for (int i = 0; i < list.Count(); ++i) {
          if (*list.EntryAt(i)->value == next_value) found = i;
        }
        CHECK(found >= 0);
        const std::wstring key = list.EntryAt(found)->key;
        CHECK(ModelFindKey(model, key) < 0);
        CHECK(key == list.LastKey());
        model.insert(model.begin() + found, ModelEntry{next_value, key, std::nullopt});
        break;
      }
      case 2: {  // add under a hash
        const uint32_t hash = in.Byte() % 8;
        const bool exists = std::any_of(model.begin(), model.end(),
                                        [&](const ModelEntry& e) { return e.hash == hash; });
        CHECK(list.AddByHash(std::make_unique<int>(next_value), hash, pos) == !exists);
        if (!exists) {
          const auto at =
              (pos < 0 || pos >= static_cast<int>(model.size())) ? model.size() : size_t(pos);
          model.insert(model.begin() + at, ModelEntry{next_value, L"", hash});
        }
        break;
      }
      case 3: {  // delete by position
        const bool ok = pos >= 0 && pos < static_cast<int>(model.size());
        CHECK(list.Delete(Variant{std::int32_t{pos}}) == ok);
        if (ok) model.erase(model.begin() + pos);
        break;
      }
      case 4: {  // delete by key
        const std::wstring key = in.Key();
        const int at = ModelFindKey(model, key);
        CHECK(list.IndexByKey(key) == at);
        CHECK(list.Delete(Variant{key}) == (at >= 0));
        if (at >= 0) model.erase(model.begin() + at);
        break;
      }
      case 5: {  // delete by hash
        const uint32_t hash = in.Byte() % 8;
        auto it = std::find_if(model.begin(), model.end(),
                               [&](const ModelEntry& e) { return e.hash == hash; });
        CHECK(list.IndexByHash(hash) == (it == model.end() ? -1 : int(it - model.begin())));
        CHECK(list.DeleteByHash(hash) == (it != model.end()));
        if (it != model.end()) model.erase(it);
        break;
      }
      case 6: {  // move
        const int from = static_cast<int>(in.Byte()) - 2;
        const bool ok = from >= 0 && from < static_cast<int>(model.size());
        CHECK(list.Move(Variant{std::int16_t(from)}, pos) == ok);
        if (ok) {
          ModelEntry e = model[from];
          model.erase(model.begin() + from);
          const int to = std::clamp(pos, 0, static_cast<int>(model.size()));
          model.insert(model.begin() + to, e);
        }
        break;
      }
      case 7: {  // stable sort by value parity
        auto less = [](int a, int b) { return (a & 1) < (b & 1); };
        list.Sort([&](const std::unique_ptr<int>& a, const std::unique_ptr<int>& b) {
          return less(*a, *b);
        });
        std::stable_sort(model.begin(), model.end(), [&](const ModelEntry& a, const ModelEntry& b) {
          return less(a.value, b.value);
        });
        break;
      }
      case 8:
        if (pos == 0) {
          list.Clear();
          model.clear();
        }
        break;
    }
    ++next_value;
    Compare(list, model);
    if (model.size() > 512) break;
  }
  return 0;
}
