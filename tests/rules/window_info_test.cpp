// FillWindowInfo on real windows: of another process (file name, console
// client through conhost, WPF classes, caption through the bounded send, a
// hung window), and in this process (application frame windows, the
// console-aware property operations).
#include <gtest/gtest.h>
#include <windows.h>
#include <propsys.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/unique_handle.h"
#include "hooklib/app/pattern_library.h"
#include "hooklib/app/window_info.h"
#include "hooklib/app/window_props.h"
#include "tests/rules/window_fixture.h"
#include "tests/support/child_process.h"
#include "tests/support/message_pump.h"
#include "tests/support/paths.h"

namespace {

namespace rf = vm::test::rules_fixture;
using vm::hooklib::FillWindowInfo;
using vm::hooklib::WindowInfo;

std::string Ansi(const std::wstring& text) {
  std::string out(text.size() * 2 + 1, '\0');
  const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                    out.data(), static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(n > 0 ? n : 0);
  return out;
}

bool SamePath(const std::string& a, const std::wstring& b) {
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, Ansi(b).c_str(), -1) ==
         CSTR_EQUAL;
}

std::wstring ModulePath() {
  wchar_t path[MAX_PATH * 2] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
  return std::wstring(path, n);
}

HWND WaitForWindow(const wchar_t* cls, const std::wstring& title) {
  HWND found = nullptr;
  vm::test::PumpUntil([&] { return (found = FindWindowW(cls, title.c_str())) != nullptr; }, 10000);
  return found;
}

class FixtureWindows : public ::testing::Test {
 protected:
  void Start(const std::wstring& program) {
    tag_ = vm::test::UniqueName(L"rules");
    child_ = vm::test::ChildProcess(program, tag_ + L" " + std::to_wstring(GetCurrentProcessId()));
    ASSERT_TRUE(child_.started());
    plain_ = WaitForWindow(rf::kPlainClass, rf::PlainTitle(tag_));
    ASSERT_NE(plain_, nullptr);
  }
  void TearDown() override {
    if (plain_) PostMessageW(plain_, WM_CLOSE, 0, 0);
    child_.WaitExit(5000);
  }
  std::wstring tag_;
  vm::test::ChildProcess child_;
  HWND plain_ = nullptr;
};

TEST_F(FixtureWindows, FileClassAndCaptionOfAnotherProcess) {
  const std::wstring program = vm::test::TestPath(L"rules_window_fixture.exe");
  Start(program);
  WindowInfo info = FillWindowInfo(plain_, false);
  EXPECT_EQ(info.wnd, reinterpret_cast<std::uintptr_t>(plain_));
  EXPECT_TRUE(SamePath(info.file_name, program)) << info.file_name;
  EXPECT_EQ(info.window_class, "VmRulesFixturePlain");
  EXPECT_EQ(info.window_caption, Ansi(rf::PlainTitle(tag_)));

  const WindowInfo upper = FillWindowInfo(plain_, true);
  std::string expected = info.file_name;
  CharUpperBuffA(expected.data(), static_cast<DWORD>(expected.size()));
  EXPECT_EQ(upper.file_name, expected);

  // WPF class names lose their GUIDs and name their first child.
  HWND wpf = WaitForWindow(rf::kWpfParentClass, rf::WpfTitle(tag_));
  ASSERT_NE(wpf, nullptr);
  EXPECT_EQ(FillWindowInfo(wpf, false).window_class, rf::kWpfExpected);

  // Outside conhost.exe a console-class window is its own process's.
  HWND console = WaitForWindow(rf::kConsoleClass, rf::ConsoleTitle(tag_));
  ASSERT_NE(console, nullptr);
  EXPECT_TRUE(SamePath(FillWindowInfo(console, false).file_name, program));
}

