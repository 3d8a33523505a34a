#pragma once
// Publisher/observer: an item (the subject) publishes its changes to the
// observers attached to its publisher. No class of this library observes,
// so in practice the list stays empty; the mechanism is kept whole for the
// parts that expose a publisher (actions, toolboxes).
#include "hooklib/framework/collections.h"
#include "hooklib/framework/item.h"

namespace vm::framework {

class Publisher : public AbstractSlave<IPublisher> {
 public:
  Publisher();

  // Init(owner) makes the owner the subject; Done clears the observers and
  // drops the subject, breaking the owner <-> publisher cycle.
  void STDMETHODCALLTYPE Done() noexcept override;

  ComPtr<IItem> STDMETHODCALLTYPE GetSubject() noexcept override { return owner_; }
  ComPtr<IObservers> STDMETHODCALLTYPE GetObservers() noexcept override { return observers_; }
  void STDMETHODCALLTYPE Attach(IEAObserver* observer) noexcept override;
  void STDMETHODCALLTYPE Detach(IEAObserver* observer) noexcept override;
  // Calls Update on the observers present when the pass starts, in order.
  // One that detaches during the pass shifts the later ones down by one
  // position; the pass reads positions, so an observer may then be skipped
  // for this round, and a null slot past the end is passed over.
  void STDMETHODCALLTYPE OnUpdate() noexcept override;

 private:
  ComPtr<IObservers> observers_;
};

}  // namespace vm::framework
