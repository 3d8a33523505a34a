#include "common/system_info.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <mutex>
#include <vector>

#include "common/shared_names.h"
#include "common/unique_handle.h"

namespace vm {

// ---------------------------------------------------------------------------
// Version flags

VersionFlags ComputeVersionFlags(const VersionNumbers& v) {
  auto is = [&](std::uint32_t major, std::uint32_t minor) {
    return v.major == major && v.minor == minor;
  };
  auto at_least = [&](std::uint32_t major, std::uint32_t minor) {
    return v.major > major || (v.major == major && v.minor >= minor);
  };
  VersionFlags f;
  f.windows2000 = is(5, 0);
  f.windows_xp = is(5, 1);
  f.xp_or_later = at_least(5, 1);
  f.vista = is(6, 0);
  f.vista_or_later = at_least(6, 0);
  f.windows7 = is(6, 1);
  f.windows7_or_later = at_least(6, 1);
  f.windows8 = is(6, 2);
  f.windows8_or_later = at_least(6, 2);
  f.windows81 = is(6, 3);
  f.windows81_or_later = at_least(6, 3);
  // Early Windows 10 builds called themselves 6.4.
  f.windows10_or_later = is(6, 4) || at_least(10, 0);
  f.windows11 = is(10, 0) && v.build > 21999;
  f.windows10_only = (is(6, 4) || is(10, 0)) && !f.windows11;
  f.windows11_22621 = f.windows11 && v.build > 22620;
  f.windows11_22621_2861 = f.windows11 && (v.build > 22621 || (v.build == 22621 && v.ubr > 2860));
  return f;
}

// ---------------------------------------------------------------------------
// Version record

namespace {

constexpr wchar_t kCurrentVersionKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
// Counting stops here: no real value comes near, and a probe that never says
// yes must not loop for ever.
constexpr DWORD kCountLimit = 256;

class SystemProbe final : public VersionProbe {
 public:
  bool VersionEquals(DWORD type_bit, DWORD value) override {
    OSVERSIONINFOEXA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    switch (type_bit) {
      case VER_MAJORVERSION:
        info.dwMajorVersion = value;
        break;
      case VER_MINORVERSION:
        info.dwMinorVersion = value;
        break;
      case VER_PRODUCT_TYPE:
        info.wProductType = static_cast<BYTE>(value);
        break;
      case VER_SERVICEPACKMAJOR:
        info.wServicePackMajor = static_cast<WORD>(value);
        break;
      case VER_SERVICEPACKMINOR:
        info.wServicePackMinor = static_cast<WORD>(value);
        break;
      default:
        return false;
    }
    const DWORDLONG mask = VerSetConditionMask(0, type_bit, VER_EQUAL);
    return VerifyVersionInfoA(&info, type_bit, mask) != FALSE;
  }

  bool BuildBelow(DWORD candidate) override {
    OSVERSIONINFOEXA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    info.dwBuildNumber = candidate;
    const DWORDLONG mask = VerSetConditionMask(0, VER_BUILDNUMBER, VER_LESS);
    return VerifyVersionInfoA(&info, VER_BUILDNUMBER, mask) != FALSE;
  }

  std::optional<WindowsVersion> Kernel32Version() override {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA("kernel32.dll", &ignored);
    if (size == 0) return std::nullopt;
    std::vector<char> block(size);
    if (!GetFileVersionInfoA("kernel32.dll", 0, size, block.data())) return std::nullopt;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
        fixed == nullptr || length < sizeof(VS_FIXEDFILEINFO)) {
      return std::nullopt;
    }
    WindowsVersion v;
    v.major = HIWORD(fixed->dwProductVersionMS);
    v.minor = LOWORD(fixed->dwProductVersionMS);
    v.build = HIWORD(fixed->dwProductVersionLS);
    return v;
  }

  std::optional<std::uint32_t> RegistryBuild() override {
    wchar_t text[32] = {};
    DWORD bytes = sizeof(text) - sizeof(wchar_t);  // keep room for a terminator
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"CurrentBuildNumber", RRF_RT_REG_SZ,
                     nullptr, text, &bytes) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    // Only a plain decimal number is taken; anything else leaves the build alone.
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (const wchar_t* p = text; *p != 0; ++p, ++digits) {
      if (*p < L'0' || *p > L'9' || digits >= 9) return std::nullopt;
      value = value * 10 + static_cast<std::uint64_t>(*p - L'0');
    }
    if (digits == 0) return std::nullopt;
    return static_cast<std::uint32_t>(value);
  }

