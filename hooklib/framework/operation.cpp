#include "hooklib/framework/operation.h"

#include "hooklib/framework/class_registry.h"

namespace vm::framework {
namespace {

// Getters copy; a copy that cannot be made gives an empty text rather than
// an exception through the interface.
std::wstring Copy(const std::wstring& text) noexcept {
  try {
    return text;
  } catch (...) {
    return {};
  }
}

}  // namespace

bool EnsureOperationClass() noexcept {
  static const bool registered = [] {
    RegisterItemClass<Operation>(kOperationClassName);
    return true;
  }();
  return registered && FindItemClass(kOperationClassName) != nullptr;
}

void Operation::SetParam(std::wstring_view name, const Variant& value) {
  if (name == L"Caption") {
    caption_ = VariantToString(value);
  } else if (name == L"image") {
    SetImage(VariantToString(value));
  } else if (name == L"down_image") {
    SetDownImage(VariantToString(value));
  } else {
    AbstractItem::SetParam(name, value);
  }
}

std::wstring Operation::GetCaption() noexcept { return Copy(caption_); }
std::wstring Operation::GetImage() noexcept { return Copy(image_); }
std::wstring Operation::GetDownImage() noexcept { return Copy(down_image_); }
std::wstring Operation::GetImageSmall() noexcept { return Copy(image_small_); }
std::wstring Operation::GetDownImageSmall() noexcept { return Copy(down_image_small_); }

void Operation::SetCaption(std::wstring_view value) noexcept {
  try {
    caption_.assign(value);
  } catch (...) {
  }
}

void Operation::SetImage(std::wstring_view value) noexcept {
  try {
    image_.assign(value);
    image_small_ = image_ + L"_SMALL";
  } catch (...) {
  }
}

void Operation::SetDownImage(std::wstring_view value) noexcept {
  try {
    down_image_.assign(value);
    down_image_small_ = down_image_ + L"_SMALL";
  } catch (...) {
  }
}

}  // namespace vm::framework