TEST_F(FixtureWindows, ConsoleWindowOfConhostNamesItsClient) {
  Start(vm::test::TestPath(L"rulesfixture\\conhost.exe"));
  HWND console = WaitForWindow(rf::kConsoleClass, rf::ConsoleTitle(tag_));
  ASSERT_NE(console, nullptr);
  // conhost.exe keeps the client's process id (ours) in the first extra pointer.
  EXPECT_TRUE(SamePath(FillWindowInfo(console, false).file_name, ModulePath()))
      << FillWindowInfo(console, false).file_name;
  // Its other windows are conhost's own.
  EXPECT_TRUE(SamePath(FillWindowInfo(plain_, false).file_name,
                       vm::test::TestPath(L"rulesfixture\\conhost.exe")));
}

TEST_F(FixtureWindows, HungWindowDoesNotHoldTheCaller) {
  Start(vm::test::TestPath(L"rules_window_fixture.exe"));
  HWND hung = WaitForWindow(rf::kHungClass, rf::HungTitle(tag_));
  ASSERT_NE(hung, nullptr);
  EXPECT_EQ(FillWindowInfo(hung, false).window_caption, Ansi(rf::HungTitle(tag_)));

  vm::UniqueHandle hanging(CreateEventW(nullptr, TRUE, FALSE, rf::HungEventName(tag_).c_str()));
  ASSERT_TRUE(hanging);
  PostMessageW(hung, rf::kHangMessage, 0, 0);
  ASSERT_EQ(WaitForSingleObject(hanging.get(), 5000), WAIT_OBJECT_0);

  const auto start = std::chrono::steady_clock::now();
  const WindowInfo info = FillWindowInfo(hung, false);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  EXPECT_EQ(info.window_caption, "");
  EXPECT_EQ(info.window_class, "VmRulesFixtureHung");  // read without a send
  // Two sends bounded by 100 ms each, far below the fixture's 4 s hang.
  EXPECT_LT(ms, static_cast<long long>(rf::kHangMs) / 2);
  std::printf("[ figure ] FillWindowInfo on a hung window returned after %lld ms\n",
              static_cast<long long>(ms));
}

// ---------------------------------------------------------------------------
// Windows of this process.

LRESULT CALLBACK Plain(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  return DefWindowProcW(w, m, wp, lp);
}

class OwnWindow {
 public:
  OwnWindow(const wchar_t* cls, const wchar_t* title = L"") {
    WNDCLASSW wc{};
    wc.lpfnWndProc = Plain;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = cls;
    RegisterClassW(&wc);
    wnd_ = CreateWindowExW(0, cls, title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                           wc.hInstance, nullptr);
  }
  ~OwnWindow() {
    if (wnd_) DestroyWindow(wnd_);
  }
  HWND get() const { return wnd_; }

 private:
  HWND wnd_ = nullptr;
};

// A property store that answers one application user model id: Wine has no
// property stores for windows, so the seam of the run-time lookup stands in.
class FakeStore : public IPropertyStore {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == __uuidof(IPropertyStore)) {
      *out = static_cast<IPropertyStore*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetCount(DWORD* n) override {
    *n = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
    PropVariantInit(value);
    static const GUID kFmtid = {
        0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}};
    if (key.fmtid != kFmtid || key.pid != 5) return S_OK;
    const wchar_t id[] = L"Vellmark.Test!App";
    value->vt = VT_LPWSTR;
    value->pwszVal = static_cast<wchar_t*>(CoTaskMemAlloc(sizeof(id)));
    std::memcpy(value->pwszVal, id, sizeof(id));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY, REFPROPVARIANT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Commit() override { return E_NOTIMPL; }
  ULONG refs = 1;
};

FakeStore g_store;
HWND g_asked_for = nullptr;

HRESULT WINAPI FakeStoreForWindow(HWND wnd, REFIID iid, void** out) {
  g_asked_for = wnd;
  return g_store.QueryInterface(iid, out);
}

