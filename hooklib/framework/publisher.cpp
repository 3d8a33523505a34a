#include "hooklib/framework/publisher.h"

#include <new>

namespace vm::framework {

Publisher::Publisher() : AbstractSlave<IPublisher>(L"Publisher"), observers_(MakeCom<Observers>()) {
  if (!observers_) throw std::bad_alloc();
}

void Publisher::Done() noexcept {
  observers_->Clear();
  owner_.Reset();
}

void Publisher::Attach(IEAObserver* observer) noexcept { observers_->Add(observer); }

void Publisher::Detach(IEAObserver* observer) noexcept {
  const int index = observers_->GetItemIndex(observer);
  if (index >= 0) observers_->Delete(Variant{std::int32_t{index}});
}

void Publisher::OnUpdate() noexcept {
  // Keep ourselves alive: an observer may drop the last outside reference.
  ComPtr<IPublisher> self(this);
  const int count = observers_->Count();
  for (int i = 0; i < count; ++i) {
    if (ComPtr<IEAObserver> observer = observers_->GetItems(i)) observer->Update(this);
  }
}

}  // namespace vm::framework