  std::optional<std::uint32_t> RegistryUbr() override {
    DWORD value = 0;
    DWORD bytes = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kCurrentVersionKey, L"UBR", RRF_RT_REG_DWORD, nullptr,
                     &value, &bytes) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    return value;
  }
};

DWORD CountEqual(VersionProbe& probe, DWORD type_bit) {
  for (DWORD value = 0; value < kCountLimit; ++value) {
    if (probe.VersionEquals(type_bit, value)) return value;
  }
  return 0;  // unanswerable: the lower version
}

// The build number, found one decimal digit at a time from the top.
DWORD FindBuild(VersionProbe& probe) {
  DWORD candidate = 0;
  DWORD step = 10000;
  for (int guard = 0; guard < 200; ++guard) {
    if (probe.BuildBelow(candidate)) {
      candidate -= step;
      step /= 10;
      if (step == 0) return candidate;
    }
    candidate += step;
  }
  return 0;  // the probe never said "below": no answer
}

}  // namespace

VersionProbe& SystemVersionProbe() {
  static SystemProbe probe;
  return probe;
}

WindowsVersion ReadWindowsVersion(VersionProbe& probe) {
  WindowsVersion v;
  v.major = CountEqual(probe, VER_MAJORVERSION);
  v.minor = CountEqual(probe, VER_MINORVERSION);

  // From Windows 8 on VerifyVersionInfo answers at most 6.2 to programs that
  // don't declare newer systems, so kernel32's own version is the truth.
  const bool at_least_62 = v.major > 6 || (v.major == 6 && v.minor >= 2);
  if (v.major == 0 || at_least_62) {
    if (auto k = probe.Kernel32Version()) {
      v.major = k->major;
      v.minor = k->minor;
      v.build = k->build;
    }
  } else {
    v.product_type = static_cast<std::uint8_t>(CountEqual(probe, VER_PRODUCT_TYPE));
    v.service_pack_major = static_cast<std::uint16_t>(CountEqual(probe, VER_SERVICEPACKMAJOR));
    v.service_pack_minor = static_cast<std::uint16_t>(CountEqual(probe, VER_SERVICEPACKMINOR));
    v.build = FindBuild(probe);
  }

  // Servicing updates raise the build without touching kernel32's version.
  if (v.build >= 18362) {
    if (auto registry = probe.RegistryBuild(); registry && *registry > v.build) v.build = *registry;
  }
  return v;
}

SystemVersion ReadSystemVersion(VersionProbe& probe) {
  SystemVersion s;
  s.record = ReadWindowsVersion(probe);
  VersionNumbers numbers{s.record.major, s.record.minor, s.record.build, 0};
  if (ComputeVersionFlags(numbers).windows10_or_later) {
    s.ubr = probe.RegistryUbr().value_or(0);
  }
  numbers.ubr = s.ubr;
  s.flags = ComputeVersionFlags(numbers);
  return s;
}

const SystemVersion& Os() {
  static const SystemVersion version = ReadSystemVersion(SystemVersionProbe());
  return version;
}

// ---------------------------------------------------------------------------
// Display, shell and processes

int SystemDpi() {
  static const int dpi = [] {
    int value = 96;
    if (HDC dc = GetDC(nullptr)) {
      const int caps = GetDeviceCaps(dc, LOGPIXELSY);
      if (caps > 0) value = caps;
      ReleaseDC(nullptr, dc);
    }
    return value;
  }();
  return dpi;
}

int MonitorDpi(HMONITOR monitor, MONITOR_DPI_TYPE kind) {
  if (monitor != nullptr && Os().flags.windows81_or_later) {
    UINT x = 0, y = 0;
    if (SUCCEEDED(Api().GetDpiForMonitor(monitor, kind, &x, &y)) && y > 0) {
      return static_cast<int>(y);
    }
  }
  return SystemDpi();
}

HWND ProgmanWindow() {
  static std::atomic<HWND> cached{nullptr};
  HWND window = cached.load();
  if (window == nullptr || !IsWindow(window)) {
    window = FindWindowW(L"Progman", nullptr);
    cached.store(window);
  }
  return window;
}