TEST(OwnWindows, ApplicationFrameWindowNamesItsApplication) {
  OwnWindow frame(L"ApplicationFrameWindow", L"Frame");
  ASSERT_NE(frame.get(), nullptr);
  // The system's lookup: whatever it answers under this platform, the class
  // name comes first and nothing throws.
  EXPECT_TRUE(
      FillWindowInfo(frame.get(), false).window_class.starts_with("ApplicationFrameWindow"));

  vm::hooklib::SetPropertyStoreForWindowForTesting(&FakeStoreForWindow);
  EXPECT_EQ(FillWindowInfo(frame.get(), false).window_class,
            "ApplicationFrameWindow - Vellmark.Test!App");
  EXPECT_EQ(g_asked_for, frame.get());
  EXPECT_EQ(g_store.refs, 1u);  // the store was released again
  OwnWindow other(L"VmRulesNotAFrame");
  EXPECT_EQ(FillWindowInfo(other.get(), false).window_class, "VmRulesNotAFrame");
  vm::hooklib::SetPropertyStoreForWindowForTesting(nullptr);
}

// The match of this process: not explorer.exe, regular expressions through
// the process's pattern library.
TEST(OwnWindows, ProcessMatchContext) {
  const vm::hooklib::MatchContext context = vm::hooklib::ProcessMatchContext();
  EXPECT_FALSE(context.in_explorer);
  EXPECT_EQ(context.regex, &vm::hooklib::ProcessPatternLibrary());
}

TEST(OwnWindows, ConsoleAwarePropertyOperations) {
  using vm::hooklib::ConsolePatch;
  const wchar_t* name = L"VmRulesTestProp";
  OwnWindow plain(L"VmRulesPlain");
  OwnWindow console(L"ConsoleWindowClass");
  OwnWindow observer(L"VmRulesObserver");
  const ATOM observer_atom = GlobalAddAtomW(L"VellmarkTools_ConsolePatch_Observer");
  ASSERT_NE(observer_atom, 0);
  const ConsolePatch on{true, observer_atom};
  const ConsolePatch off{false, observer_atom};
  HANDLE value = reinterpret_cast<HANDLE>(0x4711);

  // Ordinary windows, and console windows from Windows 7 on: the window itself.
  for (HWND w : {plain.get(), console.get()}) {
    const ConsolePatch& patch = w == plain.get() ? on : off;
    EXPECT_TRUE(vm::hooklib::SetWindowPropEx(w, name, value, patch));
    EXPECT_EQ(GetPropW(w, name), value);
    EXPECT_EQ(vm::hooklib::GetWindowPropEx(w, name, patch), value);
    EXPECT_EQ(vm::hooklib::RemoveWindowPropEx(w, name, patch), value);
    EXPECT_EQ(GetPropW(w, name), nullptr);
  }
  // Before Windows 7, without an observer: refused.
  EXPECT_FALSE(vm::hooklib::SetWindowPropEx(console.get(), name, value, on));
  SetLastError(0);
  EXPECT_EQ(vm::hooklib::GetWindowPropEx(console.get(), name, on), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(vm::hooklib::RemoveWindowPropEx(console.get(), name, on), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  // With one: the observer carries the property.
  SetPropW(console.get(), MAKEINTATOM(observer_atom), observer.get());
  EXPECT_TRUE(vm::hooklib::SetWindowPropEx(console.get(), name, value, on));
  EXPECT_EQ(GetPropW(observer.get(), name), value);
  EXPECT_EQ(GetPropW(console.get(), name), nullptr);
  EXPECT_EQ(vm::hooklib::GetWindowPropEx(console.get(), name, on), value);
  EXPECT_EQ(vm::hooklib::RemoveWindowPropEx(console.get(), name, on), value);
  EXPECT_EQ(GetPropW(observer.get(), name), nullptr);
  RemovePropW(console.get(), MAKEINTATOM(observer_atom));
  GlobalDeleteAtom(observer_atom);
  // The process's own choice on this system (Windows 10 here): no redirection.
  EXPECT_FALSE(vm::hooklib::CurrentConsolePatch().active);
}

}  // namespace
