// Another process attacks a process that has the hook library loaded: it
// posts every service code the library answers, with bogus, stale and
// live-looking parameters (the address of a stub in use among them), and it
// puts a storage block with wrong addresses under a process's storage name
// before the library comes. The fixture process keeps working and nothing
// in use is freed or taken over.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/names.h"
#include "common/unique_handle.h"
#include "hooklib/core/machine_code.h"
#include "tests/hostile/hostile_shared.h"
#include "tests/messenger/server_double.h"
#include "tests/support/child_process.h"
#include "tests/support/message_pump.h"
#include "tests/support/paths.h"

namespace vm::test::hostile {
namespace {

// Every service code the library answers, a few it does not, and the
// registered service message they travel in.
constexpr WPARAM kCodes[] = {2, 3, 6, 10, 15, 19, 24, 30, 33, 34, 65, 66, 67, 0, 99, 0xFFFF};

UINT ServiceMessage() { return RegisterWindowMessageW(names::kServiceMessage); }

class Target {
 public:
  Target() : name_(UniqueName(L"Local\\vm_hostile_target")) {
    mapping_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(TargetBlock), name_.c_str()));
    if (mapping_) {
      view_.reset(MapViewOfFile(mapping_.get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TargetBlock)));
    }
  }
  bool Start() {
    if (!view_) return false;
    process_ = ChildProcess(TestPath(L"hostile_fixture.exe"), L"target " + name_);
    return process_.started() &&
           PumpUntil([&] { return block()->ready == 1 || !process_.Running(); }, 30000) &&
           block()->ready == 1;
  }
  volatile TargetBlock* block() const { return static_cast<volatile TargetBlock*>(view_.get()); }
  HWND Window(std::uint64_t value) const { return reinterpret_cast<HWND>(value); }
  // Asks the fixture to check itself once everything posted before is handled.
  std::uint64_t Check() {
    const std::uint64_t seq = block()->check_seq;
    if (!PostMessageW(Window(block()->control), kCheckRequest, 0, 0)) return ~0ull;
    if (!PumpUntil([&] { return block()->check_seq != seq || !process_.Running(); }, 30000)) {
      return ~0ull;
    }
    return block()->check_seq != seq ? block()->check_failures : ~0ull;
  }
  DWORD Quit() {
    PostMessageW(Window(block()->control), kQuit, 0, 0);
    return process_.WaitExit(20000);
  }
  bool Running() const { return process_.Running(); }

 private:
  std::wstring name_;
  UniqueHandle mapping_;
  UniqueMapView view_;
  ChildProcess process_;
};

std::string Failures(std::uint64_t bits) {
  if (bits == ~0ull) return "the fixture did not answer";
  std::string s;
  if (bits & kSubclassedBroken) s += " subclassed window broken;";
  if (bits & kReleasedBroken) s += " released window broken;";
  if (bits & kStubFreed) s += " a stub in use was freed;";
  if (bits & kForeignCapture) s += " capture went to a foreign window;";
  if (bits & kUnhookBroken) s += " per-thread hooks or unhook window gone;";
  if (bits & kLibraryUnloaded) s += " the library unloaded (no control program?);";
  return s.empty() ? "none" : s;
}

