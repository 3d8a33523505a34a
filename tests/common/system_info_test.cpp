#include "common/system_info.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/paths.h"

namespace {

using vm::ComputeVersionFlags;
using vm::VersionFlags;
using vm::VersionNumbers;

// ---------------------------------------------------------------------------
// Flags from numbers

struct FlagCase {
  const char* name;
  VersionNumbers v;
  // The flags that must be set; every other flag must be clear.
  std::initializer_list<bool VersionFlags::*> set;
};

const bool VersionFlags::*const kAllFlags[] = {
    &VersionFlags::windows2000,        &VersionFlags::windows_xp,
    &VersionFlags::xp_or_later,        &VersionFlags::vista,
    &VersionFlags::vista_or_later,     &VersionFlags::windows7,
    &VersionFlags::windows7_or_later,  &VersionFlags::windows8,
    &VersionFlags::windows8_or_later,  &VersionFlags::windows81,
    &VersionFlags::windows81_or_later, &VersionFlags::windows10_or_later,
    &VersionFlags::windows11,          &VersionFlags::windows10_only,
    &VersionFlags::windows11_22621,    &VersionFlags::windows11_22621_2861,
};

using F = VersionFlags;
constexpr auto kUpTo81 = {&F::xp_or_later, &F::vista_or_later, &F::windows7_or_later,
                          &F::windows8_or_later, &F::windows81_or_later};

TEST(VersionFlags, FollowFromNumbersAlone) {
  const FlagCase cases[] = {
      {"2000", {5, 0, 2195, 0}, {&F::windows2000}},
      {"XP", {5, 1, 2600, 0}, {&F::windows_xp, &F::xp_or_later}},
      {"Server 2003", {5, 2, 3790, 0}, {&F::xp_or_later}},
      {"Vista", {6, 0, 6002, 0}, {&F::vista, &F::xp_or_later, &F::vista_or_later}},
      {"7",
       {6, 1, 7601, 0},
       {&F::windows7, &F::xp_or_later, &F::vista_or_later, &F::windows7_or_later}},
      {"8",
       {6, 2, 9200, 0},
       {&F::windows8, &F::xp_or_later, &F::vista_or_later, &F::windows7_or_later,
        &F::windows8_or_later}},
      {"8.1",
       {6, 3, 9600, 0},
       {&F::windows81, &F::xp_or_later, &F::vista_or_later, &F::windows7_or_later,
        &F::windows8_or_later, &F::windows81_or_later}},
      {"10 preview as 6.4",
       {6, 4, 9841, 0},
       {&F::xp_or_later, &F::vista_or_later, &F::windows7_or_later, &F::windows8_or_later,
        &F::windows81_or_later, &F::windows10_or_later, &F::windows10_only}},
      {"10 19045",
       {10, 0, 19045, 3803},
       {&F::xp_or_later, &F::vista_or_later, &F::windows7_or_later, &F::windows8_or_later,
        &F::windows81_or_later, &F::windows10_or_later, &F::windows10_only}},
      {"10 21999 is still 10",
       {10, 0, 21999, 0},
       {&F::xp_or_later, &F::vista_or_later, &F::windows7_or_later, &F::windows8_or_later,
        &F::windows81_or_later, &F::windows10_or_later, &F::windows10_only}},
      {"11 22000",
       {10, 0, 22000, 0},
       {&F::xp_or_later, &F::vista_or_later, &F::windows7_or_later, &F::windows8_or_later,
        &F::windows81_or_later, &F::windows10_or_later, &F::windows11}},
      {"11 22620",
       {10, 0, 22620, 9999},
       {&F::xp_or_later, &F::vista_or_later, &F::windows7_or_later, &F::windows8_or_later,
        &F::windows81_or_later, &F::windows10_or_later, &F::windows11}},
      {"11 22621.2860",
       {10, 0, 22621, 2860},
       {&F::xp_or_later, &F::vista_or_later, &F::windows7_or_later, &F::windows8_or_later,
        &F::windows81_or_later, &F::windows10_or_later, &F::windows11, &F::windows11_22621}},
      {"11 22621.2861",
       {10, 0, 22621, 2861},
       {&F::xp_or_later, &F::vista_or_later, &F::windows7_or_later, &F::windows8_or_later,
        &F::windows81_or_later, &F::windows10_or_later, &F::windows11, &F::windows11_22621,
        &F::windows11_22621_2861}},
      {"11 22631 whatever the revision",
       {10, 0, 22631, 0},
       {&F::xp_or_later, &F::vista_or_later, &F::windows7_or_later, &F::windows8_or_later,
        &F::windows81_or_later, &F::windows10_or_later, &F::windows11, &F::windows11_22621,
        &F::windows11_22621_2861}},
      {"a later major", {11, 0, 30000, 0}, kUpTo81},
  };
  for (const FlagCase& c : cases) {
    const VersionFlags flags = ComputeVersionFlags(c.v);
    for (auto member : kAllFlags) {
      bool expected = false;
      for (auto s : c.set) expected = expected || s == member;
      // A later major counts as "10 or later" as well.
      if (std::string(c.name) == "a later major" && member == &F::windows10_or_later)
        expected = true;
      EXPECT_EQ(flags.*member, expected) << c.name << ", flag #" << (&member - &kAllFlags[0]);
    }
  }
}

// ---------------------------------------------------------------------------
// Assembling the record from its sources

class FakeProbe : public vm::VersionProbe {
 public:
  // What VerifyVersionInfoA would say about the system.
  DWORD major = 6, minor = 2, product_type = 1, sp_major = 0, sp_minor = 0, build = 9200;
  bool verify_works = true;
  std::optional<vm::WindowsVersion> kernel32;
  std::optional<std::uint32_t> registry_build;
  std::optional<std::uint32_t> registry_ubr;
  int kernel32_reads = 0, ubr_reads = 0, verify_calls = 0;

