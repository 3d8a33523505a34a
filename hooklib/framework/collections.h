#pragma once
// The typed collections of the framework, each an ICollection over the
// keyed list of keyed_list.h holding one reference per stored interface.
//
//   Observers        IEAObserver      generated keys
//   MessageHandlers  IMessageHandler  generated keys
//   Operations       IOperation       keyed by the item's name
//   Actions          IAction          keyed by the item's name
//   Triggers         ITrigger         keyed by the item's name
//   WindowExtenders  IWindowExtender  under the window handle as hash value
//
// A null item or a key already present adds nothing; indexes of an
// unsupported variant kind address nothing. No locks: each owner uses its
// collections on one thread or under its own lock.
#include <windows.h>

#include <cstdint>
#include <string>

#include "hooklib/framework/com_object.h"
#include "hooklib/framework/interfaces.h"
#include "hooklib/framework/keyed_list.h"

namespace vm::framework {

// The interface collection: one reference per stored interface, released on
// delete, clear and destruction.
template <class I>
using InterfaceCollection = KeyedList<ComPtr<I>>;

// The 32-bit hash under which a window is stored (window handles carry 32
// significant bits, also in 64-bit processes).
inline std::uint32_t WindowHash(HWND wnd) noexcept {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(wnd));
}

// Base of every typed collection (TAbstractCollection).
template <class Iface, class Elem>
class AbstractCollection : public Iface {
 public:
  int STDMETHODCALLTYPE Count() noexcept override { return list_.Count(); }
  void STDMETHODCALLTYPE Delete(const Variant& index) noexcept override {
    try {
      list_.Delete(index);
    } catch (...) {
    }
  }
  int STDMETHODCALLTYPE IndexByKey(std::wstring_view key) noexcept override {
    try {
      return list_.IndexByKey(key);
    } catch (...) {
      return -1;
    }
  }
  void STDMETHODCALLTYPE Clear() noexcept override {
    try {
      list_.Clear();
    } catch (...) {
    }
  }

  virtual void* FindInterface(REFIID riid) noexcept { return FindInterfaceIn<Iface>(this, riid); }
  IUnknown* Identity() noexcept { return static_cast<Iface*>(this); }

 protected:
  ComPtr<Elem> At(int index) noexcept {
    const ComPtr<Elem>* p = list_.GetItemsI(index);
    return p ? *p : nullptr;
  }
  ComPtr<Elem> AtVariant(const Variant& index) noexcept {
    try {
      return At(list_.IndexOf(index));
    } catch (...) {
      return nullptr;
    }
  }
  // First position holding that very interface pointer, or -1.
  int PositionOf(Elem* item) const noexcept {
    for (int i = 0; i < list_.Count(); ++i) {
      if (list_.EntryAt(i)->value.Get() == item) return i;
    }
    return -1;
  }
  void AddGenerated(Elem* item) noexcept {
    if (!item) return;
    try {
      list_.Add(ComPtr<Elem>(item), true);
    } catch (...) {
    }
  }
  void AddNamed(Elem* item) noexcept {
    if (!item) return;
    try {
      list_.Add(ComPtr<Elem>(item), false, item->GetName());
    } catch (...) {
    }
  }

  KeyedList<ComPtr<Elem>> list_;
};

class Observers : public AbstractCollection<IObservers, IEAObserver> {
 public:
  int STDMETHODCALLTYPE GetItemIndex(IEAObserver* item) noexcept override {
    return PositionOf(item);
  }
  ComPtr<IEAObserver> STDMETHODCALLTYPE GetItems(int index) noexcept override { return At(index); }
  void STDMETHODCALLTYPE Add(IEAObserver* item) noexcept override { AddGenerated(item); }
};

class MessageHandlers : public AbstractCollection<IMessageHandlers, IMessageHandler> {
 public:
  ComPtr<IMessageHandler> STDMETHODCALLTYPE GetItems(int index) noexcept override {
    return At(index);
  }
  void STDMETHODCALLTYPE Add(IMessageHandler* item) noexcept override { AddGenerated(item); }
};

class Operations : public AbstractCollection<IOperations, IOperation> {
 public:
  ComPtr<IOperation> STDMETHODCALLTYPE GetItems(const Variant& index) noexcept override {
    return AtVariant(index);
  }
  // Returns the item it was given, whether or not it was added.
  ComPtr<IOperation> STDMETHODCALLTYPE Add(IOperation* item) noexcept override {
    AddNamed(item);
    return item;
  }
};

class Actions : public AbstractCollection<IActions, IAction> {
 public:
  ComPtr<IAction> STDMETHODCALLTYPE GetItems(const Variant& index) noexcept override {
    return AtVariant(index);
  }
  void STDMETHODCALLTYPE Add(IAction* item) noexcept override { AddNamed(item); }
};

class Triggers : public AbstractCollection<ITriggers, ITrigger> {
 public:
  ComPtr<ITrigger> STDMETHODCALLTYPE GetItems(const Variant& index) noexcept override {
    return AtVariant(index);
  }
  void STDMETHODCALLTYPE Add(ITrigger* item) noexcept override { AddNamed(item); }
};

class WindowExtenders : public AbstractCollection<IWindowExtenders, IWindowExtender> {
 public:
  ComPtr<IWindowExtender> STDMETHODCALLTYPE GetItems(const Variant& index) noexcept override {
    return AtVariant(index);
  }
  void STDMETHODCALLTYPE AddByWnd(IWindowExtender* item, HWND wnd) noexcept override {
    if (!item) return;
    try {
      list_.AddByHash(ComPtr<IWindowExtender>(item), WindowHash(wnd));
    } catch (...) {
    }
  }
  ComPtr<IWindowExtender> STDMETHODCALLTYPE GetItemByIndex(int index) noexcept override {
    return At(index);
  }
  ComPtr<IWindowExtender> STDMETHODCALLTYPE GetItemByWnd(HWND wnd) noexcept override {
    const ComPtr<IWindowExtender>* p = list_.GetItemsH(WindowHash(wnd));
    return p ? *p : nullptr;
  }
  int STDMETHODCALLTYPE GetItemIndexByWnd(HWND wnd) noexcept override {
    return list_.IndexByHash(WindowHash(wnd));
  }
  void STDMETHODCALLTYPE DeleteByWnd(HWND wnd) noexcept override {
    try {
      list_.DeleteByHash(WindowHash(wnd));
    } catch (...) {
    }
  }
};

}  // namespace vm::framework
