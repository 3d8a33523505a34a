// The shared names: what each deliverable registers and in which order, the
// fallbacks when registration fails, which atom references it gives back,
// and that two processes obtain the same values. The expected names are
// written out here as literal text on purpose, so a typo in the constants
// shows up as a failure.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/names.h"
#include "common/shared_names.h"
#include "common/unique_handle.h"
#include "tests/names/names_dump.h"
#include "tests/support/paths.h"

namespace {

using vm::Deliverable;

enum class Call { Message, Atom, ClassAtom, DeleteAtom };

// Records every call and answers each name with its own non-zero value (or 0
// for everything, to drive the fallback path).
class RecordingRegistrar final : public vm::NameRegistrar {
 public:
  explicit RecordingRegistrar(bool fail = false) : fail_(fail) {}

  UINT RegisterMessage(const wchar_t* name) override { return Record(Call::Message, name); }
  ATOM AddAtom(const wchar_t* name) override { return static_cast<ATOM>(Record(Call::Atom, name)); }
  UINT RegisterClassAtom(const wchar_t* name) override { return Record(Call::ClassAtom, name); }
  void DeleteAtom(ATOM atom) override {
    calls.push_back({Call::DeleteAtom, value_names.count(atom) ? value_names[atom] : L"?"});
  }

  std::vector<std::wstring> NamesOf(Call kind) const {
    std::vector<std::wstring> out;
    for (const auto& c : calls) {
      if (c.kind == kind) out.push_back(c.name);
    }
    return out;
  }

  struct Entry {
    Call kind;
    std::wstring name;
  };
  std::vector<Entry> calls;
  std::map<UINT, std::wstring> value_names;

