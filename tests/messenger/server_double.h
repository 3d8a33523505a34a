#pragma once
// A stand-in for the control program's messenger servers: message-only
// windows of "vfo_MessengerServerWindow" and "vfo_MessengerShellServerWindow"
// on a thread of their own that answer the Handshake as the control program
// must (4: 1 for registered, or what the test sets; 5: no handle), read every
// WM_COPYDATA body the client sends and record it, and, when told, answer
// messages whose sender waits with a result (dwData 1), stay busy for a
// while, hang until released, or go away. Used in the test process and in a
// helper process the tests kill.
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/names.h"
#include "common/unique_handle.h"
#include "common/value_list.h"

namespace vm::test {

struct ServerRecord {
  enum Kind { Register, ProcessHandle, CopyData } kind = CopyData;
  HWND server = nullptr;  // which of the double's windows
  LPARAM lparam = 0;      // Handshake: the client window or process id
  WPARAM wparam = 0;      // WM_COPYDATA: the client window when a sender waits
  ULONG_PTR dw_data = 0;
  bool parsed = false;  // every item of a client body read
  std::uint32_t id = 0;
  std::string receiver;
  std::int32_t code = 0;
  std::string data;
  std::uint32_t process_id = 0;
};

class ServerDouble {
 public:
  using Observer = std::function<void(const ServerRecord&)>;

  explicit ServerDouble(bool with_shell = false, Observer observer = {})
      : observer_(std::move(observer)), with_shell_(with_shell) {
    handshake_ = RegisterWindowMessageW(names::kHandshakeMessage);
    ready_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    release_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    thread_ = std::thread([this] { Run(); });
    WaitForSingleObject(ready_.get(), 10000);
  }
  ~ServerDouble() {
    SetEvent(release_.get());
    PostThreadMessageW(thread_id_.load(), WM_QUIT, 0, 0);
    if (thread_.joinable()) thread_.join();
  }
  ServerDouble(const ServerDouble&) = delete;
  ServerDouble& operator=(const ServerDouble&) = delete;

  HWND main_wnd() const { return main_.load(); }
  HWND shell_wnd() const { return shell_.load(); }
  DWORD thread_id() const { return thread_id_.load(); }

  // What Handshake 4 is answered with (1: registered).
  void SetRegisterAnswer(LRESULT answer) { register_answer_.store(answer); }
  // Messages whose sender waits get "result:" + their data back.
  void SetAnswerResults(bool on) { answer_results_.store(on); }

  // Another window of the main class, made on the server thread.
  HWND AddMainWindow() {
    ResetEvent(ready_.get());
    PostThreadMessageW(thread_id_.load(), kAddWindow, 0, 0);
    WaitForSingleObject(ready_.get(), 10000);
    return extra_.load();
  }
  // The server thread takes no messages for `ms` (busy), or until Release (hung).
  void Busy(DWORD ms) { Block(ms); }
  void Hang() { Block(INFINITE); }
  void Release() { SetEvent(release_.get()); }
  bool blocked() const { return blocked_.load(); }

  std::vector<ServerRecord> Records() {
    std::lock_guard lock(lock_);
    return records_;
  }

 private:
  static constexpr UINT kAddWindow = WM_APP + 40;
  static constexpr UINT kBlock = WM_APP + 41;
  static constexpr UINT kAnswer = WM_APP + 42;

  void Block(DWORD ms) {
    ResetEvent(release_.get());
    PostThreadMessageW(thread_id_.load(), kBlock, ms, 0);
    const ULONGLONG until = GetTickCount64() + 10000;
    while (!blocked_.load() && GetTickCount64() < until) Sleep(5);
  }

  HWND MakeWindow(const wchar_t* class_name) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &WndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = class_name;
    RegisterClassW(&wc);
    HWND w = CreateWindowExW(0, class_name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             GetModuleHandleW(nullptr), nullptr);
    if (w) SetWindowLongPtrW(w, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    return w;
  }

