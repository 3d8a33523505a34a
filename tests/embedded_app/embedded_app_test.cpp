// The embedded application: routing of the control program's messages to
// plug-ins, plug-in life cycle order, registration commands, unloading and
// reloading, WinEvent answers, action-class registration.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "common/control_program.h"
#include "common/names.h"
#include "hooklib/app/embedded_application.h"
#include "hooklib/app/plugin.h"
#include "hooklib/core/library.h"
#include "hooklib/core/library_state.h"
#include "hooklib/framework/class_registry.h"

namespace vm::hooklib {
namespace {

using framework::LiveObjectCount;
using framework::MakeCom;

std::vector<std::string> g_log;

std::string Narrow(std::wstring_view w) { return std::string(w.begin(), w.end()); }

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

// The test plug-in: records what reaches it.
class TestPlugin : public AbstractPlugin {
 public:
  explicit TestPlugin(std::wstring_view name) : AbstractPlugin(name) {}
  void STDMETHODCALLTYPE Init(framework::IItem* owner) noexcept override {
    AbstractPlugin::Init(owner);
    Log("Init");
  }
  void STDMETHODCALLTYPE Bind() noexcept override { Log("Bind"); }
  void STDMETHODCALLTYPE Unbind() noexcept override { Log("Unbind"); }
  void STDMETHODCALLTYPE Done() noexcept override {
    AbstractPlugin::Done();
    Log("Done");
  }
  void STDMETHODCALLTYPE OnMessageFromServer(int code, std::string_view data) noexcept override {
    Log("msg " + std::to_string(code) + " " + Hex(data));
  }
  void STDMETHODCALLTYPE OnWindowMessage(HWND, UINT& msg, WPARAM, LPARAM) noexcept override {
    Log("window " + std::to_string(msg));
    msg = WM_NULL;  // a plug-in may change the message
  }

