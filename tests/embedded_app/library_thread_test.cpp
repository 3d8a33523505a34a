// A library thread keeps its library loaded until it ends: the loader's
// FreeLibrary returns while the thread runs, the module stays mapped, and
// when the thread ends (FreeLibraryAndExitThread) the module goes.
#include <gtest/gtest.h>
#include <windows.h>

#include "common/unique_handle.h"
#include "hooklib/app/library_thread.h"
#include "tests/support/paths.h"

namespace vm::hooklib {
namespace {

using StartProbeThreadFn = BOOL(WINAPI*)(HANDLE, HANDLE*);
using ProbeCallDepthFn = LONG(WINAPI*)();

constexpr wchar_t kProbe[] = L"library_thread_probe.dll";

// Polls for a real condition with a bounded wait.
template <class Condition>
bool WaitFor(Condition condition, DWORD timeout_ms = 5000) {
  const ULONGLONG end = GetTickCount64() + timeout_ms;
  while (!condition()) {
    if (GetTickCount64() > end) return false;
    Sleep(10);
  }
  return true;
}

TEST(LibraryThread, KeepsTheLibraryLoadedUntilItEnds) {
  ASSERT_EQ(GetModuleHandleW(kProbe), nullptr);
  HMODULE probe = LoadLibraryW(test::TestPath(kProbe).c_str());
  ASSERT_NE(probe, nullptr);
  auto start = reinterpret_cast<StartProbeThreadFn>(GetProcAddress(probe, "StartProbeThread"));
  auto depth = reinterpret_cast<ProbeCallDepthFn>(GetProcAddress(probe, "ProbeCallDepth"));
  ASSERT_TRUE(start && depth);
  ASSERT_EQ(depth(), 0);

  UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE raw_thread = nullptr;
  ASSERT_TRUE(start(release.get(), &raw_thread));
  UniqueHandle thread(raw_thread);
  EXPECT_EQ(depth(), 1);  // raised while the thread runs

  // The loader's own reference goes; the thread's keeps the module mapped.
  EXPECT_TRUE(FreeLibrary(probe));
  EXPECT_EQ(GetModuleHandleW(kProbe), probe);
  EXPECT_EQ(WaitForSingleObject(thread.get(), 200), static_cast<DWORD>(WAIT_TIMEOUT));

  SetEvent(release.get());
  ASSERT_EQ(WaitForSingleObject(thread.get(), 5000), WAIT_OBJECT_0);
  DWORD exit_code = 0;
  EXPECT_TRUE(GetExitCodeThread(thread.get(), &exit_code));
  EXPECT_EQ(exit_code, 7u);
  EXPECT_EQ(GetModuleHandleW(kProbe), nullptr);  // gone with the thread
}

TEST(LibraryThread, ThreadThatOwnsItsHandleAlsoLetsTheLibraryGo) {
  HMODULE probe = LoadLibraryW(test::TestPath(kProbe).c_str());
  ASSERT_NE(probe, nullptr);
  auto start = reinterpret_cast<StartProbeThreadFn>(GetProcAddress(probe, "StartProbeThread"));
  ASSERT_TRUE(start);
  UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(start(release.get(), nullptr));
  EXPECT_TRUE(FreeLibrary(probe));
  EXPECT_EQ(GetModuleHandleW(kProbe), probe);
  SetEvent(release.get());
  EXPECT_TRUE(WaitFor([] { return GetModuleHandleW(kProbe) == nullptr; }));
}

TEST(LibraryThread, DpiRuleOnlyForOfficeOnRecentWindows10) {
  struct Case {
    const char* what;
    LibraryThreadDpiFacts facts;
    bool per_monitor;
  };
  LibraryThreadDpiFacts office;
  office.windows10_or_later = true;
  office.windows_build = 14393;
  office.office_loaded = true;
  office.exe_major = 16;
  office.process_per_monitor_aware = true;
  auto with = [&](auto change) {
    LibraryThreadDpiFacts f = office;
    change(f);
    return f;
  };
  const Case cases[] = {
      {"Office 16, per-monitor process", office, true},
      {"build 14392", with([](auto& f) { f.windows_build = 14392; }), false},
      {"not Windows 10", with([](auto& f) { f.windows10_or_later = false; }), false},
      {"no mso.dll", with([](auto& f) { f.office_loaded = false; }), false},
      {"Office 15", with([](auto& f) { f.exe_major = 15; }), false},
      {"process not per-monitor", with([](auto& f) { f.process_per_monitor_aware = false; }),
       false},
      {"Outlook 16.0.6500", with([](auto& f) {
         f.process_per_monitor_aware = false;
         f.is_outlook = true;
         f.exe_build = 6500;
       }),
       true},
      {"Outlook 16.0.6499", with([](auto& f) {
         f.process_per_monitor_aware = false;
         f.is_outlook = true;
         f.exe_build = 6499;
       }),
       false},
      {"Outlook 17", with([](auto& f) {
         f.process_per_monitor_aware = false;
         f.is_outlook = true;
         f.exe_major = 17;
       }),
       true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LibraryThreadsPerMonitorAware(c.facts), c.per_monitor) << c.what;
  }
}

}  // namespace
}  // namespace vm::hooklib
