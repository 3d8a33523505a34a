// Single-instance guard, file-access mutex and file security, checked across
// real processes (the helper program plays the other process).
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/file_access_mutex.h"
#include "common/file_system_security.h"
#include "common/names.h"
#include "common/shared_names.h"
#include "common/single_instance.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/message_pump.h"
#include "tests/support/paths.h"

namespace {

using vm::test::ChildProcess;
using vm::test::UniqueName;
using vm::test::NewTempFolder;

constexpr DWORD kAlreadyExists = 10;
constexpr DWORD kTookGuard = 11;

ChildProcess Helper(const std::wstring& arguments) {
  return ChildProcess(vm::test::TestPath(L"vm_common_helper.exe"), arguments);
}

vm::UniqueHandle Event(const std::wstring& name) {
  return vm::UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
}

// Identifiers of our own: the product's real ones belong to the programs.
std::wstring TestAppId() { return UniqueName(L"{vm-test-instance}"); }

// ---------------------------------------------------------------------------
// Single instance

TEST(SingleAppInstance, FirstTakesTheGuardAndRecordsItself) {
  const std::wstring id = TestAppId();
  vm::SingleAppInstance first(id);
  EXPECT_EQ(first.MappingName(), L"Local\\" + id);
  EXPECT_FALSE(first.CheckApp()) << "nothing to find yet";
  EXPECT_FALSE(first.AppAlreadyExist());
  EXPECT_EQ(first.StoredData().process_id, GetCurrentProcessId());
  EXPECT_EQ(first.StoredData().current_window, 0u);

  // The record as another reader of the mapping sees it.
  vm::UniqueHandle mapping(OpenFileMappingW(FILE_MAP_READ, FALSE, first.MappingName().c_str()));
  ASSERT_TRUE(mapping);
  vm::UniqueMapView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 16));
  ASSERT_TRUE(view);
  const auto* bytes = static_cast<const std::uint32_t*>(view.get());
  EXPECT_EQ(bytes[0], GetCurrentProcessId());
  EXPECT_EQ(bytes[1], 0u);
  EXPECT_EQ(bytes[2], 0u);
  EXPECT_EQ(bytes[3], 0u);

  // Asking again in the first instance, even through a new object: still first.
  EXPECT_FALSE(vm::SingleAppInstance(id).AppAlreadyExist());
  EXPECT_FALSE(vm::SingleAppInstance(id).CheckApp());
}

TEST(SingleAppInstance, OtherProcessesAreSecondForTheSameIdAndFirstForAnother) {
  const std::wstring id = TestAppId();
  const std::wstring other_id = TestAppId();
  ASSERT_FALSE(vm::SingleAppInstance(id).AppAlreadyExist());  // this process is first

  // The guard is held by the mapping alone: the object above is gone.
  ChildProcess same = Helper(L"instance " + id);
  EXPECT_EQ(same.WaitExit(), kAlreadyExists);
  ChildProcess different = Helper(L"instance " + other_id);
  EXPECT_EQ(different.WaitExit(), kTookGuard);
  // That helper has ended, and its guard with it.
  ChildProcess after = Helper(L"instance " + other_id);
  EXPECT_EQ(after.WaitExit(), kTookGuard);
}

TEST(SingleAppInstance, AnotherProcessHoldingTheGuardIsFoundWithItsProcessId) {
  const std::wstring id = TestAppId();
  const std::wstring ready = UniqueName(L"Local\\vm_hold_ready"),
                     quit = UniqueName(L"Local\\vm_hold_quit");
  vm::UniqueHandle ready_event = Event(ready), quit_event = Event(quit);
  ChildProcess holder = Helper(L"hold " + id + L" " + ready + L" " + quit);
  ASSERT_EQ(WaitForSingleObject(ready_event.get(), 10000), WAIT_OBJECT_0);

  vm::SingleAppInstance second(id);
  EXPECT_TRUE(second.CheckApp());
  EXPECT_TRUE(second.AppAlreadyExist());
  EXPECT_EQ(second.StoredData().process_id, holder.id());

  SetEvent(quit_event.get());
  EXPECT_EQ(holder.WaitExit(), kTookGuard);
  // Windows destroyed the mapping with its last handle: the next one is first.
  vm::SingleAppInstance next(id);
  EXPECT_FALSE(next.CheckApp());
  EXPECT_FALSE(next.AppAlreadyExist());
}

