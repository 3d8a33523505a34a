// Process flags, hook modes and class lists of the hook library, and the
// names of hot-key atoms: decisions made from plain facts, tested as tables.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/names.h"
#include "hooklib/app/process_lists.h"
#include "hooklib/core/hotkey_text.h"

namespace vm::hooklib {
namespace {

WindowsVersionFlags Win10() { return {true, true, true, true}; }
WindowsVersionFlags Xp() { return {}; }

ProcessFacts Facts(std::wstring path, WindowsVersionFlags version = Win10(),
                   std::set<std::wstring> modules = {}, std::string description = {}) {
  ProcessFacts f;
  f.image_path = std::move(path);
  f.version = version;
  f.file_description = std::move(description);
  f.module_loaded = [modules](std::wstring_view m) {
    // GetModuleHandleW compares without regard to case.
    for (const auto& loaded : modules) {
      if (AsciiLower(loaded) == AsciiLower(m)) return true;
    }
    return false;
  };
  return f;
}

TEST(ProcessName, IsTheLowerCasedFileName) {
  EXPECT_EQ(ProcessNameFromPath(L"C:\\Windows\\Explorer.EXE"), L"explorer.exe");
  EXPECT_EQ(ProcessNameFromPath(L"explorer.exe"), L"explorer.exe");
  EXPECT_EQ(ProcessNameFromPath(L"C:/Tools/MMC.exe"), L"mmc.exe");
  EXPECT_EQ(ProcessNameFromPath(L""), L"");
}

TEST(ProcessFlags, FollowNameVersionAndModules) {
  struct Case {
    const wchar_t* path;
    WindowsVersionFlags version;
    std::set<std::wstring> modules;
    bool ProcessFlags::*flag;
    bool expected;
  };
  const Case cases[] = {
      {L"C:\\Windows\\Explorer.EXE", Win10(), {}, &ProcessFlags::explorer, true},
      {L"C:\\Windows\\explorer.exe.bak", Win10(), {}, &ProcessFlags::explorer, false},
      {L"C:\\Windows\\System32\\dwm.exe", Win10(), {}, &ProcessFlags::library_idle, true},
      {L"C:\\Windows\\System32\\dwm.exe", Xp(), {}, &ProcessFlags::library_idle, false},
      {L"C:\\Windows\\System32\\notepad.exe", Win10(), {}, &ProcessFlags::library_idle, false},
      {L"C:\\Windows\\System32\\conhost.exe", Win10(), {}, &ProcessFlags::conhost, true},
      {L"C:\\Windows\\System32\\conhost.exe", Xp(), {}, &ProcessFlags::conhost, false},
      {L"D:\\VS\\devenv.exe", Win10(), {}, &ProcessFlags::devenv, true},
      {L"D:\\GPSoftware\\dopusrt.exe", Win10(), {}, &ProcessFlags::dopusrt, true},
      {L"C:\\Windows\\System32\\ApplicationFrameHost.exe",
       Win10(),
       {},
       &ProcessFlags::application_frame,
       true},
      {L"C:\\Windows\\System32\\ApplicationFrameHost.exe",
       {true, true, true, false},
       {},
       &ProcessFlags::application_frame,
       false},
      {L"C:\\Windows\\ShellExperienceHost.exe", Win10(), {}, &ProcessFlags::shell_experience, true},
      {L"C:\\Office\\WINWORD.EXE", Win10(), {L"MSO.DLL"}, &ProcessFlags::office, true},
      {L"C:\\Office\\WINWORD.EXE", Win10(), {}, &ProcessFlags::office, false},
      {L"C:\\Program Files\\MAXQDA2022\\MAXQDA2022.exe", Win10(), {}, &ProcessFlags::maxqda, true},
      {L"C:\\maxqda.exe", Win10(), {}, &ProcessFlags::maxqda, true},
      {L"C:\\Tools\\notmaxqda\\x.exe", Win10(), {}, &ProcessFlags::maxqda, false},
  };
  for (const Case& c : cases) {
    const ProcessFlags flags = ComputeProcessFlags(Facts(c.path, c.version, c.modules));
    EXPECT_EQ(flags.*c.flag, c.expected) << std::string(c.path, c.path + wcslen(c.path));
  }
}

TEST(HookModes, LightHookAndDeferralLists) {
  struct Case {
    ProcessFacts facts;
    bool get_message_only;
    bool deferred;
  };
  const Case cases[] = {
      {Facts(L"C:\\P\\VellmarkFoliantConfig.exe"), true, false},
      {Facts(L"C:\\P\\VELLMARKFOLIANTCONFIG.EXE"), true, false},
      {Facts(L"C:\\Windows\\System32\\MMC.exe"), true, false},
      {Facts(L"C:\\Windows\\System32\\dwm.exe"), true, false},
      {Facts(L"C:\\x\\embededtest.exe"), true, false},
      {Facts(L"C:\\x\\cpthost.exe"), true, false},
      {Facts(L"C:\\x\\op_mon.exe"), true, false},
      {Facts(L"C:\\x\\FlashPlayerPlugin_32_0_0.exe"), true, false},
      {Facts(L"C:\\x\\video.exe", Win10(), {}, "MAGIX Video deluxe"), true, false},
      {Facts(L"C:\\x\\video.exe", Win10(), {}, "MAGIXVideo"), false, false},
      {Facts(L"C:\\x\\workspace.exe", Win10(), {L"FixVersionDll.dll"}), true, false},
      {Facts(L"C:\\x\\workspace.exe"), false, false},
      {Facts(L"C:\\x\\other.exe", Win10(), {L"FixVersionDll.dll"}), false, false},
      {Facts(L"C:\\x\\mmc.exe.exe"), false, false},
      {Facts(L"C:\\x\\notepad.exe"), false, false},
      {Facts(L"C:\\x\\APF.exe"), false, true},
      {Facts(L"C:\\x\\eterra.apf.exe"), false, true},
      {Facts(L"C:\\x\\xapf.exe"), false, false},
      {Facts(L"C:\\x\\notepad.exe", Win10(), {L"nview64.dll"}), false, true},
  };
  for (const Case& c : cases) {
    const HookModes modes = ComputeHookModes(c.facts);
    const std::wstring& p = c.facts.image_path;
    EXPECT_EQ(modes.get_message_only, c.get_message_only) << std::string(p.begin(), p.end());
    EXPECT_EQ(modes.deferred_window_checks, c.deferred) << std::string(p.begin(), p.end());
  }
}

TEST(NameList, MatchesWholeEntriesOnly) {
  const std::wstring_view list = L";a.exe;bb.exe;";
  EXPECT_TRUE(InNameList(list, L"a.exe"));
  EXPECT_TRUE(InNameList(list, L"bb.exe"));
  EXPECT_FALSE(InNameList(list, L"b.exe"));
  EXPECT_FALSE(InNameList(list, L""));
  // A name carrying the separator cannot span two entries.
  EXPECT_FALSE(InNameList(list, L"a.exe;bb.exe"));
}

TEST(IgnoredClasses, ListHas132EntriesAndMatchesLiterally) {
  const std::wstring_view list = IgnoredWindowClassList();
  std::size_t separators = 0;
  for (wchar_t c : list) separators += c == L';';
  EXPECT_EQ(separators - 1, 132u);

  const struct {
    const wchar_t* name;
    bool ignored;
  } cases[] = {
      {L"WorkerW", true},
      {L"Progman", true},
      {L"IME", true},
      {L"ime", false},  // case-sensitive
      {L"OleMainThreadWndClass", true},
      {L"OleMainThreadWndClass 0x######## ", true},
      {L"OleMainThreadWndClass 0x12345678 ", false},
      {L"OleMainThreadWndClass 0x########", false},  // the trailing blank belongs to the entry
      {L"CabinetWClass", false},
      {L"Button", true},
      {L"vfo_LocalUnhookWnd", true},
      {L"#43", true},
      {L"#32770", false},
      {L"CiceroUIWndFrame", true},
      {L"", false},
      {names::kSiblingFloatingWindowClass, true},
      {names::kSiblingToggleWindowClass, true},
      {names::kSiblingMonitorTaskbarClass, true},
      {names::kSiblingTaskSwitcherClass, true},
      {names::kSiblingDesktopTaskbarClass, false},
      {L"VellmarkTools_TrayHelperWindow", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsIgnoredWindowClass(c.name), c.ignored)
        << std::string(c.name, c.name + wcslen(c.name));
  }
}

TEST(WindowProcHookClasses, DeferredLateAndSkipped) {
  EXPECT_TRUE(IsDeferredCheckClass(L"NUIDialog"));
  EXPECT_FALSE(IsDeferredCheckClass(L"NUIDialog2"));
  for (const wchar_t* late : {L"DV2ControlHost", L"BaseBar", L"TSSHELLWND", L"StrongDC++", L"DC++",
                              L"#32768", L"TNASTYNAGSCREEN"}) {
    EXPECT_TRUE(IsLateCheckClass(late));
  }
  EXPECT_FALSE(IsLateCheckClass(L"CabinetWClass"));
  EXPECT_FALSE(IsLateCheckClass(L"C++"));
  EXPECT_TRUE(IsSkippedClass(L"SHELLDLL_DefView"));
  EXPECT_FALSE(IsSkippedClass(L"shelldll_defview"));
}

TEST(Hotkeys, ModifiersInFixedOrderThenTheKeyCode) {
  const std::wstring prefix = names::kHotkeyAtomPrefix;
  HotkeyTracker t;
  EXPECT_FALSE(t.OnKey(0x11, false));  // Ctrl down
  EXPECT_FALSE(t.OnKey(0x12, false));  // Alt down
  EXPECT_EQ(t.OnKey('T', false), prefix + L"Ctrl+Alt+84");
  EXPECT_FALSE(t.OnKey('T', true));   // key releases name nothing
  EXPECT_FALSE(t.OnKey(0x11, true));  // Ctrl up
  EXPECT_EQ(t.OnKey('T', false), prefix + L"Alt+84");
  EXPECT_FALSE(t.OnKey(0x5C, false));  // right Win
  EXPECT_FALSE(t.OnKey(0x10, false));  // Shift
  EXPECT_EQ(t.OnKey(0x70, false), prefix + L"Win+Shift+Alt+112");
  EXPECT_FALSE(t.OnKey(0x5C, true));
  EXPECT_FALSE(t.OnKey(0x10, true));
  EXPECT_FALSE(t.OnKey(0x12, true));
  EXPECT_EQ(t.modifiers(), 0);
  EXPECT_EQ(t.OnKey('1', false), prefix + L"49");
}

}  // namespace
}  // namespace vm::hooklib
