// The hook library loaded, freed and loaded again in one process (what
// happens when Windows unloads it after the global hooks are removed and a
// new hook host brings it back): the storage block, the trampolines and the
// stub pages outlive each copy, and nothing left in the process calls into a
// copy that is gone.
#include <gtest/gtest.h>

#include <optional>

#include "hooklib/core/storage_layout.h"
#include "tests/support/paths.h"
#include "tests/hooklib/test_support.h"

namespace vm::hooklib {
namespace {

using vm::test::kOriginalAnswer;
using vm::test::kProbe;
constexpr LRESULT kProbeAnswer = 2000;

std::optional<storage::StorageBlock> ReadOwnStorage() {
  HANDLE mapping =
      OpenFileMappingW(FILE_MAP_READ, FALSE, storage::MappingName(GetCurrentProcessId()).c_str());
  if (mapping == nullptr) return std::nullopt;
  std::optional<storage::StorageBlock> result;
  if (void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, storage::kSize)) {
    result = *static_cast<const storage::StorageBlock*>(view);
    UnmapViewOfFile(view);
  }
  CloseHandle(mapping);
  return result;
}

bool IsInsideModule(std::uint64_t address, HMODULE module) {
  MEMORY_BASIC_INFORMATION info{};
  return address != 0 &&
         VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof(info)) == sizeof(info) &&
         info.AllocationBase == module;
}

// The library started its application in this process, and with it the
// messenger client, whose thread holds the library until it ends: with no
// control program it is resumed after 10 s, finds no server and unloads
// 5 s later. Until then the module stays.
bool LibraryLeaves(const wchar_t* name) {
  return test::PumpUntil([&] { return GetModuleHandleW(name) == nullptr; }, 30000);
}

HWND MakeWindow() { return vm::test::MakeProbeWindow(L"vm_reload_test_window"); }

// Probes called after the trampoline hooks: they read the library's call
// counter, which its procedures hold raised while they pass a call on.
volatile LONG* g_counter = nullptr;
long g_depth_before = -1;
long g_depth_after = -1;

LRESULT CALLBACK ProbeBefore(int code, WPARAM wp, LPARAM lp) {
  const auto* cwp = reinterpret_cast<const CWPSTRUCT*>(lp);
  if (code >= 0 && cwp && cwp->message == kProbe) g_depth_before = *g_counter;
  return CallNextHookEx(nullptr, code, wp, lp);
}

LRESULT CALLBACK ProbeAfter(int code, WPARAM wp, LPARAM lp) {
  const auto* ret = reinterpret_cast<const CWPRETSTRUCT*>(lp);
  if (code >= 0 && ret && ret->message == kProbe) g_depth_after = *g_counter;
  return CallNextHookEx(nullptr, code, wp, lp);
}

std::pair<long, long> SendProbe(HWND w) {
  g_depth_before = g_depth_after = -1;
  EXPECT_EQ(SendMessageW(w, kProbe, 0, 0), kOriginalAnswer);
  return {g_depth_before, g_depth_after};
}

TEST(Reload, ASecondLoadReusesTheStorageBlockAndTrampolinesAndTheirHooksKeepWorking) {
  ASSERT_FALSE(ReadOwnStorage().has_value());
  const std::wstring path = test::BinPath(L"vfoemb64.dll");
  HMODULE first = LoadLibraryW(path.c_str());
  ASSERT_NE(first, nullptr);
  const auto s1 = ReadOwnStorage();
  ASSERT_TRUE(s1.has_value());
  ASSERT_NE(s1->counter, 0u);
  ASSERT_NE(s1->trampoline_block, 0u);
  ASSERT_NE(s1->trampoline_page, 0u);
  EXPECT_EQ(s1->trampoline_page % 4096, 0u);
  auto* block = reinterpret_cast<storage::TrampolineBlock*>(s1->trampoline_block);
  EXPECT_EQ(block->active, 1);
  EXPECT_EQ(block->trampoline0, s1->trampoline_page);
  EXPECT_EQ(block->trampoline1, s1->trampoline_page + 64);
  EXPECT_TRUE(IsInsideModule(block->call_wnd_proc, first));
  EXPECT_TRUE(IsInsideModule(block->call_wnd_proc_ret, first));

  // With no global hook installed, removing them succeeds.
  using ExportFn = BOOL(WINAPI*)();
  auto uninstall = reinterpret_cast<ExportFn>(GetProcAddress(first, "UninstallMainHooks"));
  ASSERT_NE(uninstall, nullptr);
  ASSERT_NE(GetProcAddress(first, "InstallMainHooks"), nullptr);
  EXPECT_EQ(uninstall(), -1);

  g_counter = reinterpret_cast<volatile LONG*>(s1->counter);
  HWND w = MakeWindow();
  const DWORD tid = GetCurrentThreadId();
  HHOOK probe_before = SetWindowsHookExW(WH_CALLWNDPROC, &ProbeBefore, nullptr, tid);
  HHOOK probe_after = SetWindowsHookExW(WH_CALLWNDPROCRET, &ProbeAfter, nullptr, tid);
  // Per-thread hooks on the trampolines, made while the first copy is loaded.
  HHOOK t0 = SetWindowsHookExW(WH_CALLWNDPROC, reinterpret_cast<HOOKPROC>(block->trampoline0),
                               nullptr, tid);
  HHOOK t1 = SetWindowsHookExW(WH_CALLWNDPROCRET, reinterpret_cast<HOOKPROC>(block->trampoline1),
                               nullptr, tid);
  ASSERT_NE(t0, nullptr);
  ASSERT_NE(t1, nullptr);
  EXPECT_EQ(SendProbe(w), std::make_pair(1L, 1L));

  ASSERT_TRUE(FreeLibrary(first));
  ASSERT_TRUE(LibraryLeaves(L"vfoemb64.dll"));
  const auto between = ReadOwnStorage();
  ASSERT_TRUE(between.has_value());
  EXPECT_EQ(between->trampoline_page, s1->trampoline_page);
  // Nothing points into the freed copy: the hooks pass calls straight on.
  EXPECT_EQ(block->active, 0);
  EXPECT_EQ(block->call_wnd_proc, 0u);
  EXPECT_EQ(block->call_wnd_proc_ret, 0u);
  EXPECT_EQ(SendProbe(w), std::make_pair(0L, 0L));

  HMODULE second = LoadLibraryW(path.c_str());
  ASSERT_NE(second, nullptr);
  const auto s2 = ReadOwnStorage();
  ASSERT_TRUE(s2.has_value());
  EXPECT_EQ(s2->counter, s1->counter);
  EXPECT_EQ(s2->trampoline_block, s1->trampoline_block);
  EXPECT_EQ(s2->trampoline_page, s1->trampoline_page);
  EXPECT_EQ(block->active, 1);
  EXPECT_TRUE(IsInsideModule(block->call_wnd_proc, second));
  EXPECT_TRUE(IsInsideModule(block->call_wnd_proc_ret, second));
  // The hooks made under the first copy now reach the second.
  EXPECT_EQ(SendProbe(w), std::make_pair(1L, 1L));

  for (HHOOK h : {t0, t1, probe_before, probe_after}) UnhookWindowsHookEx(h);
  DestroyWindow(w);
  EXPECT_EQ(*g_counter, 0);
  FreeLibrary(second);
  // Gone before the next test: both libraries keep their stub lists in the
  // same storage block of this process.
  EXPECT_TRUE(LibraryLeaves(L"vfoemb64.dll"));
}

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(GetProcAddress(module, name));
}