// Processes released at the same instant: exactly one may run.
TEST(SingleAppInstance, SimultaneousStartsLeaveExactlyOneFirst) {
  constexpr int kProcesses = 6;
  for (int round = 0; round < 3; ++round) {
    const std::wstring id = TestAppId();
    const std::wstring ready = UniqueName(L"Local\\vm_race_ready"),
                       go = UniqueName(L"Local\\vm_race_go"),
                       done = UniqueName(L"Local\\vm_race_done"),
                       quit = UniqueName(L"Local\\vm_race_quit");
    vm::UniqueHandle ready_sem(CreateSemaphoreW(nullptr, 0, kProcesses, ready.c_str()));
    vm::UniqueHandle done_sem(CreateSemaphoreW(nullptr, 0, kProcesses, done.c_str()));
    vm::UniqueHandle go_event = Event(go), quit_event = Event(quit);
    std::vector<ChildProcess> racers;
    for (int i = 0; i < kProcesses; ++i) {
      racers.push_back(
          Helper(L"race " + id + L" " + ready + L" " + go + L" " + done + L" " + quit));
    }
    // Six Wine processes starting at once on a loaded machine take seconds;
    // the racers themselves wait as long for the start signal.
    // What each racer is doing, for a failure message: running, or its exit code.
    auto states = [&] {
      std::string out;
      for (const ChildProcess& racer : racers) {
        DWORD code = 0;
        out += !racer.started()                             ? " not-started"
               : !GetExitCodeProcess(racer.handle(), &code) ? " unknown"
               : code == STILL_ACTIVE                       ? " running"
                                                            : " exit-" + std::to_string(code);
      }
      return out;
    };
    for (int i = 0; i < kProcesses; ++i) {
      ASSERT_EQ(WaitForSingleObject(ready_sem.get(), 30000), WAIT_OBJECT_0)
          << i << " of " << kProcesses << " racers ready in round " << round << ";" << states();
    }
    SetEvent(go_event.get());
    // Every racer holds on to its answer (and the winner to its guard) until all answered.
    for (int i = 0; i < kProcesses; ++i) {
      ASSERT_EQ(WaitForSingleObject(done_sem.get(), 30000), WAIT_OBJECT_0)
          << i << " of " << kProcesses << " racers answered in round " << round << ";" << states();
    }
    SetEvent(quit_event.get());
    int first = 0, second = 0;
    for (ChildProcess& racer : racers) {
      const DWORD code = racer.WaitExit();
      first += code == kTookGuard;
      second += code == kAlreadyExists;
    }
    EXPECT_EQ(first, 1) << "round " << round;
    EXPECT_EQ(second, kProcesses - 1) << "round " << round;
  }
}

