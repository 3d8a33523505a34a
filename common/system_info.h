#pragma once
// Which Windows we run on, DPI, the right-to-left shell, WOW64, process image
// paths, and the operating-system entry points that exist only on some
// versions. Other code asks these questions here and never reads version
// numbers itself.
#include <windows.h>

#include <dwmapi.h>
#include <shellscalingapi.h>
#include <shobjidl.h>
#include <shtypes.h>
#include <uxtheme.h>

#include <cstdint>
#include <optional>
#include <string>

namespace vm {

// ---------------------------------------------------------------------------
// Version

struct VersionNumbers {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  std::uint32_t ubr = 0;  // update build revision; 0 when unknown
};

// Named after the releases they stand for. "Is" flags need major and minor
// equal, "OrLater" flags need at least that major.minor.
struct VersionFlags {
  bool windows2000 = false;
  bool windows_xp = false;
  bool xp_or_later = false;
  bool vista = false;
  bool vista_or_later = false;
  bool windows7 = false;
  bool windows7_or_later = false;
  bool windows8 = false;
  bool windows8_or_later = false;
  bool windows81 = false;
  bool windows81_or_later = false;
  bool windows10_or_later = false;
  bool windows11 = false;
  bool windows10_only = false;
  bool windows11_22621 = false;
  bool windows11_22621_2861 = false;
};

// Pure: the flags follow from the numbers alone.
VersionFlags ComputeVersionFlags(const VersionNumbers& v);

struct WindowsVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  std::uint8_t product_type = 0;  // 1 workstation, 2 domain controller, 3 server; before 6.2 only
  std::uint16_t service_pack_major = 0;
  std::uint16_t service_pack_minor = 0;
};

// The system questions behind the version record. Windows lies about its
// version to programs without the right manifest, so the record is assembled
// from several sources; this seam lets each source be replaced in tests.
class VersionProbe {
 public:
  virtual ~VersionProbe() = default;
  // VerifyVersionInfoA with `type_bit` and VER_EQUAL: is the system's value `value`?
  virtual bool VersionEquals(DWORD type_bit, DWORD value) = 0;
  // VerifyVersionInfoA with VER_BUILDNUMBER and VER_LESS: is the build below `candidate`?
  virtual bool BuildBelow(DWORD candidate) = 0;
  // Product version of kernel32.dll: major, minor, build.
  virtual std::optional<WindowsVersion> Kernel32Version() = 0;
  // "CurrentBuildNumber" and "UBR" under HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion.
  virtual std::optional<std::uint32_t> RegistryBuild() = 0;
  virtual std::optional<std::uint32_t> RegistryUbr() = 0;
};

VersionProbe& SystemVersionProbe();

// Fills the record the way the product always has: count with
// VerifyVersionInfoA, trust kernel32's product version from 6.2 on, and from
// build 18362 on take the registry's build when it is larger.
WindowsVersion ReadWindowsVersion(VersionProbe& probe);

struct SystemVersion {
  WindowsVersion record;
  std::uint32_t ubr = 0;
  VersionFlags flags;

  bool Is(std::uint32_t major, std::uint32_t minor) const {
    return record.major == major && record.minor == minor;
  }
  bool AtLeast(std::uint32_t major, std::uint32_t minor) const {
    return record.major > major || (record.major == major && record.minor >= minor);
  }
  bool BuildAtLeast(std::uint32_t build) const { return record.build >= build; }
};

// Record, revision (read only on Windows 10 or later) and flags from a probe.
SystemVersion ReadSystemVersion(VersionProbe& probe);

// The process-wide answer, filled on first use.
const SystemVersion& Os();

// ---------------------------------------------------------------------------
// Display, shell and processes

