// Staging of the library into %temp% and the refusals around it, with real
// processes: the host copied into a folder of its own with a stand-in hook
// library (library_double.cpp, built as vfoemb64.dll) that installs no hooks
// and notes every load and call. This program runs in a Wine session of its
// own (private_session.sh): Wine keeps a hooked library mapped in every
// process it entered, and the real library other tests install would count
// as another copy of ours to every host here.
#include <windows.h>

#include <cstdio>
#include <filesystem>

#include "common/hook_host_launcher.h"
#include "tests/hookhost/host_test_support.h"

namespace vm::test::hookhost {
namespace {

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteAll(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  out << bytes;
}

// One case's folder: the host and the stand-in library, its own temporary
// folder and the stand-in's notes.
class HostFolder {
 public:
  explicit HostFolder(const wchar_t* stem, const std::wstring& mode = L"")
      : folder_(stem),
        temp_(folder_ / L"temp"),
        notes_(L"VM_HOOKHOST_DOUBLE_LOG", folder_ / L"double.log"),
        mode_(L"VM_HOOKHOST_DOUBLE_MODE", mode) {
    EXPECT_TRUE(CopyFileW(BinPath(L"VellmarkFoliantCenter64.exe").c_str(), host().c_str(), FALSE));
    EXPECT_TRUE(CopyFileW(DoubleLibrary().c_str(), source().c_str(), FALSE));
  }
  static std::wstring DoubleLibrary() { return TestPath(L"hookhost_double\\vfoemb64.dll"); }
  std::wstring host() const { return folder_ / L"VellmarkFoliantCenter64.exe"; }
  std::wstring source() const { return folder_ / L"vfoemb64.dll"; }
  std::wstring staged() const { return folder_ / L"temp\\vfoemb64.dll"; }
  std::wstring path(const std::wstring& name) const { return folder_ / name; }
  // The stand-in's notes of one process, without its pid.
  std::vector<std::string> Notes(DWORD pid) const {
    const std::string prefix = std::to_string(pid) + ";";
    std::vector<std::string> out;
    for (const std::string& line : ReadLines(folder_ / L"double.log"))
      if (line.rfind(prefix, 0) == 0) out.push_back(line.substr(prefix.size()));
    return out;
  }

 private:
  RunFolder folder_;
  ScopedTemp temp_;
  ScopedVariable notes_;
  ScopedVariable mode_;
};

std::string AttachNote(const std::wstring& path) { return "attach;" + Narrow(path); }

class StagingTest : public ::testing::Test {
 protected:
  LogSwitchOn log_on_;
  HostEvents events_;
};

// Serves until the shutdown event, then returns the stand-in's notes of the host.
std::vector<std::string> ServeAndStop(HostFolder& f, HostEvents& events, const wchar_t* stage) {
  ControlDouble control(false);
  EXPECT_TRUE(control.WaitReady());
  ChildProcess host(f.host(), control.HostArguments(stage));
  EXPECT_TRUE(HostEvents::Taken(events.startup, kBound)) << HostState(host, events);
  SetEvent(events.shutdown.get());
  EXPECT_EQ(host.WaitExit(kBound), 0u);
  EXPECT_TRUE(HostEvents::Taken(events.shutdown));
  EXPECT_FALSE(HostEvents::Taken(events.relogin));
  return f.Notes(host.id());
}

TEST_F(StagingTest, NoStagedCopyIsCopiedWithNormalAttributesAndLoaded) {
  HostFolder f(L"stage_new");
  // A read-only source: the copy takes its attributes, the host clears them.
  SetFileAttributesW(f.source().c_str(), FILE_ATTRIBUTE_READONLY);
  const auto notes = ServeAndStop(f, events_, L"0");
  SetFileAttributesW(f.source().c_str(), FILE_ATTRIBUTE_NORMAL);
  ASSERT_TRUE(FileExists(f.staged()));
  EXPECT_EQ(ReadAll(f.staged()), ReadAll(f.source()));
  EXPECT_FALSE(GetFileAttributesW(f.staged().c_str()) & FILE_ATTRIBUTE_READONLY);
  const std::vector<std::string> expected = {AttachNote(f.staged()), "InstallMainHooks",
                                             "UninstallMainHooks", "detach"};
  EXPECT_EQ(notes, expected);
}

TEST_F(StagingTest, StagedCopyWithTheSameCrcIsLoadedAsItIs) {
  HostFolder f(L"stage_same");
  ASSERT_TRUE(CopyFileW(f.source().c_str(), f.staged().c_str(), FALSE));
  // A mark a new copy would not keep: CopyFileW gives the copy the source's time.
  UniqueHandle file{CreateFileW(f.staged().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr)};
  SYSTEMTIME old_time{2001, 1, 1, 1, 12, 0, 0, 0};
  FILETIME mark{};
  SystemTimeToFileTime(&old_time, &mark);
  ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &mark));
  file.reset();