 protected:
  void Log(const std::string& what) { g_log.push_back(Narrow(name_) + " " + what); }
};

// A plug-in with sub-receivers, like the rule dispatcher.
class RedirectingPlugin : public TestPlugin, public IServerMessageRedirector {
 public:
  VM_DECLARE_UNKNOWN
  explicit RedirectingPlugin(std::wstring_view name) : TestPlugin(name) {}
  void STDMETHODCALLTYPE OnMessageFromServer(int code, std::string_view data) noexcept override {
    TestPlugin::OnMessageFromServer(code, data);
  }
  void STDMETHODCALLTYPE OnMessageFromServer(HWND wnd, std::wstring_view receiver, int code,
                                             std::string_view data) noexcept override {
    Log("redirect [" + Narrow(receiver) + "] " + std::to_string(code) + " " + Hex(data) +
        (wnd == reinterpret_cast<HWND>(0x4242) ? " wnd" : ""));
  }
  void* FindInterface(REFIID riid) noexcept override {
    if (void* found = framework::FindInterfaceIn<IServerMessageRedirector>(this, riid))
      return found;
    return TestPlugin::FindInterface(riid);
  }
};

// Test double of the messenger client (not part of this library yet).
class RecordingMessenger : public MessengerLink {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) noexcept override {
    if (object) *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() noexcept override { return --refs; }
  void STDMETHODCALLTYPE
  RegisterServerMessageDispatcher(IServerMessageDispatcher* d) noexcept override {
    dispatcher = d;
    g_log.push_back("messenger register");
  }
  void STDMETHODCALLTYPE UnregisterServerMessageDispatcher() noexcept override {
    dispatcher = nullptr;
    g_log.push_back("messenger unregister");
  }
  ULONG refs = 0;
  IServerMessageDispatcher* dispatcher = nullptr;
};

ComPtr<IPlugin> Plugin(std::wstring_view name) { return MakeCom<TestPlugin>(name); }
ComPtr<IPlugin> Redirecting(std::wstring_view name) {
  ComPtr<RedirectingPlugin> p = MakeCom<RedirectingPlugin>(name);
  return ComPtr<IPlugin>(static_cast<IPlugin*>(p.Get()));
}

class EmbeddedApp : public ::testing::Test {
 protected:
  void SetUp() override {
    g_log.clear();
    ASSERT_EQ(LiveObjectCount(), 0);
  }
  void TearDown() override {
    app_.Reset();
    EXPECT_EQ(LiveObjectCount(), 0) << "objects leaked";
    EXPECT_EQ(messenger_.refs, 0u);
  }
  void Make(std::vector<ComPtr<IPlugin>> plugins, bool explorer = false, bool light = false) {
    EmbeddedApplication::Setup setup;
    setup.plugins = std::move(plugins);
    setup.messenger = &messenger_;
    setup.is_explorer = explorer;
    setup.in_light_hook_list = light;
    app_ = MakeCom<EmbeddedApplication>(std::move(setup));
    ASSERT_TRUE(app_);
  }
  RecordingMessenger messenger_;
  ComPtr<EmbeddedApplication> app_;
};

TEST_F(EmbeddedApp, RoutesByReceiverAddress) {
  Make({Redirecting(L"RuleDispatcher"), Plugin(L"Plain")});
  struct Case {
    std::wstring receiver;
    std::vector<std::string> reached;
  };
  const std::vector<Case> cases = {
      {L"plugins/RuleDispatcher", {"RuleDispatcher msg 2 0A00"}},
      {L"plugins/RuleDispatcher/x", {"RuleDispatcher redirect [x] 2 0A00 wnd"}},
      {L"abc/plugins/RuleDispatcher", {"RuleDispatcher msg 2 0A00"}},
      {L"plugins/ruledispatcher", {"ruledispatcher msg 2 0A00"}},  // names match in any case
      {L"plugins/RuleDispatcher/a/b", {"RuleDispatcher redirect [a/b] 2 0A00 wnd"}},
      {L"plugins/RuleDispatcher/", {"RuleDispatcher redirect [] 2 0A00 wnd"}},
      {L"x/plugins/Plain/plugins/RuleDispatcher", {}},  // first "plugins/": Plain, no redirector
      {L"plugins/Plain", {"Plain msg 2 0A00"}},
      {L"plugins/Plain/x", {}},  // sub-receiver, but no redirector: dropped
      {L"plugins/Missing", {}},
      {L"plugins/", {}},
      {L"plugins", {}},
      {L"Plugins/RuleDispatcher", {}},
      {L"RuleDispatcher", {}},
      {L"", {}},
      {std::wstring(L"plugins/Rule\0Dispatcher", 23), {}},
  };
  const std::string data("\x0A\x00", 2);
  for (const auto& c : cases) {
    g_log.clear();
    app_->OnMessageFromServer(reinterpret_cast<HWND>(0x4242), c.receiver, 2, data);
    std::vector<std::string> expected = c.reached;
    // The log names the plug-in by its own name.
    for (auto& e : expected) {
      if (e.rfind("ruledispatcher", 0) == 0) e.replace(0, 14, "RuleDispatcher");
    }
    EXPECT_EQ(g_log, expected) << Narrow(c.receiver);
  }
}

TEST_F(EmbeddedApp, InitAndDoneRunThePluginsInOppositeOrders) {
  Make({Plugin(L"A"), Plugin(L"B"), Redirecting(L"C")});
  app_->Init();
  EXPECT_EQ(app_->GetPlugin(L"b")->GetOwner().Get(), static_cast<framework::IItem*>(app_.Get()));
  EXPECT_EQ(messenger_.dispatcher, static_cast<IServerMessageDispatcher*>(app_.Get()));
  app_->Done();
  const std::vector<std::string> expected = {"A Init",
                                             "B Init",
                                             "C Init",
                                             "A Bind",
                                             "B Bind",
                                             "C Bind",
                                             "messenger register",
                                             "messenger unregister",
                                             "C Unbind",
                                             "B Unbind",
                                             "A Unbind",
                                             "C Done",
                                             "B Done",
                                             "A Done"};
  EXPECT_EQ(g_log, expected);
  EXPECT_FALSE(app_->GetPlugin(L"A"));  // the list is cleared
  EXPECT_EQ(messenger_.dispatcher, nullptr);
}

TEST_F(EmbeddedApp, PluginsAreKeyedByName) {
  Make({Plugin(L"One"), Plugin(L"ONE"), Plugin(L""), nullptr, Plugin(L"Two")});
  app_->AddPlugin(nullptr);
  app_->Init();
  EXPECT_EQ(g_log, (std::vector<std::string>{"One Init", "Two Init", "One Bind", "Two Bind",
                                             "messenger register"}));
  EXPECT_EQ(app_->GetPlugin(L"one")->GetName(), L"One");
  EXPECT_FALSE(app_->GetPlugin(L"Three"));
  app_->Done();
}

class HandlerWindow {
 public:
  HandlerWindow(const wchar_t* class_name, const wchar_t* title) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = class_name;
    RegisterClassW(&wc);
    wnd_ = CreateWindowExW(0, class_name, title, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                           wc.hInstance, nullptr);
  }
  ~HandlerWindow() {
    if (wnd_) DestroyWindow(wnd_);
  }
  HWND get() const { return wnd_; }