// A second instance asks the first to come forward: the first's recorded
// window becomes foreground and every other application gets the command.
TEST(SingleAppInstance, ActivateFirstAppBringsTheWindowForwardAndBroadcasts) {
  vm::InitSharedNames(vm::Deliverable::Container);
  const UINT delayed = vm::Names().delayed_command;
  ASSERT_NE(delayed, 0u);
  const std::wstring id = TestAppId();
  vm::SingleAppInstance first(id);
  ASSERT_FALSE(first.AppAlreadyExist());

  struct Received {
    int count = 0;
    WPARAM wparam = 0;
    LPARAM lparam = 0;
  };
  // Broadcasts reach every top-level window; the stored one stands for all.
  static Received received;
  static UINT message = delayed;
  static HWND listener = nullptr;
  received = {};
  WNDCLASSW wc{};
  wc.lpszClassName = L"vm_activate_test_window";
  wc.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == message && w == listener) received = {received.count + 1, wp, lp};
    return DefWindowProcW(w, m, wp, lp);
  };
  RegisterClassW(&wc);
  HWND stored = CreateWindowExW(0, wc.lpszClassName, L"stored", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                10, 10, 200, 100, nullptr, nullptr, nullptr, nullptr);
  HWND other = CreateWindowExW(0, wc.lpszClassName, L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 250,
                               10, 200, 100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_TRUE(stored && other);
  listener = stored;
  ASSERT_TRUE(first.SetCurrentWindow(stored));
  SetForegroundWindow(other);
  ASSERT_TRUE(vm::test::PumpUntil([&] { return GetForegroundWindow() == other; }));

  ChildProcess second = Helper(L"activate " + id + L" 0x08000005");
  EXPECT_EQ(second.WaitExit(), kAlreadyExists);
  EXPECT_TRUE(vm::test::PumpUntil([&] { return received.count > 0; }));
  EXPECT_EQ(received.count, 1);
  EXPECT_EQ(received.wparam, 5u) << "the activation bit is cleared";
  EXPECT_EQ(received.lparam, 1);
  EXPECT_EQ(GetForegroundWindow(), stored);

  // Without the bit: the window stays where it is and lParam is 0.
  SetForegroundWindow(other);
  ASSERT_TRUE(vm::test::PumpUntil([&] { return GetForegroundWindow() == other; }));
  received = {};
  ChildProcess third = Helper(L"activate " + id + L" 7");
  EXPECT_EQ(third.WaitExit(), kAlreadyExists);
  EXPECT_TRUE(vm::test::PumpUntil([&] { return received.count > 0; }));
  EXPECT_EQ(received.wparam, 7u);
  EXPECT_EQ(received.lparam, 0);
  EXPECT_EQ(GetForegroundWindow(), other);

  DestroyWindow(stored);
  DestroyWindow(other);
}

TEST(SingleAppInstance, OnlyTheGuardHolderMayRecordAWindow) {
  vm::SingleAppInstance never_taken(TestAppId());
  EXPECT_FALSE(never_taken.SetCurrentWindow(GetDesktopWindow()));
}

// ---------------------------------------------------------------------------
// File-access mutex

TEST(FileAccessMutex, OnlyTheFileNameNamesTheLock) {
  EXPECT_EQ(vm::FileAccessMutex::MutexNameFor(L"C:\\a\\b\\CenterEvents.log"),
            std::wstring(vm::names::kFileLockPrefix) + L"CenterEvents.log");
  EXPECT_EQ(vm::FileAccessMutex::MutexNameFor(L"C:\\x\\CenterEvents.log"),
            vm::FileAccessMutex::MutexNameFor(L"D:/y/CenterEvents.log"));
  EXPECT_EQ(vm::FileAccessMutex::MutexNameFor(L"plain.log"),
            std::wstring(vm::names::kFileLockPrefix) + L"plain.log");
}

TEST(FileAccessMutex, TheCreatorHoldsItAndFilesOfOneNameInTwoFoldersShareIt) {
  const std::wstring name = UniqueName(L"shared") + L".log";
  const std::wstring here = L"C:\\one\\" + name, there = L"C:\\two\\" + name;
  {
    vm::FileAccessMutex lock(here);
    ASSERT_TRUE(lock.valid());
    ChildProcess probe = Helper(L"trylock " + there);
    EXPECT_EQ(probe.WaitExit(), 1u) << "held by this process";
    lock.Unlock();
    ChildProcess free_probe = Helper(L"trylock " + there);
    EXPECT_EQ(free_probe.WaitExit(), 0u) << "released";
    lock.Lock();
    ChildProcess again = Helper(L"trylock " + there);
    EXPECT_EQ(again.WaitExit(), 1u);
  }
  ChildProcess after = Helper(L"trylock " + there);
  EXPECT_EQ(after.WaitExit(), 0u) << "the destructor unlocks";
}

