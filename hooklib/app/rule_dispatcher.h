#pragma once
// The rule dispatcher: the plug-in that decides, for every window the hooks
// offer it, whether a window rule of the control program applies, and that
// creates, replaces and closes the window extenders carrying out the rules.
// It reads the control program's service block and rule table, keeps the
// per-window bookkeeping (windows under consideration, parameters waiting
// for the window to become visible, caption history, windows being
// unbound) and obeys the control program's plug-in commands.
//
// Calls come on the windows' own threads (the hooks) and on the messenger
// thread (plug-in commands). Lock order: every list has its own lock and
// each is a leaf. No thread ever holds two of them at once, and none is
// held while an extender's parts run, while an extender is attached, detached or
// closed, while a window is matched, or while a message is sent. The two
// paths that would nest them are split: a caption change decides under the
// caption lock and re-matches after leaving it; the purge collects dead
// windows under the extender lock and unregisters them after leaving it
// (unregistering takes the window-list, caption and parameter locks). The
// only larger section under a lock is making an extender object (its
// constructor parses the rule text and makes its parts) under the extender
// lock, which calls nothing of the dispatcher.
#include <windows.h>

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "hooklib/app/dispatcher_rules.h"
#include "hooklib/app/mapping_view.h"
#include "hooklib/app/plugin.h"
#include "hooklib/core/hook_seams.h"
#include "hooklib/framework/collections.h"