  void Run() {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue
    thread_id_.store(GetCurrentThreadId());
    main_.store(MakeWindow(names::kMessengerServerClass));
    if (with_shell_) shell_.store(MakeWindow(names::kMessengerShellServerClass));
    SetEvent(ready_.get());
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (msg.hwnd == nullptr && msg.message == kAddWindow) {
        extra_.store(MakeWindow(names::kMessengerServerClass));
        SetEvent(ready_.get());
        continue;
      }
      if (msg.hwnd == nullptr && msg.message == kBlock) {
        blocked_.store(true);
        WaitForSingleObject(release_.get(), static_cast<DWORD>(msg.wParam));
        blocked_.store(false);
        continue;
      }
      DispatchMessageW(&msg);
    }
    for (HWND w : {main_.exchange(nullptr), shell_.exchange(nullptr), extra_.exchange(nullptr)})
      if (w) DestroyWindow(w);
  }

  static LRESULT CALLBACK WndProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<ServerDouble*>(GetWindowLongPtrW(w, GWLP_USERDATA));
    if (self != nullptr) {
      if (m == self->handshake_ && m != 0) return self->OnHandshake(w, wp, lp);
      if (m == WM_COPYDATA) return self->OnCopyData(w, wp, lp);
      if (m == kAnswer) return self->Answer(static_cast<size_t>(lp));
    }
    return DefWindowProcW(w, m, wp, lp);
  }

  LRESULT OnHandshake(HWND w, WPARAM wp, LPARAM lp) {
    ServerRecord r;
    r.server = w;
    r.lparam = lp;
    switch (LOWORD(wp)) {
      case 4:
        r.kind = ServerRecord::Register;
        Add(r);
        return register_answer_.load();
      case 5:
        r.kind = ServerRecord::ProcessHandle;
        Add(r);
        return 0;
      default:
        return 0;
    }
  }

  LRESULT OnCopyData(HWND w, WPARAM wp, LPARAM lp) {
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
    ServerRecord r;
    r.server = w;
    r.wparam = wp;
    if (cds != nullptr) {
      r.dw_data = cds->dwData;
      ValueListReader reader(cds->lpData, cds->cbData);
      const auto id = reader.ReadUInt();
      const auto receiver = reader.ReadBytes();
      const auto code = reader.ReadInt();
      const auto data = reader.ReadBytes();
      const auto pid = reader.ReadUInt();
      r.parsed = id && receiver && code && data && pid && reader.AtEnd();
      if (r.parsed) {
        r.id = *id;
        r.receiver.assign(*receiver);
        r.code = *code;
        r.data.assign(*data);
        r.process_id = *pid;
      }
    }
    const size_t index = Add(r);
    if (answer_results_.load() && wp != 0 && r.parsed) PostMessageW(w, kAnswer, 0, index);
    return 1;
  }

  // Answers after the client's send has returned: it is blocked in it.
  LRESULT Answer(size_t index) {
    ServerRecord r;
    {
      std::lock_guard lock(lock_);
      if (index >= records_.size()) return 0;
      r = records_[index];
    }
    ValueListWriter body;
    body.AddUInt(r.id);
    body.AddBytes("result:" + r.data);
    COPYDATASTRUCT cds{1, static_cast<DWORD>(body.bytes().size()),
                       const_cast<char*>(body.bytes().data())};
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(reinterpret_cast<HWND>(r.wparam), WM_COPYDATA,
                        reinterpret_cast<WPARAM>(r.server), reinterpret_cast<LPARAM>(&cds),
                        SMTO_ABORTIFHUNG, 5000, &answer);
    return 0;
  }

  size_t Add(const ServerRecord& r) {
    size_t index = 0;
    {
      std::lock_guard lock(lock_);
      index = records_.size();
      records_.push_back(r);
    }
    if (observer_) observer_(r);
    return index;
  }

  Observer observer_;
  bool with_shell_ = false;
  UINT handshake_ = 0;
  UniqueHandle ready_;
  UniqueHandle release_;
  std::thread thread_;
  std::atomic<DWORD> thread_id_{0};
  std::atomic<HWND> main_{nullptr};
  std::atomic<HWND> shell_{nullptr};
  std::atomic<HWND> extra_{nullptr};
  std::atomic<LRESULT> register_answer_{1};
  std::atomic<bool> answer_results_{false};
  std::atomic<bool> blocked_{false};
  std::mutex lock_;
  std::vector<ServerRecord> records_;
};

}  // namespace vm::test
