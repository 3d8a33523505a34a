// Window-procedure stubs and window subclassing, with the library's code
// linked into this test program: stub pages, the free list, the two stub
// forms on real windows, and utility windows.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "hooklib/core/library.h"
#include "hooklib/core/library_state.h"
#include "hooklib/core/machine_code.h"
#include "hooklib/core/stub_pool.h"
#include "hooklib/core/utility_window.h"
#include "hooklib/core/window_hook.h"
#include "tests/hooklib/test_support.h"

namespace vm::hooklib {
namespace {

using vm::test::kOriginalAnswer;
using vm::test::kProbe;
constexpr LRESULT kHookAnswer = 2000;
constexpr LRESULT kThirdPartyAnswerBit = 0x10000;

class LibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    AttachLibrary();
    ASSERT_TRUE(EnsureLibraryStarted());
  }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new LibraryEnvironment);

HWND MakeWindow() { return vm::test::MakeProbeWindow(L"vm_stub_test_window"); }

// An object whose method receives a subclassed window's messages.
struct Recorder {
  WindowHook* hook = nullptr;
  int calls = 0;
  long depth_inside = -1;
  void WndProc(HWND window, WindowMessage& m) noexcept {
    if (m.Msg == kProbe) {
      ++calls;
      depth_inside = CurrentCallDepth();
      m.Result = kHookAnswer;
      return;
    }
    hook->CallOldProc(window, m);
  }
};

std::unique_ptr<WindowHook> Subclass(HWND window, Recorder& r) {
  auto hook = std::make_unique<WindowHook>(window, MakeStubMethod<&Recorder::WndProc>(&r));
  r.hook = hook.get();
  return hook;
}

void* WndProcOf(HWND window) {
  return reinterpret_cast<void*>(GetWindowLongPtrW(window, GWLP_WNDPROC));
}

void CountCall(void* object, HWND, WindowMessage* m) noexcept {
  ++*static_cast<int*>(object);
  m->Result = 77;
}

// First, while this process has made no stub yet.
TEST(StubPool, OnePageHolds105StubsAndThe106thOpensASecond) {
  StubPool& pool = StubPool::Instance();
  ASSERT_EQ(pool.PageCount(), 0u);
  int counter = 0;
  const StubMethod method{&CountCall, &counter};
  std::vector<std::uint8_t*> stubs;
  for (int i = 0; i < 105; ++i)
    stubs.push_back(static_cast<std::uint8_t*>(pool.AllocateStub(method)));
  EXPECT_EQ(pool.PageCount(), 1u);
  EXPECT_EQ(pool.FreeCount(), 0u);
  auto* page = static_cast<std::uint8_t*>(pool.PageListHead());
  // Handed out from the highest address down, each at 198 + 37 k.
  EXPECT_EQ(stubs.front(), page + code::kStubsOffset + 104 * code::kStubSize);
  EXPECT_EQ(stubs.back(), page + code::kStubsOffset);
  stubs.push_back(static_cast<std::uint8_t*>(pool.AllocateStub(method)));
  EXPECT_EQ(pool.PageCount(), 2u);
  EXPECT_EQ(pool.FreeCount(), 104u);
  EXPECT_NE(reinterpret_cast<std::uintptr_t>(stubs.back()) & ~std::uintptr_t{4095},
            reinterpret_cast<std::uintptr_t>(page));
  // Every one of them calls its method.
  for (auto* s : stubs) EXPECT_EQ(reinterpret_cast<WNDPROC>(s)(nullptr, WM_NULL, 0, 0), 77);
  EXPECT_EQ(counter, 106);
  for (auto* s : stubs) pool.FreeStub(s);
  EXPECT_EQ(pool.FreeCount(), 210u);
}

