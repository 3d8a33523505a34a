// The path buffer and folder references with real mappings and real item ID
// lists, and the container handing folders to another process's window
// through the real messages (explorer_double.exe plays the Explorer side).
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "common/container_protocol.h"
#include "common/shared_names.h"
#include "container/folder_handoff.h"
#include "tests/protocol/explorer_double.h"
#include "tests/protocol/test_support.h"
#include "tests/support/paths.h"

namespace {

using namespace vm::protocol;
namespace ed = vm::test::explorer_double;
using vm::container::FolderHandoff;
using vm::test::Child;
using vm::test::WaitUntil;

class ComEnvironment : public testing::Environment {
 public:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    vm::InitSharedNames(vm::Deliverable::Container);
  }
  void TearDown() override { CoUninitialize(); }
};
const auto* const kEnvironment = testing::AddGlobalTestEnvironment(new ComEnvironment);

UniqueIdList ParseFolder(const wchar_t* path) {
  PIDLIST_ABSOLUTE pidl = nullptr;
  if (*path == L'\0') {
    SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &pidl);
  } else {
    SHParseDisplayName(path, nullptr, &pidl, 0, nullptr);
  }
  return UniqueIdList(pidl);
}

std::size_t MappedSize(const std::wstring& name) {
  vm::UniqueHandle mapping(OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str()));
  if (!mapping) return 0;
  vm::UniqueMapView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  MEMORY_BASIC_INFORMATION info{};
  if (!view || VirtualQuery(view.get(), &info, sizeof(info)) == 0) return 0;
  return info.RegionSize;
}

// ---- Path buffer in this process ----------------------------------------------

class PathBufferTest : public testing::Test {
 protected:
  // Any handle value names the mapping; a real window keeps it unique.
  HWND window_ =
      CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  ~PathBufferTest() override { DestroyWindow(window_); }
};

TEST_F(PathBufferTest, GrowsInPagesAndRefusesOversizedRequests) {
  PathBuffer buffer(window_);
  const std::wstring name = PathBufferName(window_);

  EXPECT_FALSE(buffer.Prepare(0)) << "nothing asked for, nothing mapped";
  ASSERT_TRUE(buffer.Prepare(4096));
  EXPECT_EQ(buffer.size(), 8192u);
  EXPECT_EQ(MappedSize(name), 8192u) << "the mapping others open by name";

  const void* view = buffer.view();
  ASSERT_TRUE(buffer.Prepare(100));
  EXPECT_EQ(buffer.size(), 8192u);
  EXPECT_EQ(buffer.view(), view) << "kept, not re-created";

  ASSERT_TRUE(buffer.Prepare(8192));
  EXPECT_EQ(buffer.size(), 12288u);
  EXPECT_EQ(MappedSize(name), 12288u);

  view = buffer.view();
  EXPECT_FALSE(buffer.Prepare(kMaxPathBufferRequest + 1));
  EXPECT_FALSE(buffer.Prepare(~0ull));
  EXPECT_EQ(buffer.size(), 12288u) << "a refused request leaves the buffer as it was";
  EXPECT_EQ(buffer.view(), view);

  buffer.Release();
  EXPECT_EQ(buffer.size(), 0u);
  EXPECT_EQ(MappedSize(name), 0u) << "released means gone";
}

TEST_F(PathBufferTest, WritesAndReadsStringsUpToTheTerminator) {
  PathBuffer buffer(window_);
  EXPECT_FALSE(buffer.Read()) << "no buffer yet";
  ASSERT_TRUE(buffer.Write("{\\pidl=0000\\Caption=}"));
  EXPECT_EQ(buffer.Read(), "{\\pidl=0000\\Caption=}");

  const std::string long_text(5000, 'x');
  ASSERT_TRUE(buffer.Write(long_text));
  EXPECT_EQ(buffer.size(), 8192u);
  EXPECT_EQ(buffer.Read(), long_text);

  // A writer that fills the whole buffer leaves no string to read.
  std::memset(const_cast<void*>(buffer.view()), 'y', buffer.size());
  EXPECT_FALSE(buffer.Read());
}

// ---- Folder references with real item ID lists ---------------------------------