// GetDeviceCaps(LOGPIXELSY) of the screen, read once.
int SystemDpi();
// Effective (or other) DPI of a monitor on Windows 8.1 or later; the system
// DPI where the query is missing or fails.
int MonitorDpi(HMONITOR monitor, MONITOR_DPI_TYPE kind = MDT_EFFECTIVE_DPI);
// True when the shell's "Progman" window is laid out right to left. Read on
// first use and kept for the life of the process.
bool ShellIsRightToLeft();
// The shell's "Progman" window, cached while it stays valid.
HWND ProgmanWindow();
// IsWow64Process; false when the function is missing or fails.
bool IsWow64(HANDLE process);
// DwmIsCompositionEnabled succeeded and said yes.
bool DwmCompositionEnabled();
// DWMWA_CLOAKED read and non-zero.
bool IsWindowCloaked(HWND window);

// Full path of a process's image; for our own process the cached lower-case
// path. Falls back to the bare file name from a process snapshot, and to ""
// when the process is unknown. `limited_access` allows opening the process
// with PROCESS_QUERY_LIMITED_INFORMATION when fuller access is refused.
std::wstring ProcessImagePath(DWORD process_id, bool limited_access);
// Trims blanks and expands 8.3 names in a path that has a drive folder.
std::wstring NormaliseImagePath(std::wstring path);

// Lets the service message and "TaskbarCreated" through the user-interface
// privilege filter (Vista or later), since their senders may run at another
// integrity level. Shared names must be initialised.
void AdmitSharedMessages();

// ---------------------------------------------------------------------------
// Optional entry points

// Undocumented structure of SetWindowCompositionAttribute.
struct WindowCompositionAttribData {
  DWORD attribute;
  void* data;
  SIZE_T size;
};

// Finds an exported function: module file name and export name. The system
// resolver loads dwmapi, uxtheme, shcore and shell32 when asked for them.
using ProcResolver = FARPROC (*)(const wchar_t* module, const char* name);
FARPROC SystemProcResolver(const wchar_t* module, const char* name);

// Every function here exists only on some Windows versions (or not under
// every Windows-compatible platform), so each is looked up by name and called
// through a wrapper that answers a failure value when it is missing: FALSE,
// 0 or nullptr for plain functions, E_FAIL for DWM and shell functions,
// E_NOTIMPL for other functions that return an HRESULT. Functions that
// report errors through a value of their own (GetRawInputData: (UINT)-1,
// GetApplicationUserModelId: ERROR_CALL_NOT_IMPLEMENTED) answer that value,
// so a missing function never looks like success.
//
// The process-wide table is built on first use; never from DllMain, because
// it may load libraries.
class OptionalApi {
 public:
  // The version decides what is looked up at all: dwmapi from Vista on, the
  // DPI metrics above build 14392, OpenThemeDataForDpi from Windows 10 on.
  OptionalApi(ProcResolver resolver, const SystemVersion& os);