TEST(StubPool, FreeingTwiceOrFreeingWhatIsNoStubChangesNothing) {
  StubPool& pool = StubPool::Instance();
  int counter = 0;
  const StubMethod method{&CountCall, &counter};
  auto* a = static_cast<std::uint8_t*>(pool.AllocateStub(method));
  auto* b = static_cast<std::uint8_t*>(pool.AllocateStub(method));
  pool.FreeStub(a);
  EXPECT_EQ(pool.FreeListHead(), a);
  const std::size_t free = pool.FreeCount();
  pool.FreeStub(a);  // already the head
  EXPECT_EQ(pool.FreeListHead(), a);
  pool.FreeStub(b);
  pool.FreeStub(a);  // already free, not the head: no cycle
  EXPECT_EQ(pool.FreeCount(), free + 1);
  auto* page =
      reinterpret_cast<std::uint8_t*>(reinterpret_cast<std::uintptr_t>(a) & ~std::uintptr_t{4095});
  int local = 0;
  for (void* bogus : {static_cast<void*>(nullptr), static_cast<void*>(page),
                      static_cast<void*>(page + code::kDispatcherOffset), static_cast<void*>(a + 1),
                      static_cast<void*>(&local), reinterpret_cast<void*>(0x1234),
                      static_cast<void*>(page + code::kStubsOffset + 105 * code::kStubSize)}) {
    pool.FreeStub(bogus);
    EXPECT_EQ(pool.RetargetStub(bogus, &method), nullptr);
    pool.MakeForwarder(bogus, reinterpret_cast<void*>(&vm::test::ProbeWindowProc), true);
  }
  EXPECT_EQ(pool.FreeCount(), free + 1);
  // A freed stub that is still called by mistake calls nothing.
  EXPECT_NE(reinterpret_cast<WNDPROC>(a)(nullptr, WM_NULL, 0, 0), 77);
  EXPECT_EQ(counter, 0);
}

TEST(StubPool, StubWhoseObjectIsGoneCallsNothingAndCountsTheCall) {
  StubPool& pool = StubPool::Instance();
  void* object = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(object, nullptr);
  *static_cast<int*>(object) = 0;
  void* stub = pool.AllocateStub(StubMethod{&CountCall, object});
  EXPECT_EQ(reinterpret_cast<WNDPROC>(stub)(nullptr, WM_NULL, 0, 0), 77);
  VirtualFree(object, 0, MEM_RELEASE);
  const long depth = CurrentCallDepth();
  EXPECT_NE(reinterpret_cast<WNDPROC>(stub)(nullptr, WM_NULL, 0, 0), 0);
  EXPECT_EQ(CurrentCallDepth(), depth);
  pool.FreeStub(stub);
}

void Throwing(void*, HWND, WindowMessage*) { throw 42; }

TEST(StubPool, ExceptionsCanBeWalkedThroughTheDispatcher) {
  // Library methods never let exceptions out (the method type is noexcept);
  // this checks the unwind data that lets the system walk a fault's stack
  // through the stub frame, with a method that breaks that rule on purpose.
  int object = 0;
  const auto code = reinterpret_cast<StubMethod::Code>(&Throwing);
  void* stub = StubPool::Instance().AllocateStub(StubMethod{code, &object});
  const long depth = CurrentCallDepth();
  int caught = 0;
  try {
    reinterpret_cast<WNDPROC>(stub)(nullptr, WM_NULL, 0, 0);
  } catch (int value) {
    caught = value;
  }
  EXPECT_EQ(caught, 42);
  // The throw skipped the dispatcher's decrement.
  EXPECT_EQ(CurrentCallDepth(), depth + 1);
  LeaveLibraryCall();
  StubPool::Instance().FreeStub(stub);
}

DWORD ProtectionOf(const void* address) {
  MEMORY_BASIC_INFORMATION info{};
  VirtualQuery(address, &info, sizeof(info));
  return info.Protect;
}

