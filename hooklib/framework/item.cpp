#include "hooklib/framework/item.h"

#include <atomic>

#include "hooklib/framework/param_text.h"

namespace vm::framework {
namespace {
std::atomic<long> g_live_objects{0};
}  // namespace

long LiveObjectCount() noexcept { return g_live_objects.load(std::memory_order_acquire); }

void detail::CountObject(long delta) noexcept {
  g_live_objects.fetch_add(delta, std::memory_order_acq_rel);
}

void AbstractObject::ApplyParams(std::wstring_view params) noexcept {
  if (params.empty()) return;
  try {
    ForEachParam<wchar_t>(params, [this](const ParamEntry& entry) {
      try {
        SetParam(entry.name, Variant{std::wstring(entry.value)});
      } catch (...) {
        // A value this item cannot take is skipped like an unknown name.
      }
    });
  } catch (...) {
    // Out of memory while splitting: the rest of the text is not applied.
  }
}

}  // namespace vm::framework