TEST(Reload, WindowsReleasedByAFreedLibraryKeepWorkingAndItsStubsServeTheNextCopy) {
  using SubclassFn = void*(WINAPI*)(int, HWND);
  using ReleaseFn = void(WINAPI*)(int);
  using CallsFn = long(WINAPI*)(int);
  using PagesFn = void*(WINAPI*)();
  const std::wstring path = test::TestPath(L"hookcore_probe.dll");
  HMODULE first = LoadLibraryW(path.c_str());
  ASSERT_NE(first, nullptr);
  auto subclass = Export<SubclassFn>(first, "ProbeSubclass");
  auto release = Export<ReleaseFn>(first, "ProbeRelease");
  auto calls = Export<CallsFn>(first, "ProbeCalls");
  auto pages = Export<PagesFn>(first, "ProbeStubPages");
  ASSERT_TRUE(subclass && release && calls && pages);

  HWND released = MakeWindow();
  void* stub = subclass(0, released);
  ASSERT_NE(stub, nullptr);
  EXPECT_EQ(SendMessageW(released, kProbe, 0, 0), kProbeAnswer);
  EXPECT_EQ(calls(0), 1);
  release(0);
  EXPECT_EQ(SendMessageW(released, kProbe, 0, 0), kOriginalAnswer);
  // A window the library still holds when it goes.
  HWND held = MakeWindow();
  ASSERT_NE(subclass(1, held), nullptr);
  void* page_list = pages();
  ASSERT_NE(page_list, nullptr);

  ASSERT_TRUE(FreeLibrary(first));
  ASSERT_TRUE(LibraryLeaves(L"hookcore_probe.dll"));
  // The released window runs on the pass-through in the stub page alone.
  EXPECT_EQ(reinterpret_cast<void*>(GetWindowLongPtrW(released, GWLP_WNDPROC)), stub);
  EXPECT_EQ(SendMessageW(released, kProbe, 0, 0), kOriginalAnswer);
  SetWindowTextW(released, L"still working");
  wchar_t text[32] = {};
  GetWindowTextW(released, text, 32);
  EXPECT_STREQ(text, L"still working");
  // The held window's stub finds its object gone and calls nothing.
  EXPECT_NE(SendMessageW(held, kProbe, 0, 0), kProbeAnswer);
  DestroyWindow(held);

  HMODULE second = LoadLibraryW(path.c_str());
  ASSERT_NE(second, nullptr);
  subclass = Export<SubclassFn>(second, "ProbeSubclass");
  release = Export<ReleaseFn>(second, "ProbeRelease");
  pages = Export<PagesFn>(second, "ProbeStubPages");
  // The page list came over through the storage block ...
  EXPECT_EQ(pages(), page_list);
  // ... and the released window's stub becomes the new copy's again.
  EXPECT_EQ(subclass(0, released), stub);
  EXPECT_EQ(SendMessageW(released, kProbe, 0, 0), kProbeAnswer);
  release(0);
  // A new window gets a stub from the same page (the free list came over too).
  HWND fresh = MakeWindow();
  void* fresh_stub = subclass(2, fresh);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(fresh_stub) & ~std::uintptr_t{4095},
            reinterpret_cast<std::uintptr_t>(page_list));
  release(2);
  EXPECT_EQ(SendMessageW(fresh, kProbe, 0, 0), kOriginalAnswer);
  DestroyWindow(fresh);
  DestroyWindow(released);
  FreeLibrary(second);
}

}  // namespace
}  // namespace vm::hooklib