bool ShellIsRightToLeft() {
  static const bool rtl = [] {
    HWND progman = ProgmanWindow();
    return progman != nullptr && (GetWindowLongPtrW(progman, GWL_EXSTYLE) & WS_EX_LAYOUTRTL) != 0;
  }();
  return rtl;
}

bool IsWow64(HANDLE process) {
  BOOL wow64 = FALSE;
  return Api().IsWow64Process(process, &wow64) && wow64;
}

bool DwmCompositionEnabled() {
  BOOL enabled = FALSE;
  return SUCCEEDED(Api().DwmIsCompositionEnabled(&enabled)) && enabled;
}

bool IsWindowCloaked(HWND window) {
  DWORD cloaked = 0;
  return SUCCEEDED(Api().DwmGetWindowAttribute(window, DWMWA_CLOAKED, &cloaked, sizeof(cloaked))) &&
         cloaked != 0;
}

std::wstring NormaliseImagePath(std::wstring path) {
  auto blank = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; };
  while (!path.empty() && blank(path.back())) path.pop_back();
  std::size_t first = 0;
  while (first < path.size() && blank(path[first])) ++first;
  path.erase(0, first);

  // A path with a drive folder may hold short (8.3) names: expand them so the
  // same program always yields the same text.
  const std::size_t slash = path.find_last_of(L'\\');
  if (slash != std::wstring::npos) {
    const std::size_t drive = path.find(L":\\", 1);
    if (drive != std::wstring::npos && drive < slash + 1) {
      wchar_t longer[MAX_PATH] = {};
      const DWORD n = GetLongPathNameW(path.c_str(), longer, MAX_PATH);
      if (n > 0 && n < MAX_PATH) path.assign(longer, n);
    }
  }
  return path;
}

namespace {

constexpr DWORD kImagePathChars = 1025;

std::wstring ToLower(std::wstring s) {
  std::transform(s.begin(), s.end(), s.begin(), [](wchar_t c) { return std::towlower(c); });
  return s;
}

const std::wstring& OwnImagePath() {
  static const std::wstring path = [] {
    std::wstring buffer(kImagePathChars, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), kImagePathChars);
    buffer.resize(n < kImagePathChars ? n : 0);
    return ToLower(NormaliseImagePath(std::move(buffer)));
  }();
  return path;
}

std::wstring SnapshotExeName(DWORD process_id) {
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return {};
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == process_id) {
      entry.szExeFile[MAX_PATH - 1] = 0;
      return entry.szExeFile;
    }
  }
  return {};
}

}  // namespace

std::wstring ProcessImagePath(DWORD process_id, bool limited_access) {
  if (process_id == GetCurrentProcessId()) return OwnImagePath();

  std::wstring result;
  UniqueHandle process;
  bool full_access = false;
  // A 32-bit process under WOW64 cannot read a 64-bit process's module list.
  if (!(limited_access && IsWow64(GetCurrentProcess()))) {
    process.reset(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, process_id));
    full_access = static_cast<bool>(process);
  }
  if (!process && limited_access) {
    process.reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  }
  if (process) {
    std::wstring buffer(kImagePathChars, L'\0');
    if (full_access) {
      const DWORD n = GetModuleFileNameExW(process.get(), nullptr, buffer.data(), kImagePathChars);
      if (n > 0 && n < kImagePathChars) result.assign(buffer.data(), n);
    } else {
      DWORD size = kImagePathChars;
      if (Api().QueryFullProcessImageNameW(process.get(), 0, buffer.data(), &size) && size > 0 &&
          size < kImagePathChars) {
        result.assign(buffer.data(), size);
      }
    }
  }
  if (result.empty()) result = SnapshotExeName(process_id);
  return NormaliseImagePath(std::move(result));
}

void AdmitSharedMessages() {
  if (!Os().flags.vista_or_later) return;
  const OptionalApi& api = Api();
  for (UINT message : {Names().service, Names().taskbar_created}) {
    if (message != 0) api.ChangeWindowMessageFilter(message, MSGFLT_ADD);
  }
}

// ---------------------------------------------------------------------------
// Optional entry points