TEST(StubPool, PagesAreExecuteReadExceptWhileAStubIsWritten) {
  StubPool& pool = StubPool::Instance();
  int counter = 0;
  const StubMethod method{&CountCall, &counter};
  auto* stub = static_cast<std::uint8_t*>(pool.AllocateStub(method));
  ASSERT_NE(stub, nullptr);
  const std::uint8_t* page = reinterpret_cast<const std::uint8_t*>(
      reinterpret_cast<std::uintptr_t>(stub) & ~std::uintptr_t{4095});
  EXPECT_EQ(ProtectionOf(page), static_cast<DWORD>(PAGE_EXECUTE_READ));
  // Every way of writing a stub leaves the page execute-read again.
  pool.MakeForwarder(stub, reinterpret_cast<void*>(&vm::test::ProbeWindowProc), true);
  EXPECT_EQ(ProtectionOf(page), static_cast<DWORD>(PAGE_EXECUTE_READ));
  EXPECT_TRUE(pool.IsForwarder(stub));
  EXPECT_EQ(pool.RetargetStub(stub, &method), reinterpret_cast<void*>(&vm::test::ProbeWindowProc));
  EXPECT_EQ(ProtectionOf(page), static_cast<DWORD>(PAGE_EXECUTE_READ));
  EXPECT_EQ(reinterpret_cast<WNDPROC>(stub)(nullptr, WM_NULL, 0, 0), 77);
  pool.FreeStub(stub);
  EXPECT_EQ(ProtectionOf(page), static_cast<DWORD>(PAGE_EXECUTE_READ));
  // The stub is still called by a window until it is freed: execution goes on.
  void* again = pool.AllocateStub(method);
  EXPECT_EQ(again, stub);
  EXPECT_EQ(reinterpret_cast<WNDPROC>(again)(nullptr, WM_NULL, 0, 0), 77);
  EXPECT_EQ(counter, 2);
  pool.FreeStub(again);
}

// A method that throws: MakeStubMethod's boundary catches it.
struct Thrower {
  int calls = 0;
  void WndProc(HWND, WindowMessage& m) {
    ++calls;
    m.Result = 5;
    throw std::runtime_error("from a window procedure");
  }
};

TEST(WindowHook, AThrowingMethodEndsAtTheStubBoundaryWithTheCallDepthRestored) {
  static_assert(std::is_nothrow_invocable_v<std::remove_pointer_t<StubMethod::Code>, void*, HWND,
                                            WindowMessage*>);
  Thrower thrower;
  const StubMethod method = MakeStubMethod<&Thrower::WndProc>(&thrower);
  void* stub = StubPool::Instance().AllocateStub(method);
  ASSERT_NE(stub, nullptr);
  const long depth = CurrentCallDepth();
  EXPECT_EQ(reinterpret_cast<WNDPROC>(stub)(nullptr, WM_USER, 1, 2), 0);  // the neutral answer
  EXPECT_EQ(thrower.calls, 1);
  // Otherwise the library could never be let go of.
  EXPECT_EQ(CurrentCallDepth(), depth);
  StubPool::Instance().FreeStub(stub);
}

TEST(WindowHook, CallsTheMethodWithTheCallDepthRaised) {
  HWND w = MakeWindow();
  Recorder r;
  auto hook = Subclass(w, r);
  EXPECT_TRUE(hook->Enabled());
  EXPECT_EQ(WndProcOf(w), hook->Stub());
  EXPECT_EQ(hook->OldWndProc(), reinterpret_cast<void*>(&vm::test::ProbeWindowProc));
  const long depth = CurrentCallDepth();
  EXPECT_EQ(SendMessageW(w, kProbe, 0, 0), kHookAnswer);
  EXPECT_EQ(r.depth_inside, depth + 1);
  EXPECT_EQ(CurrentCallDepth(), depth);
  SetWindowTextW(w, L"passed on to the old procedure");
  wchar_t text[64] = {};
  GetWindowTextW(w, text, 64);
  EXPECT_STREQ(text, L"passed on to the old procedure");
  hook.reset();
  DestroyWindow(w);
}