  const auto notes = ServeAndStop(f, events_, L"0");
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(f.staged().c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(CompareFileTime(&data.ftLastWriteTime, &mark), 0) << "the staged copy was rewritten";
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(notes[0], AttachNote(f.staged()));
}

TEST_F(StagingTest, StagedCopyWithAnotherCrcIsReplaced) {
  HostFolder f(L"stage_other");
  WriteAll(f.staged(), "an older library");
  const auto notes = ServeAndStop(f, events_, L"0");
  EXPECT_EQ(ReadAll(f.staged()), ReadAll(f.source()));
  ASSERT_FALSE(notes.empty());
  EXPECT_EQ(notes[0], AttachNote(f.staged()));
}

TEST_F(StagingTest, StagedCopyThatCannotBeDeletedAsksForReloginAndEnds) {
  HostFolder f(L"stage_locked");
  WriteAll(f.staged(), "an older library, still in use");
  {
    // Held by a process that lets others read it but not delete it.
    UniqueHandle holder{CreateFileW(f.staged().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr)};
    ASSERT_TRUE(holder);
    ControlDouble control(false);
    ASSERT_TRUE(control.WaitReady());
    ChildProcess host(f.host(), control.HostArguments(L"0"));
    EXPECT_TRUE(HostEvents::Taken(events_.relogin, kBound));
    EXPECT_TRUE(HostEvents::Taken(events_.shutdown, kBound));
    EXPECT_EQ(host.WaitExit(kBound), 0u);
    EXPECT_FALSE(HostEvents::Taken(events_.startup));
    EXPECT_EQ(control.record().announcements, 0u);
    EXPECT_TRUE(f.Notes(host.id()).empty()) << "the library was loaded";
  }
  EXPECT_EQ(ReadAll(f.staged()), "an older library, still in use");
}

TEST_F(StagingTest, SameNamedLibraryFromAnotherFolderElsewhereAsksForRelogin) {
  struct Case {
    const char* name;
    bool other_folder;  // else the host's own library, same path
  };
  for (const Case c : {Case{"another folder, other case", true}, Case{"the same file", false}}) {
    SCOPED_TRACE(c.name);
    HostFolder f(L"elsewhere");
    std::filesystem::create_directories(f.path(L"other"));
    const std::wstring other = f.path(L"other\\VFOEMB64.DLL");
    ASSERT_TRUE(CopyFileW(f.source().c_str(), other.c_str(), FALSE));
    ControlDouble control(false, c.other_folder ? other : f.source());
    ASSERT_TRUE(control.WaitReady());
    ASSERT_EQ(control.record().library_loaded, 1u);
    ChildProcess host(f.host(), control.HostArguments(L"1"));
    if (c.other_folder) {
      EXPECT_TRUE(HostEvents::Taken(events_.relogin, kBound));
      EXPECT_TRUE(HostEvents::Taken(events_.shutdown, kBound));
      EXPECT_EQ(host.WaitExit(kBound), 0u);
      EXPECT_FALSE(HostEvents::Taken(events_.startup));
      EXPECT_TRUE(f.Notes(host.id()).empty()) << "the library was loaded";
    } else {
      EXPECT_TRUE(HostEvents::Taken(events_.startup, kBound));
      SetEvent(events_.shutdown.get());
      EXPECT_EQ(host.WaitExit(kBound), 0u);
      EXPECT_FALSE(HostEvents::Taken(events_.relogin));
      ASSERT_FALSE(f.Notes(host.id()).empty());
      EXPECT_EQ(f.Notes(host.id())[0], AttachNote(f.source()));
    }
    events_.Reset();
  }
}

TEST_F(StagingTest, MouseHookRequestsFollowTheFlag) {
  struct Case {
    const wchar_t* mode;
    std::vector<UINT> requests;
    std::vector<std::string> calls;  // after InstallMainHooks, to the end
    std::size_t before_stop;         // of which the requests make
  };
  const Case cases[] = {
      // 74 while on and 75 while off are ignored.
      {L"",
       {kPostInstallMouseHook, kPostInstallMouseHook, kPostUninstallMouseHook,
        kPostUninstallMouseHook, kPostInstallMouseHook},
       {"InstallMouseHook", "UninstallMouseHook", "InstallMouseHook", "UninstallMouseHook",
        "UninstallMainHooks", "detach"},
       3},
      // A failed install leaves the flag off: the next 74 tries again, 75 does nothing.
      {L"mousefail",
       {kPostInstallMouseHook, kPostUninstallMouseHook, kPostInstallMouseHook},
       {"InstallMouseHook", "InstallMouseHook", "UninstallMainHooks", "detach"},
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.mode));
    HostFolder f(L"mouse", c.mode);
    ControlDouble control(false);
    ASSERT_TRUE(control.WaitReady());
    ChildProcess host(f.host(), control.HostArguments(L"1"));
    ASSERT_TRUE(HostEvents::Taken(events_.startup, kBound))
        << HostState(host, events_) << "; notes:\n"
        << [&] {
             std::string all;
             for (const std::string& n : ReadLines(f.path(L"double.log"))) all += n + "\n";
             return all;
           }();
    for (UINT r : c.requests) PostMessageW(control.window(), r, 0, 0);
    // The last request acts; once its call is noted, the ones before were handled.
    EXPECT_TRUE(PumpUntil([&] { return f.Notes(host.id()).size() >= 2 + c.before_stop; }, kBound));
    SetEvent(events_.shutdown.get());
    EXPECT_EQ(host.WaitExit(kBound), 0u);
    std::vector<std::string> expected = {AttachNote(f.source()), "InstallMainHooks"};
    expected.insert(expected.end(), c.calls.begin(), c.calls.end());
    EXPECT_EQ(f.Notes(host.id()), expected);
    events_.Reset();
  }
}