 private:
  UINT Record(Call kind, const wchar_t* name) {
    calls.push_back({kind, name});
    if (fail_) return 0;
    const UINT value = next_++;
    value_names[value] = name;
    return value;
  }
  bool fail_;
  UINT next_ = 0xC001;
};

const std::vector<std::wstring> kMessagesAll = {
    L"Handshake{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}",
    L"ServiceMessage_{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}",
    L"WinEventMessage_{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}",
    L"TaskbarCreated",
};
const std::vector<std::wstring> kAtomsAll = {
    L"{DC1B9555-736A-4514-A849-680B9B945802}",
    L"{23CF20B2-F478-4FD7-B92F-C155067CD9C5}",
    L"{D22F3A01-1BAD-4941-B8AB-2B88A824A84A}",
    L"{DC10751C-3F8C-4EB9-8E5B-9A05A3CC51D1}",
    L"{EC41540F-6409-4F80-BA88-658187C730E4}",
    L"{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_Noninvasive",
    L"{F5C8B9D3-736F-4773-890A-789C4FB52FD0}",
};
const std::vector<std::wstring> kAtomsLibrary = {
    L"{703D709D-6421-49D3-8A80-81D9A05E9284}",
    L"{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_RuleCRC",
    L"{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_RuleCRCValid",
    L"{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_BlockVisibilityState",
    L"{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_MoveToMonitorWithMouse",
    L"{8284CE12-6834-404E-9BF3-03DA3F0C7939}",
    L"Rehooked_{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}",
};

std::vector<std::wstring> ExpectedClassAtoms() {
  return {
      L"vfo_MessengerClientWindow",
      L"vfo_ConfigBuilder_MessengerClientWindow",
      L"TApplication",
      L"obj_App",
      vm::names::kSiblingFloatingWindowClass,  // left to us: any fixed string
      vm::names::kSiblingToggleWindowClass,
      L"Windows.UI.Core.CoreWindow",
      vm::names::kSiblingAppFrameClass,
      L"ApplicationFrameWindow",
      L"Modern_Sticky_Top_Window",
      L"Message",
      L"VellmarkTools_FoliantContainerWindow",
      vm::names::kSiblingDesktopTaskbarClass,
      vm::names::kSiblingMonitorTaskbarClass,
      L"CabinetWClass",
      L"ExploreWClass",
      L"TPUtilWindow-TMY-ACAF45DF-C00A-4DBC-99EA-0E7D92B9DBEC",
      L"TPUtilWindowW-TMY-ACAF45DF-C00A-4DBC-99EA-0E7D92B9DBEC",
  };
}

std::set<std::wstring> Concat(std::initializer_list<std::vector<std::wstring>> parts) {
  std::set<std::wstring> out;
  for (const auto& p : parts) out.insert(p.begin(), p.end());
  return out;
}

struct DeliverableCase {
  Deliverable who;
  const char* label;
  std::set<std::wstring> messages;
  std::set<std::wstring> atoms;  // not counting the pre-Windows 7 console atom
};

std::vector<DeliverableCase> Cases() {
  const std::wstring delayed = L"DelayedCBCommand{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}";
  const std::wstring ipc = L"VFO-IPC-6B2D1CBA-41DB-4083-B1A4-00E8E06820AE";
  const std::wstring console = L"VellmarkTools_ConsolePatch_Message";
  return {
      {Deliverable::Container, "container",
       Concat({kMessagesAll, {delayed, ipc, L"INTENTAPI_UPDATE", L"SHELLHOOK"}}),
       Concat({kAtomsAll})},
      {Deliverable::HookLibrary, "library",
       Concat({kMessagesAll, {L"TrayIcon_{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}", ipc, console}}),
       Concat({kAtomsAll, kAtomsLibrary})},
      {Deliverable::HookHost, "host",
       Concat({kMessagesAll, {delayed, L"{5D1A222D-F4F7-4503-BBFD-53404E674EA5}", console}}),
       Concat({kAtomsAll})},
  };
}

TEST(SharedNames, EachDeliverableRegistersItsNamesMessagesThenAtomsThenClassAtoms) {
  for (const auto& c : Cases()) {
    SCOPED_TRACE(c.label);
    RecordingRegistrar r;
    vm::RegisterSharedNames(c.who, r, /*before_windows7=*/false);

    const auto messages = r.NamesOf(Call::Message);
    const auto atoms = r.NamesOf(Call::Atom);
    EXPECT_EQ(std::set<std::wstring>(messages.begin(), messages.end()), c.messages);
    EXPECT_EQ(messages.size(), c.messages.size()) << "a message registered twice";
    EXPECT_EQ(std::set<std::wstring>(atoms.begin(), atoms.end()), c.atoms);
    EXPECT_EQ(atoms.size(), c.atoms.size()) << "an atom added twice";
    EXPECT_EQ(r.NamesOf(Call::ClassAtom), ExpectedClassAtoms());

    // Order of the kinds: every message before every atom before every class atom.
    int phase = 0;
    for (const auto& call : r.calls) {
      const int p = call.kind == Call::Message ? 0 : call.kind == Call::Atom ? 1 : 2;
      EXPECT_GE(p, phase) << "out of order: " << std::string(call.name.begin(), call.name.end());
      phase = p;
    }
  }
}

TEST(SharedNames, ConsoleObserverAtomOnlyInTheHookLibraryBeforeWindows7) {
  const std::wstring observer = L"VellmarkTools_ConsolePatch_Observer";
  for (const auto& c : Cases()) {
    SCOPED_TRACE(c.label);
    RecordingRegistrar r;
    const vm::SharedNames n = vm::RegisterSharedNames(c.who, r, /*before_windows7=*/true);
    const auto atoms = r.NamesOf(Call::Atom);
    const bool added = std::find(atoms.begin(), atoms.end(), observer) != atoms.end();
    EXPECT_EQ(added, c.who == Deliverable::HookLibrary);
    EXPECT_EQ(n.console_patch_observer != 0, c.who == Deliverable::HookLibrary);
  }
}

TEST(SharedNames, FailedRegistrationFallsBackWhereDefined) {
  struct Expected {
    Deliverable who;
    const char* label;
    UINT container_ipc;
    UINT hook_host_reserved;
  };
  // The IPC message belongs to the container and the library only; the host
  // never registers it and so keeps 0.
  const Expected cases[] = {
      {Deliverable::Container, "container", 0x88FC, 0},
      {Deliverable::HookLibrary, "library", 0x88FC, 0},
      {Deliverable::HookHost, "host", 0, 0x8318},
  };
  for (const auto& e : cases) {
    SCOPED_TRACE(e.label);
    RecordingRegistrar failing(/*fail=*/true);
    const vm::SharedNames n = vm::RegisterSharedNames(e.who, failing, true);
    EXPECT_EQ(n.service, 0x8319u);
    EXPECT_EQ(n.win_event, 0x831Au);
    EXPECT_EQ(n.container_ipc, e.container_ipc);
    EXPECT_EQ(n.hook_host_reserved, e.hook_host_reserved);
    // No fallback: stays 0, and a class atom of 0 matches no window.
    EXPECT_EQ(n.handshake, 0u);
    EXPECT_EQ(n.taskbar_created, 0u);
    EXPECT_EQ(n.noninvasive, 0);
    for (UINT a : n.class_atoms) EXPECT_EQ(a, 0u);
    EXPECT_FALSE(vm::WindowHasClassAtom(GetDesktopWindow(), 0));

    // Nothing to give back when nothing was added.
    vm::ReleaseSharedNames(e.who, n, failing);
    EXPECT_TRUE(failing.NamesOf(Call::DeleteAtom).empty());
  }
}

TEST(SharedNames, FinalisationReleasesTheListedAtomReferences) {
  const std::set<std::wstring> four = {L"{D22F3A01-1BAD-4941-B8AB-2B88A824A84A}",
                                       L"{DC10751C-3F8C-4EB9-8E5B-9A05A3CC51D1}",
                                       L"{EC41540F-6409-4F80-BA88-658187C730E4}",
                                       L"{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_Noninvasive"};
  std::set<std::wstring> seven = four;
  seven.insert({L"{703D709D-6421-49D3-8A80-81D9A05E9284}",
                L"{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_RuleCRC",
                L"{26EF4AAB-02D7-473F-9E8C-4BEC018F2E7B}_RuleCRCValid"});
  for (const auto& c : Cases()) {
    SCOPED_TRACE(c.label);
    RecordingRegistrar r;
    const vm::SharedNames n = vm::RegisterSharedNames(c.who, r, true);
    r.calls.clear();
    vm::ReleaseSharedNames(c.who, n, r);
    const auto released = r.NamesOf(Call::DeleteAtom);
    EXPECT_EQ(std::set<std::wstring>(released.begin(), released.end()),
              c.who == Deliverable::HookLibrary ? seven : four);
    EXPECT_EQ(released.size(), c.who == Deliverable::HookLibrary ? 7u : 4u);
  }
}

// Runs the probe as `who` and returns what it printed.
std::string ProbeOutput(const wchar_t* who) {
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE read_raw = nullptr, write_raw = nullptr;
  if (!CreatePipe(&read_raw, &write_raw, &sa, 0)) return {};
  vm::UniqueHandle read_end(read_raw), write_end(write_raw);
  SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);