TEST(FileAccessMutex, SerialisesTwoWriterProcesses) {
  const std::wstring folder = NewTempFolder(L"vm_writers");
  const std::wstring path = folder + L"\\writers.log";
  const std::wstring go = UniqueName(L"Local\\vm_writers_go");
  vm::UniqueHandle go_event = Event(go);
  constexpr int kLines = 40;
  ChildProcess a = Helper(L"write \"" + path + L"\" " + std::to_wstring(kLines) + L" " + go);
  ChildProcess b = Helper(L"write \"" + path + L"\" " + std::to_wstring(kLines) + L" " + go);
  SetEvent(go_event.get());
  EXPECT_EQ(a.WaitExit(30000), 0u);
  EXPECT_EQ(b.WaitExit(30000), 0u);

  std::ifstream in(path.c_str());
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u * kLines);
  // Every "begin" is directly followed by the same writer's "end".
  for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
    ASSERT_EQ(lines[i].rfind("begin ", 0), 0u) << "line " << i << ": " << lines[i];
    EXPECT_EQ(lines[i + 1], "end " + lines[i].substr(6)) << "line " << i + 1;
  }
  in.close();
  DeleteFileW(path.c_str());
  RemoveDirectoryW(folder.c_str());
}

// ---------------------------------------------------------------------------
// File security

// The access mask Everyone gets from the object's DACL (0 when none).
// Wine keeps no DACL of its own: it maps the DACL to and from Unix permission
// bits, so "Everyone can write" is what survives the round trip.
ACCESS_MASK EveryoneAccess(const std::wstring& path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &sd) != ERROR_SUCCESS) {
    return 0;
  }
  PSID everyone = nullptr;
  ConvertStringSidToSidW(L"WD", &everyone);
  ACCESS_MASK mask = 0;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) &&
        ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && EqualSid(&ace->SidStart, everyone)) {
      mask |= ace->Mask;
    }
  }
  LocalFree(everyone);
  LocalFree(sd);
  return mask;
}

void MakeReadOnlyForEveryone(const std::wstring& path) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;GR;;;WD)",
                                                                   SDDL_REVISION_1, &sd, nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  std::wstring name = path;
  ASSERT_EQ(SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, dacl, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  LocalFree(sd);
}

TEST(FileSystemSecurity, OpensAFolderToEveryoneOncePerPath) {
  const std::wstring folder = NewTempFolder(L"vm_security");
  MakeReadOnlyForEveryone(folder);
  ASSERT_EQ(EveryoneAccess(folder) & FILE_WRITE_DATA, 0u);

  vm::FileSystemSecurity security;
  EXPECT_TRUE(security.SetFileAccessRights(folder));
  EXPECT_NE(EveryoneAccess(folder) & FILE_WRITE_DATA, 0u) << "Everyone may write now";

  // The same path again, also spelt in another case: not touched again.
  MakeReadOnlyForEveryone(folder);
  std::wstring upper = folder;
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  EXPECT_TRUE(security.SetFileAccessRights(folder));
  EXPECT_TRUE(security.SetFileAccessRights(upper));
  EXPECT_EQ(EveryoneAccess(folder) & FILE_WRITE_DATA, 0u) << "handled once per object";

  // Another object has its own list.
  vm::FileSystemSecurity fresh;
  EXPECT_TRUE(fresh.SetFileAccessRights(folder));
  EXPECT_NE(EveryoneAccess(folder) & FILE_WRITE_DATA, 0u);
  RemoveDirectoryW(folder.c_str());
}

TEST(FileSystemSecurity, AFailureIsNotRememberedSoALaterCallTriesAgain) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = std::wstring(temp) + UniqueName(L"vm_security_late");
  vm::FileSystemSecurity& security = vm::SharedFileSystemSecurity();
  EXPECT_EQ(&security, &vm::SharedFileSystemSecurity());
  EXPECT_FALSE(security.SetFileAccessRights(folder)) << "does not exist yet";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  MakeReadOnlyForEveryone(folder);
  EXPECT_TRUE(security.SetFileAccessRights(folder));
  EXPECT_NE(EveryoneAccess(folder) & FILE_WRITE_DATA, 0u);
  EXPECT_FALSE(security.SetFileAccessRights(L""));
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