TEST(WindowHook, HookReleaseHookReusesOneStubAndTheOriginalProcedure) {
  HWND w = MakeWindow();
  Recorder first;
  auto hook = Subclass(w, first);
  void* stub = hook->Stub();
  hook->UnhookWindow();
  // Released: the stub stays as window procedure, forwarding to the original.
  EXPECT_EQ(WndProcOf(w), stub);
  EXPECT_EQ(GetPropW(w, ObjectInstanceProp()), stub);
  EXPECT_TRUE(StubPool::Instance().IsForwarder(stub));
  EXPECT_EQ(SendMessageW(w, kProbe, 0, 0), kOriginalAnswer);
  hook.reset();
  EXPECT_EQ(SendMessageW(w, kProbe, 0, 0), kOriginalAnswer);
  EXPECT_EQ(first.calls, 0);

  Recorder second;
  auto again = Subclass(w, second);
  EXPECT_EQ(again->Stub(), stub);
  EXPECT_EQ(again->OldWndProc(), reinterpret_cast<void*>(&vm::test::ProbeWindowProc));
  EXPECT_FALSE(StubPool::Instance().IsForwarder(stub));
  EXPECT_EQ(SendMessageW(w, kProbe, 0, 0), kHookAnswer);
  EXPECT_EQ(second.calls, 1);
  again.reset();
  EXPECT_EQ(SendMessageW(w, kProbe, 0, 0), kOriginalAnswer);
  DestroyWindow(w);
}

WNDPROC g_third_party_previous = nullptr;
int g_third_party_calls = 0;

LRESULT CALLBACK ThirdPartyProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  const LRESULT r = CallWindowProcW(g_third_party_previous, w, m, wp, lp);
  if (m != kProbe) return r;
  ++g_third_party_calls;
  return r | kThirdPartyAnswerBit;
}

TEST(WindowHook, AThirdPartySubclassAfterOursKeepsWorkingAfterRelease) {
  HWND w = MakeWindow();
  Recorder r;
  auto hook = Subclass(w, r);
  void* stub = hook->Stub();
  g_third_party_previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ThirdPartyProc)));
  EXPECT_EQ(reinterpret_cast<void*>(g_third_party_previous), stub);
  EXPECT_EQ(SendMessageW(w, kProbe, 0, 0), kHookAnswer | kThirdPartyAnswerBit);

  hook.reset();  // release: the chain is not rewritten
  EXPECT_EQ(WndProcOf(w), reinterpret_cast<void*>(&ThirdPartyProc));
  g_third_party_calls = 0;
  EXPECT_EQ(SendMessageW(w, kProbe, 0, 0), kOriginalAnswer | kThirdPartyAnswerBit);
  EXPECT_EQ(g_third_party_calls, 1);
  EXPECT_EQ(r.calls, 1);

  // The third party leaves too: the window is back on our pass-through.
  SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_third_party_previous));
  EXPECT_EQ(SendMessageW(w, kProbe, 0, 0), kOriginalAnswer);
  DestroyWindow(w);
}

TEST(WindowHook, RehookFromScratchUnderAThirdPartyKeepsTheChain) {
  HWND w = MakeWindow();
  Recorder r;
  auto hook = Subclass(w, r);
  void* first_stub = hook->Stub();
  g_third_party_previous = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ThirdPartyProc)));
  hook->RehookWindowFromScratch();
  EXPECT_TRUE(hook->Enabled());
  EXPECT_NE(hook->Stub(), first_stub);
  EXPECT_EQ(hook->OldWndProc(), reinterpret_cast<void*>(&ThirdPartyProc));
  // New stub -> third party -> old stub (now a pass-through) -> original.
  EXPECT_EQ(SendMessageW(w, kProbe, 0, 0), kHookAnswer);
  WindowMessage m;
  m.Msg = kProbe;
  hook->CallOldProc(w, m);
  EXPECT_EQ(m.Result, kOriginalAnswer | kThirdPartyAnswerBit);
  hook.reset();
  DestroyWindow(w);
}

