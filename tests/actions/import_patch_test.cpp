// Redirecting a module's GetAncestor import: a module of ours named
// "ntshrui.dll" stands in for Explorer's, and windows of the classes the
// replacements look for are made here, hidden.
#include "hooklib/actions/import_patch.h"

#include <gtest/gtest.h>

#include <cstring>

#include "hooklib/actions/ancestor_patches.h"
#include "tests/support/paths.h"

namespace vm::actions {
namespace {

using AskAncestor = HWND (*)(HWND, UINT);

class Windows {
 public:
  Windows() {
    for (const wchar_t* name : {L"ShellTabWindowClass", L"ModernSearchBox", L"CabinetWClass"}) {
      WNDCLASSW wc{};
      wc.lpfnWndProc = DefWindowProcW;
      wc.hInstance = GetModuleHandleW(nullptr);
      wc.lpszClassName = name;
      RegisterClassW(&wc);
    }
    owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                            nullptr, nullptr);
    frame = CreateWindowExW(0, L"CabinetWClass", L"frame", WS_POPUP, 0, 0, 10, 10, owner, nullptr,
                            nullptr, nullptr);
    tab = CreateWindowExW(0, L"ShellTabWindowClass", L"", WS_CHILD, 0, 0, 5, 5, frame, nullptr,
                          nullptr, nullptr);
    search = CreateWindowExW(0, L"ModernSearchBox", L"", WS_CHILD, 0, 0, 5, 5, frame, nullptr,
                             nullptr, nullptr);
    other =
        CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 5, 5, frame, nullptr, nullptr, nullptr);
  }
  ~Windows() {
    DestroyWindow(frame);
    DestroyWindow(owner);
  }
  HWND owner, frame, tab, search, other;
};

class ImportPatch : public testing::Test {
 protected:
  void SetUp() override {
    module = LoadLibraryW(test::TestPath(L"actionsfixture\\ntshrui.dll").c_str());
    ASSERT_NE(module, nullptr);
    // The patches find the module by name, as they find Explorer's.
    ASSERT_EQ(GetModuleHandleA("ntshrui.dll"), module);
    ask = reinterpret_cast<AskAncestor>(GetProcAddress(module, "AskAncestor"));
    ASSERT_NE(ask, nullptr);
  }
  void TearDown() override {
    if (module) FreeLibrary(module);
  }
  HMODULE module = nullptr;
  AskAncestor ask = nullptr;
  Windows w;
};

TEST_F(ImportPatch, ShellTabsRootIsAnsweredAsRootOwnerUntilUndone) {
  ASSERT_EQ(ask(w.tab, GA_ROOT), w.frame);

  AncestorPatches patches;
  patches.Apply({false, true, true});  // entries of modules not loaded, ours left off
  EXPECT_EQ(patches.Patched(AncestorModule::kShellTabs), nullptr);
  EXPECT_EQ(ask(w.tab, GA_ROOT), w.frame);

  patches.Apply({true, false, false});
  EXPECT_EQ(patches.Patched(AncestorModule::kShellTabs), module);
  EXPECT_EQ(ask(w.tab, GA_ROOT), w.owner);
  EXPECT_EQ(ask(w.tab, GA_PARENT), w.frame);  // other questions pass through
  EXPECT_EQ(ask(w.other, GA_ROOT), w.frame);  // and other classes
  patches.Apply({true, false, false});        // a second attach patches nothing twice
  EXPECT_EQ(ask(w.tab, GA_ROOT), w.owner);

  patches.Undo();
  EXPECT_EQ(patches.Patched(AncestorModule::kShellTabs), nullptr);
  EXPECT_EQ(ask(w.tab, GA_ROOT), w.frame);
}

TEST_F(ImportPatch, UndoAfterTheModuleWentAwayWritesNothing) {
  AncestorPatches patches;
  patches.Apply({true, false, false});
  ASSERT_EQ(patches.Patched(AncestorModule::kShellTabs), module);
  ASSERT_TRUE(FreeLibrary(module));
  module = nullptr;
  patches.Undo();  // the image is gone: no write into freed memory
  EXPECT_EQ(patches.Patched(AncestorModule::kShellTabs), nullptr);
}

TEST_F(ImportPatch, PatchAndUnpatchFindTheSlotByWhatItHolds) {
  void* real =
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetAncestor"));
  auto* replacement = reinterpret_cast<void*>(ShellTabsGetAncestor);
  EXPECT_FALSE(UnpatchImport(module, real, replacement));  // nothing to undo yet
  ASSERT_TRUE(PatchImport(module, real, replacement));
  EXPECT_FALSE(PatchImport(module, real, replacement));  // the slot no longer holds the real one
  EXPECT_EQ(ask(w.tab, GA_ROOT), w.owner);
  ASSERT_TRUE(UnpatchImport(module, real, replacement));
  EXPECT_EQ(ask(w.tab, GA_ROOT), w.frame);
  EXPECT_FALSE(PatchImport(module, nullptr, replacement));
}

TEST(AncestorReplacements, AnswerAsEachModuleNeeds) {
  Windows w;
  EXPECT_EQ(FileExplorerGetAncestor(w.search, GA_ROOT), w.owner);
  EXPECT_EQ(FileExplorerGetAncestor(w.tab, GA_ROOT), w.frame);
  EXPECT_EQ(UiInputGetAncestor(w.frame, GA_PARENT), GetDesktopWindow());
  EXPECT_EQ(UiInputGetAncestor(w.other, GA_PARENT), w.frame);
  EXPECT_EQ(UiInputGetAncestor(w.other, GA_ROOT), w.owner);
}

TEST(ModuleView, RefusesWhatIsNoMappedImage) {
  EXPECT_TRUE(ViewOfModule(GetModuleHandleW(nullptr)).has_value());
  EXPECT_FALSE(ViewOfModule(nullptr).has_value());
  // A committed page of zeros, and address space reserved but not committed.
  void* zeros = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  void* reserved = VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_NOACCESS);
  EXPECT_FALSE(ViewOfModule(static_cast<HMODULE>(zeros)).has_value());
  EXPECT_FALSE(ViewOfModule(static_cast<HMODULE>(reserved)).has_value());
  // Headers that claim more image than is mapped.
  void* page = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  std::memcpy(page, GetModuleHandleW(nullptr), 1024);
  EXPECT_FALSE(ViewOfModule(static_cast<HMODULE>(page)).has_value());
  VirtualFree(zeros, 0, MEM_RELEASE);
  VirtualFree(reserved, 0, MEM_RELEASE);
  VirtualFree(page, 0, MEM_RELEASE);
}

}  // namespace
}  // namespace vm::actions