  bool VersionEquals(DWORD type_bit, DWORD value) override {
    ++verify_calls;
    if (!verify_works) return false;
    switch (type_bit) {
      case VER_MAJORVERSION:
        return value == major;
      case VER_MINORVERSION:
        return value == minor;
      case VER_PRODUCT_TYPE:
        return value == product_type;
      case VER_SERVICEPACKMAJOR:
        return value == sp_major;
      case VER_SERVICEPACKMINOR:
        return value == sp_minor;
    }
    return false;
  }
  bool BuildBelow(DWORD candidate) override {
    ++verify_calls;
    return verify_works && build < candidate;
  }
  std::optional<vm::WindowsVersion> Kernel32Version() override {
    ++kernel32_reads;
    return kernel32;
  }
  std::optional<std::uint32_t> RegistryBuild() override { return registry_build; }
  std::optional<std::uint32_t> RegistryUbr() override {
    ++ubr_reads;
    return registry_ubr;
  }
};

vm::WindowsVersion K32(std::uint32_t major, std::uint32_t minor, std::uint32_t build) {
  vm::WindowsVersion v;
  v.major = major;
  v.minor = minor;
  v.build = build;
  return v;
}

TEST(WindowsVersionRecord, FromEightOnKernel32AndALargerRegistryBuildWin) {
  struct Case {
    const char* name;
    std::optional<vm::WindowsVersion> kernel32;
    std::optional<std::uint32_t> registry;
    std::uint32_t major, minor, build;
  } cases[] = {
      {"registry larger from 18362 on", K32(10, 0, 19041), 19045, 10, 0, 19045},
      {"exactly 18362 still asks the registry", K32(10, 0, 18362), 18363, 10, 0, 18363},
      {"registry smaller is ignored", K32(10, 0, 19045), 19041, 10, 0, 19045},
      {"below 18362 the registry is not asked", K32(10, 0, 17763), 17800, 10, 0, 17763},
      {"registry unreadable", K32(10, 0, 22621), std::nullopt, 10, 0, 22621},
      {"kernel32 unreadable keeps the counted 6.2", std::nullopt, 30000, 6, 2, 0},
  };
  for (const Case& c : cases) {
    FakeProbe probe;  // VerifyVersionInfo says 6.2, as it does to unmanifested programs
    probe.kernel32 = c.kernel32;
    probe.registry_build = c.registry;
    const vm::WindowsVersion v = vm::ReadWindowsVersion(probe);
    EXPECT_EQ(v.major, c.major) << c.name;
    EXPECT_EQ(v.minor, c.minor) << c.name;
    EXPECT_EQ(v.build, c.build) << c.name;
  }
}

TEST(WindowsVersionRecord, BeforeEightEverythingIsCountedAndTheBuildFoundDigitByDigit) {
  for (DWORD build : {7601u, 7600u, 6002u, 2600u, 10000u, 9u}) {
    FakeProbe probe;
    probe.major = 6;
    probe.minor = 1;
    probe.product_type = 3;
    probe.sp_major = 1;
    probe.sp_minor = 2;
    probe.build = build;
    probe.kernel32 = K32(10, 0, 99999);  // must not be consulted
    const vm::WindowsVersion v = vm::ReadWindowsVersion(probe);
    EXPECT_EQ(v.major, 6u);
    EXPECT_EQ(v.minor, 1u);
    EXPECT_EQ(v.build, build);
    EXPECT_EQ(v.product_type, 3);
    EXPECT_EQ(v.service_pack_major, 1);
    EXPECT_EQ(v.service_pack_minor, 2);
    EXPECT_EQ(probe.kernel32_reads, 0);
  }
}

TEST(WindowsVersionRecord, AProbeThatNeverAnswersEndsAndFallsBackToKernel32) {
  FakeProbe probe;
  probe.verify_works = false;
  probe.kernel32 = K32(10, 0, 19045);
  const vm::WindowsVersion v = vm::ReadWindowsVersion(probe);
  EXPECT_EQ(v.major, 10u);
  EXPECT_EQ(v.build, 19045u);
  EXPECT_LT(probe.verify_calls, 1000);

  FakeProbe nothing;
  nothing.verify_works = false;
  const vm::WindowsVersion none = vm::ReadWindowsVersion(nothing);
  EXPECT_EQ(none.major, 0u);
  EXPECT_EQ(none.build, 0u);
}

TEST(WindowsVersionRecord, RevisionIsReadOnlyFromWindows10On) {
  FakeProbe eleven;
  eleven.kernel32 = K32(10, 0, 22621);
  eleven.registry_ubr = 2861;
  const vm::SystemVersion s = vm::ReadSystemVersion(eleven);
  EXPECT_EQ(s.ubr, 2861u);
  EXPECT_TRUE(s.flags.windows11_22621_2861);
  EXPECT_TRUE(s.AtLeast(6, 2));
  EXPECT_TRUE(s.Is(10, 0));
  EXPECT_TRUE(s.BuildAtLeast(22000));

  FakeProbe seven;
  seven.major = 6;
  seven.minor = 1;
  seven.build = 7601;
  seven.registry_ubr = 2861;
  const vm::SystemVersion old = vm::ReadSystemVersion(seven);
  EXPECT_EQ(old.ubr, 0u);
  EXPECT_EQ(seven.ubr_reads, 0);
  EXPECT_TRUE(old.flags.windows7);
  EXPECT_FALSE(old.AtLeast(6, 2));
}

// The real sources agree with what the kernel itself reports, whatever this
// test program's manifest makes VerifyVersionInfo say.
TEST(WindowsVersionRecord, TheSystemRecordMatchesTheKernel) {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  auto rtl = reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
  ASSERT_NE(rtl, nullptr);
  OSVERSIONINFOW real{};
  real.dwOSVersionInfoSize = sizeof(real);
  ASSERT_EQ(rtl(&real), 0);
  const vm::SystemVersion& os = vm::Os();
  EXPECT_EQ(os.record.major, real.dwMajorVersion);
  EXPECT_EQ(os.record.minor, real.dwMinorVersion);
  EXPECT_GE(os.record.build, real.dwBuildNumber);
  EXPECT_EQ(&os, &vm::Os()) << "filled once";
  std::printf("system version %u.%u.%u.%u\n", os.record.major, os.record.minor, os.record.build,
              os.ubr);
}

// ---------------------------------------------------------------------------
// Optional entry points

bool RunningUnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(OptionalApi, MissingEntryPointsAnswerTheirFailureValue) {
  const vm::OptionalApi none(nullptr, vm::Os());
  HWND desktop = GetDesktopWindow();
  DWORD band = 1234;
  POINT p{1, 2};
  RECT r{};
  BOOL b = TRUE;
  UINT x = 5, y = 5;
  UINT32 length = 0;
  EXPECT_FALSE(none.GetWindowBand(desktop, &band));
  EXPECT_EQ(band, 1234u) << "nothing was called";
  EXPECT_FALSE(none.SetWindowBand(desktop, nullptr, 1));
  EXPECT_FALSE(none.ChangeWindowMessageFilterEx(desktop, WM_USER, MSGFLT_ALLOW, nullptr));
  EXPECT_FALSE(none.ChangeWindowMessageFilter(WM_USER, MSGFLT_ADD));
  EXPECT_FALSE(none.QueryFullProcessImageNameW(GetCurrentProcess(), 0, nullptr, nullptr));
  EXPECT_FALSE(none.IsWow64Process(GetCurrentProcess(), &b));
  EXPECT_FALSE(none.IsDebuggerPresent());
  EXPECT_FALSE(none.LogicalToPhysicalPoint(desktop, &p));
  EXPECT_EQ(none.GetDpiForWindow(desktop), 0u);
  EXPECT_EQ(none.GetSystemMetricsForDpi(SM_CXICON, 96), 0);
  EXPECT_FALSE(none.AdjustWindowRectExForDpi(&r, 0, FALSE, 0, 96));
  EXPECT_EQ(none.HungWindowFromGhostWindow(desktop), nullptr);
  EXPECT_EQ(none.GetRawInputData(nullptr, 0, nullptr, &x, 0), static_cast<UINT>(-1));
  EXPECT_EQ(none.GetApplicationUserModelId(GetCurrentProcess(), &length, nullptr),
            ERROR_CALL_NOT_IMPLEMENTED)
      << "an error code, never ERROR_SUCCESS";
  // DWM and shell functions: E_FAIL; other HRESULT functions: E_NOTIMPL.
  EXPECT_EQ(none.DwmIsCompositionEnabled(&b), E_FAIL);
  EXPECT_EQ(none.DwmGetWindowAttribute(desktop, DWMWA_CLOAKED, &band, sizeof(band)), E_FAIL);
  EXPECT_EQ(none.DwmInvalidateIconicBitmaps(desktop), E_FAIL);
  EXPECT_EQ(none.SetCurrentProcessExplicitAppUserModelID(L"x"), E_FAIL);
  EXPECT_EQ(none.SHGetNameFromIDList(nullptr, SIGDN_NORMALDISPLAY, nullptr), E_FAIL);
  EXPECT_EQ(none.GetDpiForMonitor(nullptr, MDT_EFFECTIVE_DPI, &x, &y), E_NOTIMPL);
  EXPECT_EQ(none.BufferedPaintInit(), E_NOTIMPL);
  EXPECT_EQ(none.BeginBufferedPaint(nullptr, &r, BPBF_TOPDOWNDIB, nullptr, nullptr), nullptr);
  EXPECT_EQ(none.OpenThemeDataForDpi(desktop, L"TAB", 96), nullptr);
  EXPECT_FALSE(none.DwmDefWindowProc(desktop, WM_NCHITTEST, 0, 0, nullptr));
  EXPECT_FALSE(none.HasGetWindowBand());
  EXPECT_FALSE(none.HasSetCurrentProcessExplicitAppUserModelID());
}

TEST(OptionalApi, TheSystemTableFindsWhatExistsAndRefusesTheRest) {
  const vm::OptionalApi& api = vm::Api();
  EXPECT_TRUE(api.HasChangeWindowMessageFilterEx());
  EXPECT_TRUE(api.HasSetCurrentProcessExplicitAppUserModelID());
  BOOL wow64 = TRUE;
  EXPECT_TRUE(api.IsWow64Process(GetCurrentProcess(), &wow64));
  EXPECT_FALSE(wow64);
  EXPECT_FALSE(vm::IsWow64(GetCurrentProcess())) << "a 64-bit program";

  HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(api.ChangeWindowMessageFilterEx(window, WM_USER + 1, MSGFLT_ALLOW, nullptr));
  if (RunningUnderWine()) {
    // Wine exports neither: the wrapper's refusal is the real path here.
    DWORD band = 77;
    EXPECT_FALSE(api.HasGetWindowBand());
    EXPECT_FALSE(api.GetWindowBand(window, &band));
    EXPECT_EQ(band, 77u);
    EXPECT_FALSE(api.SetWindowBand(window, nullptr, 1));
  }
  DestroyWindow(window);
}

// ---------------------------------------------------------------------------
// Display, shell, processes

TEST(Display, DpiAndShellLayout) {
  EXPECT_GT(vm::SystemDpi(), 0);
  EXPECT_EQ(vm::MonitorDpi(nullptr), vm::SystemDpi()) << "no monitor: the system DPI";
  HMONITOR primary = MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY);
  EXPECT_GT(vm::MonitorDpi(primary), 0);
  EXPECT_FALSE(vm::ShellIsRightToLeft());
  EXPECT_EQ(vm::ShellIsRightToLeft(), vm::ShellIsRightToLeft());
  EXPECT_FALSE(vm::IsWindowCloaked(GetDesktopWindow()));
}