TEST(WindowHook, RehookWithoutConnectForwardsToTheClassProcedure) {
  HWND w = MakeWindow();
  Recorder r;
  auto hook = Subclass(w, r);
  hook->RehookWindow(false);
  EXPECT_FALSE(hook->Enabled());
  EXPECT_EQ(GetPropW(w, ObjectInstanceProp()), nullptr);
  EXPECT_EQ(SendMessageW(w, kProbe, 0, 0), kOriginalAnswer);
  hook->RehookWindow(true);
  EXPECT_TRUE(hook->Enabled());
  EXPECT_NE(GetPropW(w, RehookedProp()), nullptr);
  EXPECT_EQ(SendMessageW(w, kProbe, 0, 0), kHookAnswer);
  // Marked as re-hooked: a second re-hook does nothing.
  hook->RehookWindow(false);
  EXPECT_TRUE(hook->Enabled());
  hook.reset();
  EXPECT_EQ(GetPropW(w, RehookedProp()), nullptr);
  DestroyWindow(w);
}

TEST(WindowHook, ReleasingADestroyedWindowFreesItsStub) {
  HWND w = MakeWindow();
  Recorder r;
  auto hook = Subclass(w, r);
  void* stub = hook->Stub();
  const std::size_t free = StubPool::Instance().FreeCount();
  DestroyWindow(w);
  hook.reset();
  EXPECT_EQ(StubPool::Instance().FreeCount(), free + 1);
  EXPECT_EQ(StubPool::Instance().FreeListHead(), stub);
}

int g_utility_calls = 0;
void UtilityProc(void*, HWND window, WindowMessage* m) noexcept {
  if (m->Msg == kProbe) {
    ++g_utility_calls;
    m->Result = 5;
    return;
  }
  m->Result = DefWindowProcA(window, m->Msg, m->WParam, m->LParam);
}

TEST(UtilityWindow, CallsItsMethodAndFreesItsStubWhenDestroyed) {
  int object = 0;
  const StubMethod method{&UtilityProc, &object};
  HWND w = CreateUtilityWindow(&method, HWND_MESSAGE, "vm_test_utility", WS_POPUP | WS_DISABLED, 0);
  ASSERT_NE(w, nullptr);
  void* stub = reinterpret_cast<void*>(GetWindowLongPtrA(w, 0));
  EXPECT_TRUE(StubPool::Instance().IsStub(stub));
  EXPECT_EQ(reinterpret_cast<void*>(GetWindowLongPtrA(w, GWLP_WNDPROC)), stub);
  WNDCLASSEXA info{};
  info.cbSize = sizeof(info);
  ASSERT_TRUE(GetClassInfoExA(LibraryModule(), "vm_test_utility", &info));
  EXPECT_EQ(info.lpfnWndProc, &DefWindowProcA);
  EXPECT_EQ(SendMessageA(w, kProbe, 0, 0), 5);
  EXPECT_EQ(g_utility_calls, 1);
  const std::size_t free = StubPool::Instance().FreeCount();
  DestroyUtilityWindow(w);
  EXPECT_FALSE(IsWindow(w));
  EXPECT_EQ(StubPool::Instance().FreeCount(), free + 1);
  // A second window of the class reuses the registration.
  HWND again = CreateUtilityWindow(nullptr, HWND_MESSAGE, "vm_test_utility", WS_POPUP, 0);
  EXPECT_NE(again, nullptr);
  DestroyUtilityWindow(again);
}

TEST(UtilityWindow, AClassOfTheNameWithAnotherProcedureIsReplaced) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
    return DefWindowProcA(w, m, wp, lp);
  };
  wc.hInstance = LibraryModule();
  wc.lpszClassName = "vm_test_utility_other";
  ASSERT_NE(RegisterClassExA(&wc), 0);
  HWND w = CreateUtilityWindow(nullptr, HWND_MESSAGE, "vm_test_utility_other", WS_POPUP, 0);
  ASSERT_NE(w, nullptr);
  WNDCLASSEXA info{};
  info.cbSize = sizeof(info);
  ASSERT_TRUE(GetClassInfoExA(LibraryModule(), "vm_test_utility_other", &info));
  EXPECT_EQ(info.lpfnWndProc, &DefWindowProcA);
  DestroyUtilityWindow(w);
}

}  // namespace
}  // namespace vm::hooklib