FARPROC SystemProcResolver(const wchar_t* module, const char* name) {
  HMODULE handle = GetModuleHandleW(module);
  // Libraries the process has not loaded yet are loaded from the system
  // folder only, never from the current directory.
  if (handle == nullptr) handle = LoadLibraryExW(module, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (handle == nullptr) handle = LoadLibraryW(module);  // systems without the search flag
  return handle != nullptr ? GetProcAddress(handle, name) : nullptr;
}

OptionalApi::OptionalApi(ProcResolver resolver, const SystemVersion& os) : resolver_(resolver) {
  if (resolver_ == nullptr) return;
  const bool vista_or_later = os.flags.vista_or_later;
  const std::uint32_t build = os.record.build;
  const wchar_t* k32 = L"kernel32.dll";
  query_full_image_name_ =
      Find<decltype(query_full_image_name_)>(k32, "QueryFullProcessImageNameW");
  get_module_handle_ex_a_ = Find<decltype(get_module_handle_ex_a_)>(k32, "GetModuleHandleExA");
  process_id_to_session_id_ =
      Find<decltype(process_id_to_session_id_)>(k32, "ProcessIdToSessionId");
  get_app_user_model_id_ = Find<decltype(get_app_user_model_id_)>(k32, "GetApplicationUserModelId");
  is_wow64_process_ = Find<decltype(is_wow64_process_)>(k32, "IsWow64Process");
  is_debugger_present_ = Find<decltype(is_debugger_present_)>(k32, "IsDebuggerPresent");

  const wchar_t* u32 = L"user32.dll";
  get_layered_attributes_ =
      Find<decltype(get_layered_attributes_)>(u32, "GetLayeredWindowAttributes");
  change_filter_ = Find<decltype(change_filter_)>(u32, "ChangeWindowMessageFilter");
  change_filter_ex_ = Find<decltype(change_filter_ex_)>(u32, "ChangeWindowMessageFilterEx");
  print_window_ = Find<decltype(print_window_)>(u32, "PrintWindow");
  is_process_dpi_aware_ = Find<decltype(is_process_dpi_aware_)>(u32, "IsProcessDPIAware");
  hung_from_ghost_ = Find<decltype(hung_from_ghost_)>(u32, "HungWindowFromGhostWindow");
  get_window_band_ = Find<decltype(get_window_band_)>(u32, "GetWindowBand");
  set_window_band_ = Find<decltype(set_window_band_)>(u32, "SetWindowBand");
  get_raw_input_data_ = Find<decltype(get_raw_input_data_)>(u32, "GetRawInputData");
  logical_to_physical_ = Find<decltype(logical_to_physical_)>(u32, "LogicalToPhysicalPoint");
  physical_to_logical_ = Find<decltype(physical_to_logical_)>(u32, "PhysicalToLogicalPoint");
  logical_to_physical_pm_ =
      Find<decltype(logical_to_physical_pm_)>(u32, "LogicalToPhysicalPointForPerMonitorDPI");
  physical_to_logical_pm_ =
      Find<decltype(physical_to_logical_pm_)>(u32, "PhysicalToLogicalPointForPerMonitorDPI");
  get_dpi_for_window_ = Find<decltype(get_dpi_for_window_)>(u32, "GetDpiForWindow");
  is_nc_dpi_scaling_enabled_ =
      Find<decltype(is_nc_dpi_scaling_enabled_)>(u32, "IsNonClientDpiScalingEnabled");
  enable_child_dpi_message_ =
      Find<decltype(enable_child_dpi_message_)>(u32, "EnableChildWindowDpiMessage");
  is_broadcasting_dpi_ =
      Find<decltype(is_broadcasting_dpi_)>(u32, "IsWindowBroadcastingDpiToChildren");
  // Earlier builds export these two but they misbehave there.
  if (build > 14392) {
    get_system_metrics_for_dpi_ =
        Find<decltype(get_system_metrics_for_dpi_)>(u32, "GetSystemMetricsForDpi");
    adjust_rect_for_dpi_ = Find<decltype(adjust_rect_for_dpi_)>(u32, "AdjustWindowRectExForDpi");
  }
  enable_nc_dpi_scaling_ = Find<decltype(enable_nc_dpi_scaling_)>(u32, "EnableNonClientDpiScaling");
  set_composition_attribute_ =
      Find<decltype(set_composition_attribute_)>(u32, "SetWindowCompositionAttribute");

  if (vista_or_later) {
    const wchar_t* dwm = L"dwmapi.dll";
    dwm_is_composition_enabled_ =
        Find<decltype(dwm_is_composition_enabled_)>(dwm, "DwmIsCompositionEnabled");
    dwm_def_window_proc_ = Find<decltype(dwm_def_window_proc_)>(dwm, "DwmDefWindowProc");
    dwm_extend_frame_ = Find<decltype(dwm_extend_frame_)>(dwm, "DwmExtendFrameIntoClientArea");
    dwm_blur_behind_ = Find<decltype(dwm_blur_behind_)>(dwm, "DwmEnableBlurBehindWindow");
    dwm_register_thumbnail_ = Find<decltype(dwm_register_thumbnail_)>(dwm, "DwmRegisterThumbnail");
    dwm_update_thumbnail_ =
        Find<decltype(dwm_update_thumbnail_)>(dwm, "DwmUpdateThumbnailProperties");
    dwm_unregister_thumbnail_ =
        Find<decltype(dwm_unregister_thumbnail_)>(dwm, "DwmUnregisterThumbnail");
    dwm_set_attribute_ = Find<decltype(dwm_set_attribute_)>(dwm, "DwmSetWindowAttribute");
    dwm_get_attribute_ = Find<decltype(dwm_get_attribute_)>(dwm, "DwmGetWindowAttribute");
    dwm_thumbnail_source_size_ =
        Find<decltype(dwm_thumbnail_source_size_)>(dwm, "DwmQueryThumbnailSourceSize");
    dwm_colorization_color_ =
        Find<decltype(dwm_colorization_color_)>(dwm, "DwmGetColorizationColor");
    dwm_iconic_thumbnail_ = Find<decltype(dwm_iconic_thumbnail_)>(dwm, "DwmSetIconicThumbnail");
    dwm_iconic_live_preview_ =
        Find<decltype(dwm_iconic_live_preview_)>(dwm, "DwmSetIconicLivePreviewBitmap");
    dwm_invalidate_iconic_ =
        Find<decltype(dwm_invalidate_iconic_)>(dwm, "DwmInvalidateIconicBitmaps");
  }

  const wchar_t* ux = L"uxtheme.dll";
  buffered_paint_init_ = Find<decltype(buffered_paint_init_)>(ux, "BufferedPaintInit");
  buffered_paint_uninit_ = Find<decltype(buffered_paint_uninit_)>(ux, "BufferedPaintUnInit");
  begin_buffered_paint_ = Find<decltype(begin_buffered_paint_)>(ux, "BeginBufferedPaint");
  end_buffered_paint_ = Find<decltype(end_buffered_paint_)>(ux, "EndBufferedPaint");
  buffered_paint_set_alpha_ =
      Find<decltype(buffered_paint_set_alpha_)>(ux, "BufferedPaintSetAlpha");
  buffered_paint_clear_ = Find<decltype(buffered_paint_clear_)>(ux, "BufferedPaintClear");
  get_buffered_paint_bits_ = Find<decltype(get_buffered_paint_bits_)>(ux, "GetBufferedPaintBits");
  draw_theme_text_ex_ = Find<decltype(draw_theme_text_ex_)>(ux, "DrawThemeTextEx");
  if (os.flags.windows10_or_later) {
    open_theme_data_for_dpi_ = Find<decltype(open_theme_data_for_dpi_)>(ux, "OpenThemeDataForDpi");
  }
}

void OptionalApi::LoadShcore() const {
  InitOnceExecuteOnce(
      &shcore_once_,
      [](PINIT_ONCE, PVOID self, PVOID*) -> BOOL {
        auto* api = static_cast<const OptionalApi*>(self);
        if (api->resolver_ == nullptr) return TRUE;
        api->get_dpi_for_monitor_ =
            api->Find<decltype(api->get_dpi_for_monitor_)>(L"shcore.dll", "GetDpiForMonitor");
        api->get_scale_factor_ =
            api->Find<decltype(api->get_scale_factor_)>(L"shcore.dll", "GetScaleFactorForDevice");
        return TRUE;
      },
      const_cast<OptionalApi*>(this), nullptr);
}

void OptionalApi::LoadShell32() const {
  InitOnceExecuteOnce(
      &shell32_once_,
      [](PINIT_ONCE, PVOID self, PVOID*) -> BOOL {
        auto* api = static_cast<const OptionalApi*>(self);
        if (api->resolver_ == nullptr) return TRUE;
        api->sh_get_name_from_id_list_ = api->Find<decltype(api->sh_get_name_from_id_list_)>(
            L"shell32.dll", "SHGetNameFromIDList");
        api->set_app_user_model_id_ = api->Find<decltype(api->set_app_user_model_id_)>(
            L"shell32.dll", "SetCurrentProcessExplicitAppUserModelID");
        return TRUE;
      },
      const_cast<OptionalApi*>(this), nullptr);
}

// Each wrapper: call when present, else the failure value.
#define VM_CALL_OR(fn, failure, ...) return (fn) != nullptr ? (fn)(__VA_ARGS__) : (failure)

BOOL OptionalApi::QueryFullProcessImageNameW(HANDLE p, DWORD f, LPWSTR n, PDWORD s) const {
  VM_CALL_OR(query_full_image_name_, FALSE, p, f, n, s);
}
BOOL OptionalApi::GetModuleHandleExA(DWORD f, LPCSTR n, HMODULE* m) const {
  VM_CALL_OR(get_module_handle_ex_a_, FALSE, f, n, m);
}
BOOL OptionalApi::ProcessIdToSessionId(DWORD p, DWORD* s) const {
  VM_CALL_OR(process_id_to_session_id_, FALSE, p, s);
}
LONG OptionalApi::GetApplicationUserModelId(HANDLE p, UINT32* l, PWSTR id) const {
  VM_CALL_OR(get_app_user_model_id_, static_cast<LONG>(ERROR_CALL_NOT_IMPLEMENTED), p, l, id);
}
BOOL OptionalApi::IsWow64Process(HANDLE p, PBOOL w) const {
  VM_CALL_OR(is_wow64_process_, FALSE, p, w);
}
BOOL OptionalApi::IsDebuggerPresent() const { VM_CALL_OR(is_debugger_present_, FALSE); }

BOOL OptionalApi::GetLayeredWindowAttributes(HWND w, COLORREF* k, BYTE* a, DWORD* f) const {
  VM_CALL_OR(get_layered_attributes_, FALSE, w, k, a, f);
}
BOOL OptionalApi::ChangeWindowMessageFilter(UINT m, DWORD a) const {
  VM_CALL_OR(change_filter_, FALSE, m, a);
}
BOOL OptionalApi::ChangeWindowMessageFilterEx(HWND w, UINT m, DWORD a,
                                              PCHANGEFILTERSTRUCT i) const {
  VM_CALL_OR(change_filter_ex_, FALSE, w, m, a, i);
}
BOOL OptionalApi::PrintWindow(HWND w, HDC dc, UINT f) const {
  VM_CALL_OR(print_window_, FALSE, w, dc, f);
}
BOOL OptionalApi::IsProcessDPIAware() const { VM_CALL_OR(is_process_dpi_aware_, FALSE); }
HWND OptionalApi::HungWindowFromGhostWindow(HWND g) const {
  VM_CALL_OR(hung_from_ghost_, static_cast<HWND>(nullptr), g);
}
BOOL OptionalApi::GetWindowBand(HWND w, DWORD* b) const {
  VM_CALL_OR(get_window_band_, FALSE, w, b);
}
BOOL OptionalApi::SetWindowBand(HWND w, HWND after, DWORD b) const {
  VM_CALL_OR(set_window_band_, FALSE, w, after, b);
}
UINT OptionalApi::GetRawInputData(HRAWINPUT i, UINT c, LPVOID d, PUINT s, UINT h) const {
  VM_CALL_OR(get_raw_input_data_, static_cast<UINT>(-1), i, c, d, s, h);
}
BOOL OptionalApi::LogicalToPhysicalPoint(HWND w, LPPOINT p) const {
  VM_CALL_OR(logical_to_physical_, FALSE, w, p);
}
BOOL OptionalApi::PhysicalToLogicalPoint(HWND w, LPPOINT p) const {
  VM_CALL_OR(physical_to_logical_, FALSE, w, p);
}
BOOL OptionalApi::LogicalToPhysicalPointForPerMonitorDPI(HWND w, LPPOINT p) const {
  VM_CALL_OR(logical_to_physical_pm_, FALSE, w, p);
}
BOOL OptionalApi::PhysicalToLogicalPointForPerMonitorDPI(HWND w, LPPOINT p) const {
  VM_CALL_OR(physical_to_logical_pm_, FALSE, w, p);
}
UINT OptionalApi::GetDpiForWindow(HWND w) const { VM_CALL_OR(get_dpi_for_window_, 0u, w); }
BOOL OptionalApi::IsNonClientDpiScalingEnabled(HWND w) const {
  VM_CALL_OR(is_nc_dpi_scaling_enabled_, FALSE, w);
}
BOOL OptionalApi::EnableChildWindowDpiMessage(HWND w, BOOL e) const {
  VM_CALL_OR(enable_child_dpi_message_, FALSE, w, e);
}
BOOL OptionalApi::IsWindowBroadcastingDpiToChildren(HWND w) const {
  VM_CALL_OR(is_broadcasting_dpi_, FALSE, w);
}
int OptionalApi::GetSystemMetricsForDpi(int i, UINT dpi) const {
  VM_CALL_OR(get_system_metrics_for_dpi_, 0, i, dpi);
}
BOOL OptionalApi::AdjustWindowRectExForDpi(LPRECT r, DWORD s, BOOL m, DWORD x, UINT dpi) const {
  VM_CALL_OR(adjust_rect_for_dpi_, FALSE, r, s, m, x, dpi);
}
BOOL OptionalApi::EnableNonClientDpiScaling(HWND w) const {
  VM_CALL_OR(enable_nc_dpi_scaling_, FALSE, w);
}
BOOL OptionalApi::SetWindowCompositionAttribute(HWND w, WindowCompositionAttribData* d) const {
  VM_CALL_OR(set_composition_attribute_, FALSE, w, d);
}

HRESULT OptionalApi::DwmIsCompositionEnabled(BOOL* e) const {
  VM_CALL_OR(dwm_is_composition_enabled_, E_FAIL, e);
}
BOOL OptionalApi::DwmDefWindowProc(HWND w, UINT m, WPARAM wp, LPARAM lp, LRESULT* r) const {
  VM_CALL_OR(dwm_def_window_proc_, FALSE, w, m, wp, lp, r);
}
HRESULT OptionalApi::DwmExtendFrameIntoClientArea(HWND w, const MARGINS* m) const {
  VM_CALL_OR(dwm_extend_frame_, E_FAIL, w, m);
}
HRESULT OptionalApi::DwmEnableBlurBehindWindow(HWND w, const DWM_BLURBEHIND* b) const {
  VM_CALL_OR(dwm_blur_behind_, E_FAIL, w, b);
}
HRESULT OptionalApi::DwmRegisterThumbnail(HWND d, HWND s, PHTHUMBNAIL t) const {
  VM_CALL_OR(dwm_register_thumbnail_, E_FAIL, d, s, t);
}
HRESULT OptionalApi::DwmUpdateThumbnailProperties(HTHUMBNAIL t,
                                                  const DWM_THUMBNAIL_PROPERTIES* p) const {
  VM_CALL_OR(dwm_update_thumbnail_, E_FAIL, t, p);
}
HRESULT OptionalApi::DwmUnregisterThumbnail(HTHUMBNAIL t) const {
  VM_CALL_OR(dwm_unregister_thumbnail_, E_FAIL, t);
}
HRESULT OptionalApi::DwmSetWindowAttribute(HWND w, DWORD a, LPCVOID v, DWORD s) const {
  VM_CALL_OR(dwm_set_attribute_, E_FAIL, w, a, v, s);
}
HRESULT OptionalApi::DwmGetWindowAttribute(HWND w, DWORD a, PVOID v, DWORD s) const {
  VM_CALL_OR(dwm_get_attribute_, E_FAIL, w, a, v, s);
}
HRESULT OptionalApi::DwmQueryThumbnailSourceSize(HTHUMBNAIL t, PSIZE s) const {
  VM_CALL_OR(dwm_thumbnail_source_size_, E_FAIL, t, s);
}
HRESULT OptionalApi::DwmGetColorizationColor(DWORD* c, BOOL* o) const {
  VM_CALL_OR(dwm_colorization_color_, E_FAIL, c, o);
}
HRESULT OptionalApi::DwmSetIconicThumbnail(HWND w, HBITMAP b, DWORD f) const {
  VM_CALL_OR(dwm_iconic_thumbnail_, E_FAIL, w, b, f);
}
HRESULT OptionalApi::DwmSetIconicLivePreviewBitmap(HWND w, HBITMAP b, POINT* o, DWORD f) const {
  VM_CALL_OR(dwm_iconic_live_preview_, E_FAIL, w, b, o, f);
}
HRESULT OptionalApi::DwmInvalidateIconicBitmaps(HWND w) const {
  VM_CALL_OR(dwm_invalidate_iconic_, E_FAIL, w);
}

HRESULT OptionalApi::BufferedPaintInit() const { VM_CALL_OR(buffered_paint_init_, E_NOTIMPL); }
HRESULT OptionalApi::BufferedPaintUnInit() const { VM_CALL_OR(buffered_paint_uninit_, E_NOTIMPL); }
HPAINTBUFFER OptionalApi::BeginBufferedPaint(HDC t, const RECT* r, BP_BUFFERFORMAT f,
                                             BP_PAINTPARAMS* p, HDC* dc) const {
  VM_CALL_OR(begin_buffered_paint_, static_cast<HPAINTBUFFER>(nullptr), t, r, f, p, dc);
}
HRESULT OptionalApi::EndBufferedPaint(HPAINTBUFFER b, BOOL u) const {
  VM_CALL_OR(end_buffered_paint_, E_NOTIMPL, b, u);
}
HRESULT OptionalApi::BufferedPaintSetAlpha(HPAINTBUFFER b, const RECT* r, BYTE a) const {
  VM_CALL_OR(buffered_paint_set_alpha_, E_NOTIMPL, b, r, a);
}
HRESULT OptionalApi::BufferedPaintClear(HPAINTBUFFER b, const RECT* r) const {
  VM_CALL_OR(buffered_paint_clear_, E_NOTIMPL, b, r);
}
HRESULT OptionalApi::GetBufferedPaintBits(HPAINTBUFFER b, RGBQUAD** bits, int* w) const {
  VM_CALL_OR(get_buffered_paint_bits_, E_NOTIMPL, b, bits, w);
}
HRESULT OptionalApi::DrawThemeTextEx(HTHEME t, HDC dc, int p, int s, LPCWSTR text, int n, DWORD f,
                                     LPRECT r, const DTTOPTS* o) const {
  VM_CALL_OR(draw_theme_text_ex_, E_NOTIMPL, t, dc, p, s, text, n, f, r, o);
}
HTHEME OptionalApi::OpenThemeDataForDpi(HWND w, LPCWSTR c, UINT dpi) const {
  VM_CALL_OR(open_theme_data_for_dpi_, static_cast<HTHEME>(nullptr), w, c, dpi);
}

HRESULT OptionalApi::GetDpiForMonitor(HMONITOR m, MONITOR_DPI_TYPE k, UINT* x, UINT* y) const {
  LoadShcore();
  VM_CALL_OR(get_dpi_for_monitor_, E_NOTIMPL, m, k, x, y);
}
DEVICE_SCALE_FACTOR OptionalApi::GetScaleFactorForDevice(DISPLAY_DEVICE_TYPE d) const {
  LoadShcore();
  VM_CALL_OR(get_scale_factor_, static_cast<DEVICE_SCALE_FACTOR>(0), d);
}
HRESULT OptionalApi::SHGetNameFromIDList(PCIDLIST_ABSOLUTE p, SIGDN k, PWSTR* n) const {
  LoadShell32();
  VM_CALL_OR(sh_get_name_from_id_list_, E_FAIL, p, k, n);
}
HRESULT OptionalApi::SetCurrentProcessExplicitAppUserModelID(PCWSTR id) const {
  LoadShell32();
  VM_CALL_OR(set_app_user_model_id_, E_FAIL, id);
}
bool OptionalApi::HasSetCurrentProcessExplicitAppUserModelID() const {
  LoadShell32();
  return set_app_user_model_id_ != nullptr;
}

#undef VM_CALL_OR

const OptionalApi& Api() {
  static const OptionalApi api(&SystemProcResolver, Os());
  return api;
}

}  // namespace vm