TEST(ProcessImagePath, OwnOtherAndUnknownProcesses) {
  wchar_t own[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, own, MAX_PATH);
  std::wstring lower = own;
  for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
  EXPECT_EQ(vm::ProcessImagePath(GetCurrentProcessId(), false), lower);

  const std::wstring event_name = vm::test::UniqueName(L"Local\\vm_sysinfo_wait");
  const std::wstring ready_name = vm::test::UniqueName(L"Local\\vm_sysinfo_ready");
  vm::UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  vm::UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
  vm::test::ChildProcess child(vm::test::TestPath(L"vm_common_helper.exe"),
                               L"wait " + event_name + L" " + ready_name);
  ASSERT_TRUE(child.started());
  // A process that has not finished loading has no module list yet.
  ASSERT_EQ(WaitForSingleObject(ready.get(), 10000), WAIT_OBJECT_0);
  for (bool limited : {false, true}) {
    const std::wstring path = vm::ProcessImagePath(child.id(), limited);
    ASSERT_GE(path.size(), 20u);
    EXPECT_EQ(_wcsicmp(path.substr(path.size() - 20).c_str(), L"vm_common_helper.exe"), 0) << path;
    EXPECT_NE(path.find(L":\\"), std::wstring::npos) << "a full path: " << path;
  }
  SetEvent(release.get());
  EXPECT_EQ(child.WaitExit(), 0u);

  EXPECT_EQ(vm::ProcessImagePath(0xFFFFFFF0u, true), L"");
}

TEST(ProcessImagePath, NormalisingTrimsAndExpandsShortNames) {
  EXPECT_EQ(vm::NormaliseImagePath(L"  notepad.exe \t"), L"notepad.exe");
  EXPECT_EQ(vm::NormaliseImagePath(L""), L"");

  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + L"A rather long folder name";
  CreateDirectoryW(folder.c_str(), nullptr);
  wchar_t shorter[MAX_PATH] = {};
  const DWORD n = GetShortPathNameW(folder.c_str(), shorter, MAX_PATH);
  if (n > 0 && n < MAX_PATH && folder != shorter) {
    wchar_t longer[MAX_PATH] = {};
    GetLongPathNameW(folder.c_str(), longer, MAX_PATH);
    EXPECT_EQ(vm::NormaliseImagePath(L" " + std::wstring(shorter) + L" "), longer);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