  std::wstring cmd = L"\"" + vm::test::TestPath(L"names_probe.exe") + L"\" " + who;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = write_end.get();
  si.hStdError = write_end.get();
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    return {};
  }
  vm::UniqueHandle process(pi.hProcess), thread(pi.hThread);
  write_end.reset();  // so the read ends when the probe does

  std::string out;
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(read_end.get(), buf, sizeof(buf), &n, nullptr) && n > 0) out.append(buf, n);
  if (WaitForSingleObject(process.get(), 30000) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 1);
    return {};
  }
  return out;
}

std::map<std::string, long long> ParseDump(const std::string& text) {
  std::map<std::string, long long> values;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = std::stoll(line.substr(eq + 1));
    pos = end + 1;
  }
  return values;
}

TEST(SharedNames, AnotherProcessObtainsTheSameValuesForEveryName) {
  std::map<std::string, std::map<std::string, long long>> mine, probe;
  for (const auto& c : Cases()) {
    // Own references first: they keep the atoms alive while the probe adds
    // and releases its own.
    mine[c.label] = ParseDump(
        vm::test::DumpNames(vm::RegisterSharedNames(c.who, vm::SystemNameRegistrar(), false)));
  }
  for (const auto& c : Cases()) {
    SCOPED_TRACE(c.label);
    const std::string text = ProbeOutput(std::wstring(c.label, c.label + strlen(c.label)).c_str());
    ASSERT_FALSE(text.empty()) << "names_probe did not run";
    probe[c.label] = ParseDump(text);
    for (const auto& [name, value] : mine[c.label]) {
      EXPECT_EQ(probe[c.label][name], value) << name;
    }
  }
  // Across deliverables too: whatever two of them both obtain is the same
  // number, and everything all three register is non-zero.
  for (const auto& [name, value] : mine["container"]) {
    for (const char* other : {"library", "host"}) {
      const long long v = mine[other][name];
      if (value != 0 && v != 0) {
        EXPECT_EQ(v, value) << name << " container vs " << other;
      }
    }
  }
  for (const char* name :
       {"handshake", "service", "win_event", "taskbar_created", "noninvasive", "class_atom[14]"}) {
    EXPECT_NE(mine["container"][name], 0) << name;
  }
  EXPECT_NE(mine["container"]["container_ipc"], 0);
  EXPECT_EQ(mine["container"]["container_ipc"], mine["library"]["container_ipc"]);
  // The host and the library look the session query up; the container does not.
  EXPECT_NE(probe["host"]["session"], -1);
  EXPECT_NE(probe["library"]["session"], -1);
  EXPECT_EQ(probe["container"]["session"], -1);
}

LRESULT CALLBACK PlainProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  return DefWindowProcW(w, m, wp, lp);
}

vm::UniqueWindow MakeWindowOfClass(const wchar_t* class_name) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = PlainProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = class_name;
  RegisterClassW(&wc);
  return vm::UniqueWindow(CreateWindowExW(0, class_name, L"", WS_POPUP, 0, 0, 10, 10, nullptr,
                                          nullptr, wc.hInstance, nullptr));
}

TEST(SharedNames, FolderWindowRecognisedByClassAtomAlone) {
  vm::InitSharedNames(Deliverable::Container);
  ASSERT_NE(vm::Names().ClassAtomOf(vm::ClassAtom::Cabinet), 0u);

  auto cabinet = MakeWindowOfClass(L"CabinetWClass");
  auto other = MakeWindowOfClass(L"CabinetWClass2");
  ASSERT_TRUE(cabinet);
  ASSERT_TRUE(other);
  EXPECT_TRUE(vm::WindowHasClass(cabinet.get(), vm::ClassAtom::Cabinet));
  EXPECT_FALSE(vm::WindowHasClass(cabinet.get(), vm::ClassAtom::Explore));
  EXPECT_FALSE(vm::WindowHasClass(other.get(), vm::ClassAtom::Cabinet));
  EXPECT_FALSE(vm::WindowHasClass(nullptr, vm::ClassAtom::Cabinet));
}

}  // namespace
