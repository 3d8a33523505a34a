// A thin stand-in for the Explorer side of the container protocol, until the
// hook library's Explorer action exists: one window that answers the
// container IPC message the way the action will (prepare buffer through the
// shared PathBuffer, navigate = read the buffer and parse the folder
// reference), and records what it parsed so the test can check it.
//
//   explorer_double.exe <title> [--refuse] [--small-buffer]
//
// --refuse: IPC_PREPAREBUFFER answers 0.
// --small-buffer: a misbehaving hook that answers 1 with a 4096-byte buffer
// whatever length was asked for.
#include <windows.h>
#include <shlobj.h>

#include <cwchar>
#include <optional>
#include <string>

#include "common/container_protocol.h"
#include "common/names.h"
#include "common/shared_names.h"
#include "tests/protocol/explorer_double.h"

namespace {

namespace ed = vm::test::explorer_double;
using vm::names::IpcCommand;
using vm::protocol::UniqueIdList;

struct State {
  bool refuse = false;
  bool small_buffer = false;
  std::optional<vm::protocol::PathBuffer> buffer;
  vm::UniqueHandle small_mapping;
  vm::UniqueMapView small_view;
  UniqueIdList expected;
  LRESULT navigations = 0;
  LRESULT refused = 0;
  LRESULT last_result = 0;
} g;

UniqueIdList ParseFolder(const std::wstring& path) {
  PIDLIST_ABSOLUTE pidl = nullptr;
  if (path.empty()) {
    SHGetSpecialFolderLocation(nullptr, CSIDL_DESKTOP, &pidl);
  } else {
    SHParseDisplayName(path.c_str(), nullptr, &pidl, 0, nullptr);
  }
  return UniqueIdList(pidl);
}

std::optional<std::string> BufferText() {
  if (g.small_buffer) {
    auto text = vm::protocol::PathBufferString(static_cast<const char*>(g.small_view.get()),
                                               g.small_view ? 4096 : 0);
    if (!text) return std::nullopt;
    return std::string(*text);
  }
  return g.buffer->Read();
}

LRESULT PrepareBuffer(HWND window, LPARAM length) {
  if (g.refuse) return 0;
  if (g.small_buffer) {
    if (!g.small_mapping) {
      g.small_mapping.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                               4096, vm::protocol::PathBufferName(window).c_str()));
      if (g.small_mapping) {
        g.small_view.reset(MapViewOfFile(g.small_mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
      }
    }
    return g.small_view ? 1 : 0;
  }
  return g.buffer->Prepare(static_cast<std::uint64_t>(length)) ? 1 : 0;
}

LRESULT Navigate() {
  const auto text = BufferText();
  std::wstring caption;
  UniqueIdList list =
      text ? vm::protocol::IdListFromFolderReference(*text, &caption) : UniqueIdList();
  if (!list) {
    ++g.refused;
    g.last_result = 0;
    return 0;
  }
  ++g.navigations;
  g.last_result = 0;
  if (g.expected && ILIsEqual(list.get(), g.expected.get())) g.last_result |= ed::kIdListEqual;
  if (g.expected && caption == vm::protocol::FolderReferenceCaption(g.expected.get())) {
    g.last_result |= ed::kCaptionEqual;
  }
  return 1;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != 0 && message == vm::Names().container_ipc) {
    switch (static_cast<IpcCommand>(wparam)) {
      case IpcCommand::PrepareBuffer:
        return PrepareBuffer(window, lparam);
      case IpcCommand::Navigate:
        return Navigate();
      case IpcCommand::AllowSetForeground:
        return AllowSetForegroundWindow(static_cast<DWORD>(lparam));
      default:
        return 0;
    }
  }
  switch (message) {
    case ed::kQueryNavigations:
      return g.navigations;
    case ed::kQueryRefusedReferences:
      return g.refused;
    case ed::kQueryLastResult:
      return g.last_result;
    case ed::kQueryBufferSize:
      return g.small_buffer ? (g.small_view ? 4096 : 0) : static_cast<LRESULT>(g.buffer->size());
    case ed::kHang:
      Sleep(static_cast<DWORD>(lparam));
      return 0;
    case WM_COPYDATA: {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
      if (data->dwData != ed::kCopyExpectedFolder) return 0;
      std::wstring path(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
      g.expected = ParseFolder(path);
      return g.expected ? 1 : 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  for (int i = 2; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--refuse") == 0) g.refuse = true;
    if (std::wcscmp(argv[i], L"--small-buffer") == 0) g.small_buffer = true;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  vm::InitSharedNames(vm::Deliverable::HookLibrary);

  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = ed::kClassName;
  RegisterClassW(&wc);
  HWND window = CreateWindowExW(0, ed::kClassName, argv[1], WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50,
                                50, 300, 200, nullptr, nullptr, wc.hInstance, nullptr);
  if (window == nullptr) return 3;
  g.buffer.emplace(window);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  g.buffer->Release();
  return 0;
}