 private:
  HWND wnd_;
};

TEST_F(EmbeddedApp, RegistrationChangesReachEveryPlugin) {
  HandlerWindow main_handler(names::kControlCenterHandlerClass, names::kControlCenterHandlerTitle);
  ASSERT_NE(main_handler.get(), nullptr);
  Make({Plugin(L"A"), Plugin(L"B")});
  app_->Init();
  g_log.clear();

  const HWND messenger_wnd = reinterpret_cast<HWND>(0x00012345);
  app_->OnClientRegistered(messenger_wnd, framework::siMain);
  EXPECT_EQ(app_->GetMainCenterWindow(), main_handler.get());
  app_->OnClientRegistered(messenger_wnd, framework::siShell);  // no shell handler window
  EXPECT_EQ(app_->GetMainCenterWindow(), main_handler.get());
  app_->OnClientUnregistered(framework::siShell);
  app_->OnClientUnregistered(framework::siMain);
  EXPECT_EQ(app_->GetMainCenterWindow(), nullptr);
  // A server instance from nowhere changes nothing and reaches nobody.
  app_->OnClientRegistered(messenger_wnd, static_cast<framework::ServerInstance>(7));
  app_->OnClientUnregistered(static_cast<framework::ServerInstance>(-1));

  const std::vector<std::string> expected = {
      "A msg 33 0400000045230100",
      "B msg 33 0400000045230100",  // value list: count 4, handle
      "A msg 89 0400000045230100",
      "B msg 89 0400000045230100",
      "A msg 90 ",
      "B msg 90 ",
      "A msg 3 ",
      "B msg 3 ",
  };
  EXPECT_EQ(g_log, expected);
  app_->Done();
}

TEST_F(EmbeddedApp, UnloadingSwitchesTheTrampolinesOffAndReloadingOn) {
  // The trampoline block lives in the process storage the core sets up.
  AttachLibrary();
  SetTrampolinesActive(true);
  ASSERT_TRUE(TrampolinesActive());

  Make({Plugin(L"A"), Plugin(L"B")});
  app_->Init();
  g_log.clear();
  EXPECT_FALSE(app_->IsUnloading());
  app_->OnUnloading();
  EXPECT_TRUE(app_->IsUnloading());
  EXPECT_FALSE(TrampolinesActive());
  EXPECT_EQ(g_log, (std::vector<std::string>{"A msg 44 ", "B msg 44 "}));
  app_->OnReloading();
  EXPECT_FALSE(app_->IsUnloading());
  EXPECT_TRUE(TrampolinesActive());
  app_->Done();
}

TEST_F(EmbeddedApp, WinEventsAndWindowMessages) {
  struct Case {
    DWORD event;
    bool explorer, light, expected;
  };
  const Case cases[] = {
      {EVENT_OBJECT_CREATE, true, true, false},
      {EVENT_OBJECT_DESTROY, true, false, true},
      {EVENT_OBJECT_DESTROY, false, true, false},
      {EVENT_OBJECT_SHOW, false, true, true},
      {EVENT_OBJECT_SHOW, true, false, false},
      {EVENT_OBJECT_NAMECHANGE, false, false, true},
      {EVENT_OBJECT_LOCATIONCHANGE, true, true, false},  // none of those plug-ins here
      {EVENT_OBJECT_HIDE, true, true, false},
      {EVENT_SYSTEM_FOREGROUND, true, true, false},
  };
  for (const auto& c : cases) {
    Make({Plugin(L"RuleDispatcher")}, c.explorer, c.light);
    EXPECT_EQ(app_->NeedWinEventHook(c.event), c.expected) << std::hex << c.event;
  }

  Make({Plugin(L"RuleDispatcher"), Plugin(L"SiblingWindowPin")});
  EXPECT_TRUE(app_->NeedWinEventHook(EVENT_OBJECT_LOCATIONCHANGE));

  // Window messages go to the taskbar plug-in of the other tools only.
  UINT msg = WM_SIZE;
  app_->OnWindowMessage(nullptr, msg, 0, 0);
  EXPECT_TRUE(g_log.empty());
  Make({Plugin(L"RuleDispatcher"), Plugin(kTaskbarPluginName)});
  app_->OnWindowMessage(nullptr, msg, 0, 0);
  EXPECT_EQ(g_log, (std::vector<std::string>{"SiblingTaskbar window 5"}));
  EXPECT_EQ(msg, static_cast<UINT>(WM_NULL));
}

TEST_F(EmbeddedApp, AnswersItsInterfacesByGuid) {
  Make({});
  ComPtr<IEmbeddedApplication> embedded;
  ComPtr<IServerMessageDispatcher> dispatcher;
  ComPtr<framework::IItem> item;
  ASSERT_EQ(app_.As(&embedded), S_OK);
  ASSERT_EQ(embedded.As(&dispatcher), S_OK);
  ASSERT_EQ(dispatcher.As(&item), S_OK);
  ComPtr<framework::IPlugin> plugin;
  EXPECT_EQ(item.As(&plugin), E_NOINTERFACE);
}

class TestAction : public framework::AbstractItem<framework::IItem> {};

TEST_F(EmbeddedApp, ActionClassesRegisterWhatExists) {
  const ActionClassEntry entries[] = {
      {framework::kBlockVisibilityActionClassName,
       []() noexcept { return &framework::ItemClassOf<TestAction>(); }},
      {framework::kFoliantActionClassName, nullptr},  // not built
  };
  EXPECT_EQ(RegisterActionClasses(entries), 1);
  EXPECT_EQ(RegisterActionClasses(entries), 0);  // names are taken now
  EXPECT_TRUE(framework::CreateItemFromText(L"BLOCKVISIBILITYACTION{name=Block}"));
  EXPECT_FALSE(framework::CreateItemFromText(L"FOLIANTACTION{name=Foliant}"));
  framework::UnregisterItemClass(framework::kBlockVisibilityActionClassName);

  const auto library = LibraryActionClasses();
  ASSERT_EQ(library.size(), 2u);
  EXPECT_EQ(std::wstring(library[0].name), L"BLOCKVISIBILITYACTION");
  EXPECT_EQ(std::wstring(library[1].name), L"FOLIANTACTION");
}

TEST(ReceiverAddress, SplitsAtTheFirstPluginsPrefix) {
  const auto a = ParseReceiverAddress(L"x/plugins/Name/sub/more");
  EXPECT_EQ(a.plugin, L"Name");
  EXPECT_TRUE(a.has_sub_receiver);
  EXPECT_EQ(a.sub_receiver, L"sub/more");
  EXPECT_TRUE(ParseReceiverAddress(L"nothing").plugin.empty());
  EXPECT_EQ(PackWindowValue(reinterpret_cast<HWND>(0x1122334455667788ull)),
            std::string("\x04\x00\x00\x00\x88\x77\x66\x55", 8));
}

}  // namespace
}  // namespace vm::hooklib
