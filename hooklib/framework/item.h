#pragma once
// Item base classes: every part the hook library attaches to a window is an
// item, made by class name from one line of parameter text and reached only
// through interfaces.
//
// Life cycle of a part (ISlave), driven by its owner: construction with its
// parameter text -> Init(owner) -> Bind -> [AttachWindow / DetachWindow] ->
// Unbind -> Done -> final Release. Owner and part hold each other by
// interface reference; Done drops the part's side so the cycle is broken.
#include <windows.h>

#include <string>
#include <string_view>
#include <typeinfo>

#include "hooklib/framework/com_object.h"
#include "hooklib/framework/interfaces.h"
#include "hooklib/framework/variant.h"

namespace vm::framework {

class AbstractObject;

// A class reference: what the class registry stores and IsObjectOfClass
// compares against. create is null for abstract classes.
struct ItemClass {
  const char* type_name;
  bool (*is_instance)(const AbstractObject& object) noexcept;
  ComPtr<IItem> (*create)(std::wstring_view params) noexcept;
};

// Base of all items: construction runs InitInstance, then applies the
// parameter text one entry at a time through SetParam.
class AbstractObject {
 public:
  virtual ~AbstractObject() = default;

  // Called by the factory before any parameter is applied.
  virtual void InitInstance() {}
  // Applies one parameter; names a class does not handle are ignored.
  virtual void SetParam(std::wstring_view name, const Variant& value) {
    (void)name;
    (void)value;
  }
  // Splits the text and calls SetParam for every entry with a name, in text
  // order, each value as a string. A failing SetParam skips that entry only.
  void ApplyParams(std::wstring_view params) noexcept;

 protected:
  AbstractObject() = default;
};

template <class I = IItem>
class AbstractItem : public I, public AbstractObject {
 public:
  std::wstring STDMETHODCALLTYPE GetName() noexcept override {
    try {
      return name_;
    } catch (...) {
      return {};
    }
  }
  void STDMETHODCALLTYPE SetName(std::wstring_view name) noexcept override {
    try {
      name_.assign(name);
    } catch (...) {
    }
  }
  void STDMETHODCALLTYPE ParseParams(std::wstring_view params) noexcept override {
    ApplyParams(params);
  }
  bool STDMETHODCALLTYPE IsObjectOfClass(const ItemClass& object_class) noexcept override {
    return object_class.is_instance && object_class.is_instance(*this);
  }

  // "name" (exact, case-sensitive) sets the item's name; nothing else is
  // handled at this level.
  void SetParam(std::wstring_view name, const Variant& value) override {
    if (name == L"name") name_ = VariantToString(value);
  }

  virtual void* FindInterface(REFIID riid) noexcept { return FindInterfaceIn<I>(this, riid); }
  IUnknown* Identity() noexcept { return static_cast<I*>(this); }

 protected:
  AbstractItem() = default;
  explicit AbstractItem(std::wstring_view name) : name_(name) {}

  std::wstring name_;  // also the key under which named collections store the item
};

// A part: keeps its owner from Init to Done.
template <class I = ISlave>
class AbstractSlave : public AbstractItem<I> {
 public:
  void STDMETHODCALLTYPE Init(IItem* owner) noexcept override { owner_ = owner; }
  void STDMETHODCALLTYPE Done() noexcept override { owner_.Reset(); }
  void STDMETHODCALLTYPE Bind() noexcept override {}
  void STDMETHODCALLTYPE Unbind() noexcept override {}
  ComPtr<IItem> STDMETHODCALLTYPE GetOwner() noexcept override { return owner_; }

 protected:
  using AbstractItem<I>::AbstractItem;
  ComPtr<IItem> owner_;
};

// A new item of class T from its parameter text; null when it could not be made.
template <class T>
ComPtr<IItem> MakeItem(std::wstring_view params) noexcept {
  ComPtr<T> object = MakeCom<T>();
  if (!object) return nullptr;
  try {
    object->InitInstance();
  } catch (...) {
    return nullptr;
  }
  object->ApplyParams(params);
  return ComPtr<IItem>(static_cast<IItem*>(object.Get()));
}

// The class reference of T (one per module).
template <class T>
const ItemClass& ItemClassOf() noexcept {
  static const ItemClass item_class{
      typeid(T).name(),
      [](const AbstractObject& object) noexcept {
        return dynamic_cast<const T*>(&object) != nullptr;
      },
      [] {
        if constexpr (std::is_abstract_v<ComObject<T>> ||
                      !std::is_default_constructible_v<ComObject<T>>) {
          return static_cast<ComPtr<IItem> (*)(std::wstring_view) noexcept>(nullptr);
        } else {
          return static_cast<ComPtr<IItem> (*)(std::wstring_view) noexcept>(&MakeItem<T>);
        }
      }()};
  return item_class;
}

}  // namespace vm::framework
