#pragma once
// The user's choice between light and dark applications, as the shell keeps
// it. Tests and the demo switch it; the owner puts it back as it found it
// (the value set, or no value at all).
#include <windows.h>

#include <optional>

namespace vm::test {

class LightAppsChoice {
 public:
  LightAppsChoice() {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, kPersonalize, kLightApps, RRF_RT_REG_DWORD, nullptr, &value,
                     &size) == ERROR_SUCCESS) {
      saved_ = value;
    }
  }
  ~LightAppsChoice() {
    if (!changed_) return;
    if (saved_) {
      RegSetKeyValueW(HKEY_CURRENT_USER, kPersonalize, kLightApps, REG_DWORD, &*saved_,
                      sizeof(DWORD));
    } else {
      RegDeleteKeyValueW(HKEY_CURRENT_USER, kPersonalize, kLightApps);
    }
  }
  LightAppsChoice(const LightAppsChoice&) = delete;
  LightAppsChoice& operator=(const LightAppsChoice&) = delete;

  bool Set(bool light) {
    const DWORD value = light ? 1 : 0;
    changed_ = true;
    return RegSetKeyValueW(HKEY_CURRENT_USER, kPersonalize, kLightApps, REG_DWORD, &value,
                           sizeof(value)) == ERROR_SUCCESS;
  }

 private:
  static constexpr wchar_t kPersonalize[] =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
  static constexpr wchar_t kLightApps[] = L"AppsUseLightTheme";
  std::optional<DWORD> saved_;
  bool changed_ = false;
};

}  // namespace vm::test