TEST_F(StagingTest, EscapingExceptionEndsWithCode217AndNoDialog) {
  HostFolder f(L"raise", L"raise");
  ControlDouble control(false);
  ASSERT_TRUE(control.WaitReady());
  ChildProcess host(f.host(), control.HostArguments(L"1"));
  // A dialog would keep the process alive past the bound.
  EXPECT_EQ(host.WaitExit(kBound), 217u);
  EXPECT_TRUE(HostEvents::Taken(events_.shutdown)) << "the control program was not told";
  EXPECT_FALSE(HostEvents::Taken(events_.startup));
}

TEST_F(StagingTest, FailuresAreLoggedWithTheErrorOfTheFailingCall) {
  {
    SCOPED_TRACE("InstallMainHooks fails with error 5");
    HostFolder f(L"fail", L"fail");
    LogTail log;
    ControlDouble control(false);
    ASSERT_TRUE(control.WaitReady());
    ChildProcess host(f.host(), control.HostArguments(L"1"));
    EXPECT_TRUE(HostEvents::Taken(events_.shutdown, kBound));
    EXPECT_EQ(host.WaitExit(kBound), 0u);
    EXPECT_FALSE(HostEvents::Taken(events_.startup));
    EXPECT_TRUE(log.Has("TCCApp;Failed;CallEAProc;InstallMainHooks;" +
                        Narrow(eventlog::ErrorText(ERROR_ACCESS_DENIED))))
        << log.Dump();
    // The library is freed all the same.
    const std::vector<std::string> expected = {AttachNote(f.source()), "InstallMainHooks",
                                               "UninstallMainHooks", "detach"};
    EXPECT_EQ(f.Notes(host.id()), expected);
  }
  {
    SCOPED_TRACE("a library that is no library");
    HostFolder f(L"corrupt");
    WriteAll(f.source(), "MZ but nothing else of an image");
    SetLastError(0);
    HMODULE attempt = LoadLibraryW(f.source().c_str());
    const DWORD error = GetLastError();
    ASSERT_EQ(attempt, nullptr);
    LogTail log;
    ControlDouble control(false);
    ASSERT_TRUE(control.WaitReady());
    ChildProcess host(f.host(), control.HostArguments(L"1"));
    EXPECT_TRUE(HostEvents::Taken(events_.shutdown, kBound));
    EXPECT_EQ(host.WaitExit(kBound), 0u);
    EXPECT_TRUE(log.Has("TCCApp;Failed;LoadLibrary;\"" + Narrow(f.source()) + "\";" +
                        Narrow(eventlog::ErrorText(error))))
        << log.Dump() << "expected error " << error;
  }
}

TEST_F(StagingTest, LauncherReportsTheReloginRequest) {
  HostFolder f(L"launcher_relogin");
  std::filesystem::create_directories(f.path(L"other"));
  const std::wstring other = f.path(L"other\\vfoemb64.dll");
  ASSERT_TRUE(CopyFileW(f.source().c_str(), other.c_str(), FALSE));
  HMODULE held = LoadLibraryW(other.c_str());  // this process holds another copy
  ASSERT_NE(held, nullptr);
  ControlDouble control(false);
  ASSERT_TRUE(control.WaitReady());
  {
    HookHostLauncher launcher;
    HookHostOptions options;
    options.host_path = f.host();
    options.control_window = control.window();
    EXPECT_EQ(launcher.Start(options), HookHostStart::NeedsRelogin);
    EXPECT_TRUE(launcher.relogin_requested());
    EXPECT_FALSE(launcher.Running());
  }
  FreeLibrary(held);
  events_.Reset();
}

}  // namespace
}  // namespace vm::test::hookhost
