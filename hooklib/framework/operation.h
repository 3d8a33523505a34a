#pragma once
// An operation of an action: a named thing the action can do to its window
// ("UNBLOCKVISIBILITY"), with the caption and images a menu or button would
// show for it, and the context it last ran with.
#include <string>

#include "hooklib/framework/item.h"

namespace vm::framework {

// Registers "OPERATION" in the item class registry (once).
bool EnsureOperationClass() noexcept;

class Operation : public AbstractItem<IOperation> {
 public:
  Operation() = default;
  explicit Operation(std::wstring_view name) : AbstractItem(name) {}

  // "Caption", "image", "down_image" (case-sensitive); anything else as
  // for every item ("name").
  void SetParam(std::wstring_view name, const Variant& value) override;

  std::wstring STDMETHODCALLTYPE GetCaption() noexcept override;
  void STDMETHODCALLTYPE SetCaption(std::wstring_view value) noexcept override;
  std::wstring STDMETHODCALLTYPE GetImage() noexcept override;
  // The small variant of an image is its name with "_SMALL" appended (so
  // "_SMALL" for no image), kept in step with every change.
  void STDMETHODCALLTYPE SetImage(std::wstring_view value) noexcept override;
  std::wstring STDMETHODCALLTYPE GetDownImage() noexcept override;
  void STDMETHODCALLTYPE SetDownImage(std::wstring_view value) noexcept override;
  std::wstring STDMETHODCALLTYPE GetImageSmall() noexcept override;
  std::wstring STDMETHODCALLTYPE GetDownImageSmall() noexcept override;
  ComPtr<IAgent> STDMETHODCALLTYPE GetLastContext() noexcept override { return last_context_; }
  void STDMETHODCALLTYPE SetLastContext(IAgent* value) noexcept override { last_context_ = value; }
  UINT32 STDMETHODCALLTYPE GetHotKeyInfo() noexcept override { return hot_key_info_; }
  void STDMETHODCALLTYPE SetHotKeyInfo(UINT32 value) noexcept override { hot_key_info_ = value; }

 private:
  std::wstring caption_;
  std::wstring image_;
  std::wstring down_image_;
  std::wstring image_small_;
  std::wstring down_image_small_;
  ComPtr<IAgent> last_context_;
  UINT32 hot_key_info_ = 0;
};

}  // namespace vm::framework
