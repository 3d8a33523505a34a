#include "hooklib/core/hook_seams.h"

#include <atomic>

#include "hooklib/core/library.h"

namespace vm::hooklib {
namespace {

// A process-wide interface reference that hook procedures on any thread read
// while its owner may replace it. Readers take their own reference under a
// shared lock; the common case (nothing published) costs one atomic load.
template <typename T>
class GlobalRef {
 public:
  void Set(T* value) noexcept {
    if (value) value->AddRef();
    AcquireSRWLockExclusive(&lock_);
    T* old = ptr_.exchange(value, std::memory_order_acq_rel);
    ReleaseSRWLockExclusive(&lock_);
    if (old) old->Release();
  }
  Microsoft::WRL::ComPtr<T> Get() noexcept {
    Microsoft::WRL::ComPtr<T> result;
    if (ptr_.load(std::memory_order_acquire) == nullptr) return result;
    AcquireSRWLockShared(&lock_);
    result = ptr_.load(std::memory_order_acquire);
    ReleaseSRWLockShared(&lock_);
    return result;
  }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
  std::atomic<T*> ptr_{nullptr};
};

GlobalRef<ProcessHook> g_process_hook;
GlobalRef<ApplicationHooks> g_application;
GlobalRef<MessengerHooks> g_messenger;
std::atomic<ApplicationFactory> g_application_factory{nullptr};

}  // namespace

void SetProcessHook(ProcessHook* hook) noexcept { g_process_hook.Set(hook); }
Microsoft::WRL::ComPtr<ProcessHook> GetProcessHook() noexcept { return g_process_hook.Get(); }

void SetApplicationFactory(ApplicationFactory factory) noexcept {
  g_application_factory.store(factory);
}
ApplicationFactory CurrentApplicationFactory() noexcept { return g_application_factory.load(); }
void SetApplication(ApplicationHooks* application) noexcept { g_application.Set(application); }
Microsoft::WRL::ComPtr<ApplicationHooks> GetApplication() noexcept { return g_application.Get(); }

void SetMessenger(MessengerHooks* messenger) noexcept { g_messenger.Set(messenger); }
Microsoft::WRL::ComPtr<MessengerHooks> GetMessenger() noexcept { return g_messenger.Get(); }

}  // namespace vm::hooklib