  // kernel32
  BOOL QueryFullProcessImageNameW(HANDLE process, DWORD flags, LPWSTR name, PDWORD size) const;
  BOOL GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* module) const;
  BOOL ProcessIdToSessionId(DWORD process_id, DWORD* session) const;
  LONG GetApplicationUserModelId(HANDLE process, UINT32* length, PWSTR id) const;
  BOOL IsWow64Process(HANDLE process, PBOOL wow64) const;
  BOOL IsDebuggerPresent() const;

  // user32
  BOOL GetLayeredWindowAttributes(HWND window, COLORREF* key, BYTE* alpha, DWORD* flags) const;
  BOOL ChangeWindowMessageFilter(UINT message, DWORD action) const;
  BOOL ChangeWindowMessageFilterEx(HWND window, UINT message, DWORD action,
                                   PCHANGEFILTERSTRUCT info) const;
  BOOL PrintWindow(HWND window, HDC dc, UINT flags) const;
  BOOL IsProcessDPIAware() const;
  HWND HungWindowFromGhostWindow(HWND ghost) const;
  BOOL GetWindowBand(HWND window, DWORD* band) const;
  BOOL SetWindowBand(HWND window, HWND insert_after, DWORD band) const;
  UINT GetRawInputData(HRAWINPUT input, UINT command, LPVOID data, PUINT size,
                       UINT header_size) const;
  BOOL LogicalToPhysicalPoint(HWND window, LPPOINT point) const;
  BOOL PhysicalToLogicalPoint(HWND window, LPPOINT point) const;
  BOOL LogicalToPhysicalPointForPerMonitorDPI(HWND window, LPPOINT point) const;
  BOOL PhysicalToLogicalPointForPerMonitorDPI(HWND window, LPPOINT point) const;
  UINT GetDpiForWindow(HWND window) const;
  BOOL IsNonClientDpiScalingEnabled(HWND window) const;
  BOOL EnableChildWindowDpiMessage(HWND window, BOOL enable) const;
  BOOL IsWindowBroadcastingDpiToChildren(HWND window) const;
  int GetSystemMetricsForDpi(int index, UINT dpi) const;
  BOOL AdjustWindowRectExForDpi(LPRECT rect, DWORD style, BOOL menu, DWORD ex_style,
                                UINT dpi) const;
  BOOL EnableNonClientDpiScaling(HWND window) const;
  BOOL SetWindowCompositionAttribute(HWND window, WindowCompositionAttribData* data) const;

  // dwmapi
  HRESULT DwmIsCompositionEnabled(BOOL* enabled) const;
  BOOL DwmDefWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT* result) const;
  HRESULT DwmExtendFrameIntoClientArea(HWND window, const MARGINS* margins) const;
  HRESULT DwmEnableBlurBehindWindow(HWND window, const DWM_BLURBEHIND* blur) const;
  HRESULT DwmRegisterThumbnail(HWND destination, HWND source, PHTHUMBNAIL thumbnail) const;
  HRESULT DwmUpdateThumbnailProperties(HTHUMBNAIL thumbnail,
                                       const DWM_THUMBNAIL_PROPERTIES* properties) const;
  HRESULT DwmUnregisterThumbnail(HTHUMBNAIL thumbnail) const;
  HRESULT DwmSetWindowAttribute(HWND window, DWORD attribute, LPCVOID value, DWORD size) const;
  HRESULT DwmGetWindowAttribute(HWND window, DWORD attribute, PVOID value, DWORD size) const;
  HRESULT DwmQueryThumbnailSourceSize(HTHUMBNAIL thumbnail, PSIZE size) const;
  HRESULT DwmGetColorizationColor(DWORD* color, BOOL* opaque_blend) const;
  HRESULT DwmSetIconicThumbnail(HWND window, HBITMAP bitmap, DWORD flags) const;
  HRESULT DwmSetIconicLivePreviewBitmap(HWND window, HBITMAP bitmap, POINT* client_origin,
                                        DWORD flags) const;
  HRESULT DwmInvalidateIconicBitmaps(HWND window) const;

  // uxtheme: buffered painting and DPI-aware theme data
  HRESULT BufferedPaintInit() const;
  HRESULT BufferedPaintUnInit() const;
  HPAINTBUFFER BeginBufferedPaint(HDC target, const RECT* rect, BP_BUFFERFORMAT format,
                                  BP_PAINTPARAMS* params, HDC* paint_dc) const;
  HRESULT EndBufferedPaint(HPAINTBUFFER buffer, BOOL update_target) const;
  HRESULT BufferedPaintSetAlpha(HPAINTBUFFER buffer, const RECT* rect, BYTE alpha) const;
  HRESULT BufferedPaintClear(HPAINTBUFFER buffer, const RECT* rect) const;
  HRESULT GetBufferedPaintBits(HPAINTBUFFER buffer, RGBQUAD** bits, int* row_width) const;
  HRESULT DrawThemeTextEx(HTHEME theme, HDC dc, int part, int state, LPCWSTR text, int length,
                          DWORD flags, LPRECT rect, const DTTOPTS* options) const;
  HTHEME OpenThemeDataForDpi(HWND window, LPCWSTR class_list, UINT dpi) const;

  // shcore (loaded on first use)
  HRESULT GetDpiForMonitor(HMONITOR monitor, MONITOR_DPI_TYPE kind, UINT* dpi_x, UINT* dpi_y) const;
  DEVICE_SCALE_FACTOR GetScaleFactorForDevice(DISPLAY_DEVICE_TYPE device) const;

  // shell32 (looked up on first call)
  HRESULT SHGetNameFromIDList(PCIDLIST_ABSOLUTE pidl, SIGDN kind, PWSTR* name) const;
  HRESULT SetCurrentProcessExplicitAppUserModelID(PCWSTR id) const;

  // Whether an entry point was found; for callers that choose another path.
  bool HasGetWindowBand() const { return get_window_band_ != nullptr; }
  bool HasChangeWindowMessageFilterEx() const { return change_filter_ex_ != nullptr; }
  bool HasChangeWindowMessageFilter() const { return change_filter_ != nullptr; }
  bool HasSetCurrentProcessExplicitAppUserModelID() const;

 private:
  template <typename Fn>
  Fn Find(const wchar_t* module, const char* name) const {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(resolver_(module, name)));
  }
  void LoadShcore() const;
  void LoadShell32() const;

  ProcResolver resolver_;

  BOOL(WINAPI* query_full_image_name_)(HANDLE, DWORD, LPWSTR, PDWORD) = nullptr;
  BOOL(WINAPI* get_module_handle_ex_a_)(DWORD, LPCSTR, HMODULE*) = nullptr;
  BOOL(WINAPI* process_id_to_session_id_)(DWORD, DWORD*) = nullptr;
  LONG(WINAPI* get_app_user_model_id_)(HANDLE, UINT32*, PWSTR) = nullptr;
  BOOL(WINAPI* is_wow64_process_)(HANDLE, PBOOL) = nullptr;
  BOOL(WINAPI* is_debugger_present_)() = nullptr;

  BOOL(WINAPI* get_layered_attributes_)(HWND, COLORREF*, BYTE*, DWORD*) = nullptr;
  BOOL(WINAPI* change_filter_)(UINT, DWORD) = nullptr;
  BOOL(WINAPI* change_filter_ex_)(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT) = nullptr;
  BOOL(WINAPI* print_window_)(HWND, HDC, UINT) = nullptr;
  BOOL(WINAPI* is_process_dpi_aware_)() = nullptr;
  HWND(WINAPI* hung_from_ghost_)(HWND) = nullptr;
  BOOL(WINAPI* get_window_band_)(HWND, DWORD*) = nullptr;
  BOOL(WINAPI* set_window_band_)(HWND, HWND, DWORD) = nullptr;
  UINT(WINAPI* get_raw_input_data_)(HRAWINPUT, UINT, LPVOID, PUINT, UINT) = nullptr;
  BOOL(WINAPI* logical_to_physical_)(HWND, LPPOINT) = nullptr;
  BOOL(WINAPI* physical_to_logical_)(HWND, LPPOINT) = nullptr;
  BOOL(WINAPI* logical_to_physical_pm_)(HWND, LPPOINT) = nullptr;
  BOOL(WINAPI* physical_to_logical_pm_)(HWND, LPPOINT) = nullptr;
  UINT(WINAPI* get_dpi_for_window_)(HWND) = nullptr;
  BOOL(WINAPI* is_nc_dpi_scaling_enabled_)(HWND) = nullptr;
  BOOL(WINAPI* enable_child_dpi_message_)(HWND, BOOL) = nullptr;
  BOOL(WINAPI* is_broadcasting_dpi_)(HWND) = nullptr;
  int(WINAPI* get_system_metrics_for_dpi_)(int, UINT) = nullptr;
  BOOL(WINAPI* adjust_rect_for_dpi_)(LPRECT, DWORD, BOOL, DWORD, UINT) = nullptr;
  BOOL(WINAPI* enable_nc_dpi_scaling_)(HWND) = nullptr;
  BOOL(WINAPI* set_composition_attribute_)(HWND, WindowCompositionAttribData*) = nullptr;

  HRESULT(WINAPI* dwm_is_composition_enabled_)(BOOL*) = nullptr;
  BOOL(WINAPI* dwm_def_window_proc_)(HWND, UINT, WPARAM, LPARAM, LRESULT*) = nullptr;
  HRESULT(WINAPI* dwm_extend_frame_)(HWND, const MARGINS*) = nullptr;
  HRESULT(WINAPI* dwm_blur_behind_)(HWND, const DWM_BLURBEHIND*) = nullptr;
  HRESULT(WINAPI* dwm_register_thumbnail_)(HWND, HWND, PHTHUMBNAIL) = nullptr;
  HRESULT(WINAPI* dwm_update_thumbnail_)(HTHUMBNAIL, const DWM_THUMBNAIL_PROPERTIES*) = nullptr;
  HRESULT(WINAPI* dwm_unregister_thumbnail_)(HTHUMBNAIL) = nullptr;
  HRESULT(WINAPI* dwm_set_attribute_)(HWND, DWORD, LPCVOID, DWORD) = nullptr;
  HRESULT(WINAPI* dwm_get_attribute_)(HWND, DWORD, PVOID, DWORD) = nullptr;
  HRESULT(WINAPI* dwm_thumbnail_source_size_)(HTHUMBNAIL, PSIZE) = nullptr;
  HRESULT(WINAPI* dwm_colorization_color_)(DWORD*, BOOL*) = nullptr;
  HRESULT(WINAPI* dwm_iconic_thumbnail_)(HWND, HBITMAP, DWORD) = nullptr;
  HRESULT(WINAPI* dwm_iconic_live_preview_)(HWND, HBITMAP, POINT*, DWORD) = nullptr;
  HRESULT(WINAPI* dwm_invalidate_iconic_)(HWND) = nullptr;

  HRESULT(WINAPI* buffered_paint_init_)() = nullptr;
  HRESULT(WINAPI* buffered_paint_uninit_)() = nullptr;
  HPAINTBUFFER(WINAPI* begin_buffered_paint_)
  (HDC, const RECT*, BP_BUFFERFORMAT, BP_PAINTPARAMS*, HDC*) = nullptr;
  HRESULT(WINAPI* end_buffered_paint_)(HPAINTBUFFER, BOOL) = nullptr;
  HRESULT(WINAPI* buffered_paint_set_alpha_)(HPAINTBUFFER, const RECT*, BYTE) = nullptr;
  HRESULT(WINAPI* buffered_paint_clear_)(HPAINTBUFFER, const RECT*) = nullptr;
  HRESULT(WINAPI* get_buffered_paint_bits_)(HPAINTBUFFER, RGBQUAD**, int*) = nullptr;
  HRESULT(WINAPI* draw_theme_text_ex_)
  (HTHEME, HDC, int, int, LPCWSTR, int, DWORD, LPRECT, const DTTOPTS*) = nullptr;
  HTHEME(WINAPI* open_theme_data_for_dpi_)(HWND, LPCWSTR, UINT) = nullptr;

  // Looked up lazily: shcore and shell32 are loaded only when used.
  mutable INIT_ONCE shcore_once_ = INIT_ONCE_STATIC_INIT;
  mutable INIT_ONCE shell32_once_ = INIT_ONCE_STATIC_INIT;
  mutable HRESULT(WINAPI* get_dpi_for_monitor_)(HMONITOR, MONITOR_DPI_TYPE, UINT*, UINT*) = nullptr;
  mutable DEVICE_SCALE_FACTOR(WINAPI* get_scale_factor_)(DISPLAY_DEVICE_TYPE) = nullptr;
  mutable HRESULT(WINAPI* sh_get_name_from_id_list_)(PCIDLIST_ABSOLUTE, SIGDN, PWSTR*) = nullptr;
  mutable HRESULT(WINAPI* set_app_user_model_id_)(PCWSTR) = nullptr;
};

// The process-wide table.
const OptionalApi& Api();

}  // namespace vm