namespace vm::hooklib {

inline constexpr wchar_t kRuleDispatcherName[] = L"RuleDispatcher";

// Windows that the hooks see about to become visible while they are still
// hidden (the block-visibility action keeps them so): asked in registration
// order until one answers true.
using VisibilityCallback = bool (*)(HWND wnd) noexcept;
bool RegisterVisibilityCallback(VisibilityCallback callback) noexcept;
void UnregisterVisibilityCallback(VisibilityCallback callback) noexcept;

// The criterion classes of recognised folder windows: the first whose test
// holds for a window gives its extender a toolbox of that class.
struct ToolboxCriterion {
  bool (*is_proper_window)(HWND wnd) noexcept;
  const wchar_t* toolbox_class_name;
};
bool RegisterToolboxCriterion(const ToolboxCriterion& criterion) noexcept;
void UnregisterToolboxCriterion(const ToolboxCriterion& criterion) noexcept;

// Unregister kinds (UnregisterWindow, OnClose).
namespace unreg {
inline constexpr int kRuleWentAway = 0;
inline constexpr int kWithdrawAll = 1;
inline constexpr int kDestroying = 2;
inline constexpr int kNoLongerExists = 3;
inline constexpr int kRuleChanged = 4;
inline constexpr int kCaptionRule = 5;
}  // namespace unreg

class RuleDispatcher : public AbstractPlugin,
                       public ProcessHook,
                       public framework::IWindowExtenderOwner,
                       public framework::IServerMessageRedirector {
 public:
  VM_DECLARE_UNKNOWN

  RuleDispatcher();
  ~RuleDispatcher() override;

  // IItem (both chains)
  std::wstring STDMETHODCALLTYPE GetName() noexcept override { return AbstractPlugin::GetName(); }
  void STDMETHODCALLTYPE SetName(std::wstring_view name) noexcept override {
    AbstractPlugin::SetName(name);
  }
  void STDMETHODCALLTYPE ParseParams(std::wstring_view params) noexcept override {
    AbstractPlugin::ParseParams(params);
  }
  bool STDMETHODCALLTYPE IsObjectOfClass(const framework::ItemClass& c) noexcept override {
    return AbstractPlugin::IsObjectOfClass(c);
  }

  // The plug-in
  void STDMETHODCALLTYPE Init(framework::IItem* owner) noexcept override;
  void STDMETHODCALLTYPE Done() noexcept override;
  void STDMETHODCALLTYPE OnMessageFromServer(int command_code,
                                             std::string_view command_data) noexcept override;

  // ProcessHook
  bool IsActive() noexcept override { return active_.load(); }
  void RegisterWindow(HWND wnd, ExtensionReason reason) noexcept override;
  void UnregisterWindow(HWND wnd, int unreg_kind) noexcept override;
  void CheckVisibleWindow(HWND wnd, bool ignore_visibility) noexcept override;
  bool IsWindowExtended(HWND wnd) noexcept override;
  ComPtr<ExtenderHooks> GetWindowExtender(HWND wnd) noexcept override;
  void OnCaptionChanged(HWND wnd, UINT msg, LPARAM lparam) noexcept override;
  bool WindowIsUnbinding(HWND wnd) noexcept override;
  bool HasWindowParams(HWND wnd) noexcept override;
  void RecheckWindow(HWND wnd, bool force) noexcept override;

  // IWindowExtenderOwner
  void STDMETHODCALLTYPE OnClose(framework::IWindowExtender* extender,
                                 int unreg_kind) noexcept override;

  // IServerMessageRedirector: a message for a sub-receiver of an extended window.
  void STDMETHODCALLTYPE OnMessageFromServer(HWND receiver_wnd, std::wstring_view receiver,
                                             int command_code,
                                             std::string_view command_data) noexcept override;

  void* FindInterface(REFIID riid) noexcept override;

  framework::Handles GetExtendedWindowsList() noexcept;
  ComPtr<framework::IWindowExtender> ExtenderOf(HWND wnd) noexcept;
  // Inspection (tests).
  bool IsRegistered(HWND wnd) noexcept;
  std::size_t RegisteredCount() noexcept;
  std::size_t CaptionEntryCount() noexcept;
  int CaptionChangeCount(HWND wnd) noexcept;  // -1 without an entry
  std::uint32_t RuleTableId() noexcept;       // 0 without a table
  // What is wrong with the lists at rest (empty when they agree): an
  // extender of a dead window or of an unregistered one, a window listed
  // twice, windows left unbinding, parameters still waiting for an extended
  // window, caption entries of dead windows.
  std::wstring ListProblems() noexcept;
  // Extenders whose window is gone are closed, and their caption entries dropped.
  void PurgeDeadWindows() noexcept;
  // Re-checks every window of the process (commands 2, 4 and 33).
  void RecheckAllWindows() noexcept;

  // Applies a match (exposed so that tests can drive it without a table).
  void ApplyMatch(int kind, const WindowInfo& info, const std::string& params, const RuleInfo& rule,
                  const std::string& log_data) noexcept;

 private:
  bool ReadSettings() noexcept;   // opens the service block when needed
  bool LoadRuleTable() noexcept;  // true when a valid table is loaded afterwards
  std::shared_ptr<const MappingView> RuleTable() noexcept;
  std::shared_ptr<const MappingView> ServiceBlock() noexcept;
  void Publish() noexcept;
  void CreateExtender(HWND wnd, const std::wstring& params) noexcept;
  void WithdrawAll() noexcept;
  framework::Handles CollectWindows() noexcept;
  bool InWindowList(HWND wnd) noexcept;
  std::wstring TakePendingParams(HWND wnd, bool remove);
  void SetPendingParams(HWND wnd, std::wstring params);
  void RemovePendingParams(HWND wnd);
  void SendToControlProgram(int code, const std::string& data) noexcept;
  RuleInfo GetWindowRuleInfo(HWND wnd) noexcept;

  ComPtr<framework::WindowExtenders> extenders_;  // FWindowExtenders
  CRITICAL_SECTION extenders_lock_;
  // Every message of every window passes the message hook, which asks for
  // the window's extender: one bit per hash bucket of the extended windows
  // answers "none" for almost all of them without taking the lock. Bits are
  // set after an extender is added and rebuilt after one is deleted, both
  // under the extender lock.
  std::array<std::atomic<std::uint64_t>, 4> extended_bits_{};
  std::vector<HWND> extended_keys_;  // the windows the extenders are stored under
  bool MayBeExtended(HWND wnd) const noexcept;
  void NoteExtended(HWND wnd) noexcept;  // under extenders_lock_
  void RebuildExtendedBits() noexcept;   // under extenders_lock_
  std::vector<HWND> window_list_;        // FWindowList
  std::vector<HWND> unbinding_;          // FUnbindingWindowList
  CRITICAL_SECTION window_list_lock_;
  std::unordered_map<HWND, CaptionData> captions_;  // FWindowCaptionDataList
  CRITICAL_SECTION captions_lock_;
  std::vector<std::pair<HWND, std::wstring>> params_;  // FWinExParamsList
  CRITICAL_SECTION params_lock_;
  std::shared_ptr<const MappingView> service_;  // FServiceMapping
  std::shared_ptr<const MappingView> table_;    // FMappingInfo
  CRITICAL_SECTION mapping_lock_;
  std::atomic<bool> active_{false};
};

// Makes the process's dispatcher (the plug-in factory of the application).
ComPtr<IPlugin> CreateRuleDispatcher() noexcept;
// Registers that factory with the plug-in host (once); programs that link
// the library's code statically call it before the application starts.
bool EnsureRuleDispatcherPlugin() noexcept;

}  // namespace vm::hooklib