TEST(HostileSender, EveryServiceCodeWithBadParametersLeavesTheFixtureWorking) {
  // A control program for the whole attack. Without one the fixture's
  // messenger finds none, and five seconds after its start it unloads the
  // application, which removes every per-thread hook and unhook window as
  // it must: the checks would then see the unload, not the attack.
  ServerDouble control_program;
  ASSERT_NE(control_program.main_wnd(), nullptr);
  Target target;
  ASSERT_TRUE(target.Start());
  const volatile TargetBlock* b = target.block();
  ASSERT_EQ(b->hooked, 3u) << "the fixture's thread did not get the library's hooks";
  ASSERT_EQ(target.Check(), 0u) << "before any attack: " << Failures(target.Check());

  const UINT service = ServiceMessage();
  ASSERT_NE(service, 0u);
  // A window of this process: a foreign window for the fixture.
  HWND foreign = CreateWindowExW(0, L"STATIC", L"foreign", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(foreign, nullptr);

  const std::uint64_t live = b->live_stub;
  const std::uint64_t page = live & ~std::uint64_t{4095};
  std::vector<LPARAM> lparams = {0,
                                 1,
                                 -1,
                                 static_cast<LPARAM>(0xDEADBEEF),
                                 static_cast<LPARAM>(0x7FFE0000),
                                 static_cast<LPARAM>(live),
                                 static_cast<LPARAM>(live + 1),
                                 static_cast<LPARAM>(b->released_stub),
                                 static_cast<LPARAM>(b->stale_stub),
                                 static_cast<LPARAM>(page),
                                 static_cast<LPARAM>(page + hooklib::code::kDispatcherOffset),
                                 static_cast<LPARAM>(b->subclassed),
                                 static_cast<LPARAM>(b->released),
                                 static_cast<LPARAM>(b->plain),
                                 static_cast<LPARAM>(b->stale_window),
                                 static_cast<LPARAM>(b->unhook_wnd),
                                 reinterpret_cast<LPARAM>(foreign),
                                 static_cast<LPARAM>(b->thread_id)};
  const std::vector<HWND> windows = {target.Window(b->subclassed), target.Window(b->released),
                                     target.Window(b->plain), target.Window(b->control),
                                     target.Window(b->unhook_wnd)};
  const DWORD thread = static_cast<DWORD>(b->thread_id);

  int round = 0;
  auto post_all = [&](const std::vector<LPARAM>& values) {
    for (WPARAM code : kCodes) {
      for (LPARAM lp : values) {
        for (HWND w : windows) {
          if (w == nullptr) continue;
          PostMessageW(w, service, code, lp);
          SendNotifyMessageW(w, service, code, lp);
        }
        PostThreadMessageW(thread, service, code, lp);
      }
      // Let the fixture drain its queue now and then, and check it.
      if (++round % 4 == 0) {
        const std::uint64_t failures = target.Check();
        EXPECT_EQ(failures, 0u) << "after code " << code << ": " << Failures(failures);
      }
    }
  };
  post_all(lparams);
  EXPECT_EQ(target.Check(), 0u) << Failures(target.Check());

  // Every stub slot of the live stub's page: the stubs in use, the free
  // ones and the never used ones, each a live-looking stub address.
  std::vector<LPARAM> slots;
  for (std::size_t k = 0; k < hooklib::code::kStubsPerPage; ++k) {
    slots.push_back(
        static_cast<LPARAM>(page + hooklib::code::kStubsOffset + k * hooklib::code::kStubSize));
  }
  for (WPARAM code : {WPARAM{65}, WPARAM{19}, WPARAM{66}}) {
    for (LPARAM lp : slots) {
      for (HWND w : windows) {
        if (w != nullptr) PostMessageW(w, service, code, lp);
      }
      PostThreadMessageW(thread, service, code, lp);
    }
    const std::uint64_t failures = target.Check();
    EXPECT_EQ(failures, 0u) << "after stub slots with code " << code << ": " << Failures(failures);
  }

  // Sent ones too, bounded (a sent code 66 reaches the unhook window's procedure).
  for (WPARAM code : kCodes) {
    for (LPARAM lp : lparams) {
      for (HWND w : windows) {
        DWORD_PTR result = 0;
        if (w != nullptr) {
          SendMessageTimeoutW(w, service, code, lp, SMTO_ABORTIFHUNG, 2000, &result);
        }
      }
    }
  }
  const std::uint64_t failures = target.Check();
  EXPECT_EQ(failures, 0u) << Failures(failures);

  // The subclassed window answers another process through its stub.
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutW(target.Window(b->subclassed), kProbe, 0, 0, SMTO_ABORTIFHUNG, 5000,
                                &answer),
            0);
  EXPECT_EQ(static_cast<long long>(answer), kHookAnswer);
  EXPECT_TRUE(target.Running());
  EXPECT_EQ(target.Quit(), 0u);
  DestroyWindow(foreign);
}

struct StorageCase {
  const wchar_t* name;
  const char* what;
};

TEST(ForgedStorage, ABlockWithWrongAddressesIsNotTrustedAndTheLibraryWorksOnItsOwn) {
  const StorageCase cases[] = {
      {L"foreign-code", "a page of someone else's code, block switched on"},
      {L"other-block", "the library's code bound to another block"},
      {L"image-counter", "a counter inside a module image"},
      {L"inside-allocation", "a page that is not an allocation of its own"},
      {L"garbage", "addresses of nothing"},
      {L"genuine", "what an earlier library copy leaves (must be taken)"},
  };
  for (const StorageCase& c : cases) {
    ChildProcess fixture(TestPath(L"hostile_fixture.exe"), std::wstring(L"storage ") + c.name);
    ASSERT_TRUE(fixture.started());
    const DWORD code = fixture.WaitExit(30000);
    EXPECT_EQ(code, static_cast<DWORD>(kStorageOk))
        << c.what << " (20 no library, 21 took the forged page, 22 touched forged memory, "
        << "23 own trampolines broken, 24 subclassing broken, 25 refused a good block)";
  }
}

TEST(HostileSender, AHookNeverWaitsLongOnAWindowOfAHungThread) {
  // In devenv.exe the window-procedure hook sends to the parent of a moving
  // child; that parent belongs to another thread, which does not answer.
  ChildProcess fixture(TestPath(L"hostile_devenv\\devenv.exe"), L"hung-parent x");
  ASSERT_TRUE(fixture.started());
  EXPECT_EQ(fixture.WaitExit(30000), static_cast<DWORD>(kStorageOk))
      << "27: the move waited on the hung thread (259: still waiting after 30 s)";
}

TEST(ThreadExit, AnEndedThreadLeavesTheHookListAndItsUnhookStubComesBack) {
  ChildProcess fixture(TestPath(L"hostile_fixture.exe"), L"thread-exit x");
  ASSERT_TRUE(fixture.started());
  EXPECT_EQ(fixture.WaitExit(30000), static_cast<DWORD>(kStorageOk))
      << "23: the thread was not hooked, 28: its record or unhook stub stayed";
}

}  // namespace
}  // namespace vm::test::hostile
