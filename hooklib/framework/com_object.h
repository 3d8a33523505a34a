#pragma once
// Reference counting and QueryInterface for the framework's objects.
//
// A class implements its interfaces' own operations and lists what it
// answers in FindInterface; ComObject<T> adds IUnknown on top, as the most
// derived class, so that one AddRef/Release/QueryInterface serves every
// interface the class inherits. Objects are made only through MakeCom and
// handed out only as interface references.
#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

namespace vm::framework {

using Microsoft::WRL::ComPtr;

// Number of framework objects alive in this module: a leak check for tests
// and a debugging aid, one atomic add per object.
long LiveObjectCount() noexcept;

namespace detail {
void CountObject(long delta) noexcept;

// The pointer for riid if it names I or one of I's parents (I::Base chain).
template <class I>
void* CastChain(I* p, REFIID riid) noexcept {
  if constexpr (std::is_same_v<I, IUnknown>) {
    return nullptr;  // identity is answered by ComObject itself
  } else {
    if (IsEqualGUID(riid, __uuidof(I))) return p;
    return CastChain<typename I::Base>(static_cast<typename I::Base*>(p), riid);
  }
}
}  // namespace detail

// Answers riid from the interfaces Is... that self implements (with their parents).
template <class... Is, class Self>
void* FindInterfaceIn(Self* self, REFIID riid) noexcept {
  void* found = nullptr;
  ((found = found ? found : detail::CastChain<Is>(static_cast<Is*>(self), riid)), ...);
  return found;
}

// A class with more than one interface chain inherits IUnknown more than
// once; this redeclaration gives it one unambiguous AddRef/Release/
// QueryInterface for ComPtr<Class> to call (ComObject defines them).
#define VM_DECLARE_UNKNOWN                                                                    \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override = 0; \
  ULONG STDMETHODCALLTYPE AddRef() noexcept override = 0;                                     \
  ULONG STDMETHODCALLTYPE Release() noexcept override = 0;

// T provides: void* FindInterface(REFIID) noexcept (virtual) and
// IUnknown* Identity() noexcept (the one IUnknown pointer of the object).
template <class T>
class ComObject final : public T {
 public:
  // Defaulted, so that it is deleted (and ItemClassOf sees it) when T has
  // no default constructor.
  ComObject() = default;
  template <class A0, class... A>
  explicit ComObject(A0&& arg0, A&&... args)
      : T(std::forward<A0>(arg0), std::forward<A>(args)...) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override {
    if (!object) return E_POINTER;
    void* found = IsEqualGUID(riid, __uuidof(IUnknown)) ? static_cast<void*>(this->Identity())
                                                        : this->FindInterface(riid);
    *object = found;
    if (!found) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override {
    return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
  }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

 private:
  struct LiveCount {
    LiveCount() noexcept { detail::CountObject(+1); }
    ~LiveCount() { detail::CountObject(-1); }
  };
  LiveCount live_;
  std::atomic<ULONG> refs_{0};
};

// A new object held by the returned reference; null when it could not be
// made (out of memory, or its constructor failed).
template <class T, class... A>
ComPtr<T> MakeCom(A&&... args) noexcept {
  try {
    return ComPtr<T>(new ComObject<T>(std::forward<A>(args)...));
  } catch (...) {
    return nullptr;
  }
}

}  // namespace vm::framework