TEST(FolderReference, RealItemIdListsRoundTrip) {
  const wchar_t* folders[] = {L"C:\\windows", L"C:\\windows\\system32",
                              L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", L""};
  for (const wchar_t* path : folders) {
    SCOPED_TRACE(testing::Message() << "folder \"" << std::wstring(path).size() << "\" chars");
    UniqueIdList folder = ParseFolder(path);
    ASSERT_TRUE(folder);
    const auto reference = MakeFolderReference(folder.get());
    ASSERT_TRUE(reference);
    EXPECT_EQ(reference->rfind("{\\pidl=", 0), 0u);
    EXPECT_EQ(reference->back(), '}');

    std::wstring caption;
    UniqueIdList back = IdListFromFolderReference(*reference, &caption);
    ASSERT_TRUE(back) << *reference;
    EXPECT_TRUE(ILIsEqual(back.get(), folder.get()));
    EXPECT_EQ(caption, FolderReferenceCaption(folder.get()));
  }
  EXPECT_FALSE(FolderReferenceCaption(ParseFolder(L"C:\\windows").get()).empty());
}

TEST(FolderReference, FolderWithoutDisplayNameHasAnEmptyCaption) {
  UniqueIdList folder = ParseFolder(L"C:\\windows");
  ASSERT_TRUE(folder);
  const auto reference =
      MakeFolderReference(folder.get(), [](PCIDLIST_ABSOLUTE) { return std::wstring(); });
  ASSERT_TRUE(reference);
  EXPECT_EQ(reference->substr(reference->size() - 2), "=}");
  std::wstring caption = L"unchanged";
  UniqueIdList back = IdListFromFolderReference(*reference, &caption);
  ASSERT_TRUE(back);
  EXPECT_TRUE(ILIsEqual(back.get(), folder.get()));
  EXPECT_TRUE(caption.empty());
}

// ---- Across processes ------------------------------------------------------------

// One explorer_double.exe and its window, stopped by handle at the end.
class ExplorerDouble {
 public:
  explicit ExplorerDouble(const std::wstring& options = L"") {
    wchar_t title[64];
    swprintf(title, 64, L"double-%lu-%lu", GetCurrentProcessId(), ++counter_);
    child_ =
        Child(L"\"" + vm::test::TestPath(L"explorer_double.exe") + L"\" " + title + L" " + options);
    WaitUntil([&] { return (window_ = FindWindowW(ed::kClassName, title)) != nullptr; }, 15000);
  }
  HWND window() const { return window_; }
  LRESULT Query(UINT message) const {
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(window_, message, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
    return static_cast<LRESULT>(answer);
  }
  bool Expect(const std::wstring& path) const {
    COPYDATASTRUCT data{ed::kCopyExpectedFolder, static_cast<DWORD>(path.size() * sizeof(wchar_t)),
                        const_cast<wchar_t*>(path.data())};
    return SendMessageW(window_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)) != 0;
  }
  LRESULT Ipc(vm::names::IpcCommand command, LPARAM lparam) const {
    return SendMessageW(window_, vm::Names().container_ipc, static_cast<WPARAM>(command), lparam);
  }

 private:
  static inline unsigned long counter_ = 0;
  Child child_;
  HWND window_ = nullptr;
};

TEST(FolderHandoff, FoldersArriveAsEqualItemIdListsInTheOtherProcess) {
  ExplorerDouble peer;
  ASSERT_NE(peer.window(), nullptr) << "explorer_double.exe did not show its window";

  int brought_forward = 0;
  auto bring_forward = [&](HWND w) { brought_forward += w == peer.window(); };
  const wchar_t* folders[] = {L"C:\\windows", L"C:\\windows\\system32",
                              L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}", L""};
  LRESULT navigations = 0;
  for (const wchar_t* path : folders) {
    SCOPED_TRACE(testing::Message() << "folder #" << navigations);
    ASSERT_TRUE(peer.Expect(path));
    UniqueIdList folder = ParseFolder(path);
    ASSERT_TRUE(folder);

    const auto start = std::chrono::steady_clock::now();
    const auto result =
        vm::container::HandFolderToWindow(peer.window(), folder.get(), bring_forward);
    std::printf("handoff: %.1f ms\n", vm::test::MillisecondsSince(start));

    EXPECT_EQ(result.handoff, FolderHandoff::Navigated);
    EXPECT_EQ(peer.Query(ed::kQueryNavigations), ++navigations);
    EXPECT_EQ(peer.Query(ed::kQueryLastResult), ed::kIdListEqual | ed::kCaptionEqual);
    EXPECT_EQ(brought_forward, result.brought_forward ? static_cast<int>(navigations) : 0)
        << "brought forward exactly when the window allowed it";
  }
  std::printf("foreground allowed and brought forward %d of %ld times\n", brought_forward,
              static_cast<long>(navigations));
}

TEST(FolderHandoff, PrepareBufferLengthsFromAnotherProcessAreBounded) {
  ExplorerDouble peer;
  ASSERT_NE(peer.window(), nullptr);
  using vm::names::IpcCommand;
  const std::wstring name = PathBufferName(peer.window());

  EXPECT_EQ(peer.Ipc(IpcCommand::PrepareBuffer, 4096), 1);
  EXPECT_EQ(MappedSize(name), 8192u);
  EXPECT_EQ(peer.Ipc(IpcCommand::PrepareBuffer, 100), 1);
  EXPECT_EQ(peer.Query(ed::kQueryBufferSize), 8192);
  EXPECT_EQ(peer.Ipc(IpcCommand::PrepareBuffer, 8192), 1);
  EXPECT_EQ(MappedSize(name), 12288u);

  EXPECT_EQ(peer.Ipc(IpcCommand::PrepareBuffer, static_cast<LPARAM>(kMaxPathBufferRequest + 1)), 0);
  EXPECT_EQ(peer.Ipc(IpcCommand::PrepareBuffer, -1), 0);
  EXPECT_EQ(peer.Query(ed::kQueryBufferSize), 12288) << "refused requests change nothing";
  EXPECT_EQ(MappedSize(name), 12288u);
}

TEST(FolderHandoff, NothingIsHandedWhenTheWindowRefusesOrTheBufferIsTooSmall) {
  UniqueIdList folder = ParseFolder(L"C:\\windows");
  ASSERT_TRUE(folder);
  bool brought_forward = false;
  auto bring_forward = [&](HWND) { brought_forward = true; };

  {
    ExplorerDouble refusing(L"--refuse");
    ASSERT_NE(refusing.window(), nullptr);
    const auto r =
        vm::container::HandFolderToWindow(refusing.window(), folder.get(), bring_forward);
    EXPECT_EQ(r.handoff, FolderHandoff::Refused);
    EXPECT_EQ(refusing.Query(ed::kQueryNavigations) + refusing.Query(ed::kQueryRefusedReferences),
              0);
  }
  {
    // Claims success but maps only 4096 bytes: a longer reference must not be
    // written past its end; a short one still goes through.
    ExplorerDouble small(L"--small-buffer");
    ASSERT_NE(small.window(), nullptr);
    const std::string reference = *MakeFolderReference(folder.get());
    const std::string too_long = "{\\pidl=" + reference.substr(7, reference.find('\\', 7) - 7) +
                                 "\\pad=" + std::string(5000, '0') + "\\Caption=}";
    const auto r = vm::container::HandReferenceToWindow(small.window(), too_long, bring_forward);
    EXPECT_EQ(r.handoff, FolderHandoff::NoBuffer);
    EXPECT_EQ(small.Query(ed::kQueryNavigations) + small.Query(ed::kQueryRefusedReferences), 0);
    EXPECT_FALSE(brought_forward) << "nothing handed over, nothing brought forward";

    const auto ok = vm::container::HandReferenceToWindow(small.window(), reference, bring_forward);
    EXPECT_EQ(ok.handoff, FolderHandoff::Navigated);
    EXPECT_EQ(small.Query(ed::kQueryNavigations), 1);
  }
}

TEST(FolderHandoff, HostileReferencesAreRefusedOnTheExplorerSide) {
  ExplorerDouble peer;
  ASSERT_NE(peer.window(), nullptr);
  const std::string cases[] = {
      "{\\pidl=000\\Caption=}",                               // odd length
      "{\\pidl=00ZZ\\Caption=}",                              // not hex
      "{\\pidl=0800040041",                                   // truncated
      "{\\pidl=0800FFFF4141\\Caption=}",                      // item runs past the list
      "{\\pidl=" + std::string(600000, 'A') + "\\Caption=}",  // huge (odd item sizes)
  };
  LRESULT refused = 0;
  for (const auto& text : cases) {
    const auto r = vm::container::HandReferenceToWindow(peer.window(), text, nullptr);
    EXPECT_EQ(r.handoff, FolderHandoff::NotNavigated) << text.substr(0, 40);
    EXPECT_EQ(peer.Query(ed::kQueryRefusedReferences), ++refused);
  }
  EXPECT_EQ(peer.Query(ed::kQueryNavigations), 0);
}

TEST(FolderHandoff, HungExplorerThreadDoesNotHangTheContainer) {
  ExplorerDouble peer;
  ASSERT_NE(peer.window(), nullptr);
  UniqueIdList folder = ParseFolder(L"C:\\windows");
  ASSERT_TRUE(folder);

  constexpr DWORD kHangMs = 30000;
  PostMessageW(peer.window(), ed::kHang, 0, kHangMs);
  ASSERT_TRUE(WaitUntil([&] { return IsHungAppWindow(peer.window()) != FALSE; }, 20000))
      << "the system never reported the window as hung";

  // A time-out longer than the test could wait: only giving up on a hung
  // thread at once lets the call return early.
  vm::container::HandoffTimeouts patient;
  patient.command_ms = kHangMs;
  const auto start = std::chrono::steady_clock::now();
  const auto r = vm::container::HandFolderToWindow(peer.window(), folder.get(), nullptr, patient);
  const double ms = vm::test::MillisecondsSince(start);
  std::printf("handoff to a hung window returned after %.1f ms\n", ms);
  EXPECT_EQ(r.handoff, FolderHandoff::Refused);
  EXPECT_LT(ms, kHangMs / 3) << "the container waited for the hung thread";
}

}  // namespace
