#include "container/program.h"

#include <shellapi.h>

#include "common/accelerators.h"
#include "common/names.h"
#include "common/shared_names.h"
#include "common/single_instance.h"
#include "container/main_window.h"
#include "container/message_loop.h"

namespace vm::container {

bool IsContainerCommandLine(const wchar_t* command_line) {
  if (command_line == nullptr) return false;
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(command_line, &count);
  if (arguments == nullptr) return false;
  const bool ok = count == 2 && arguments[1][0] == L'-' && arguments[1][1] == 0;
  LocalFree(arguments);
  return ok;
}

const wchar_t* ExplorerAppUserModelId(const VersionFlags& flags) {
  if (flags.windows8_or_later) return L"Microsoft.Windows.Explorer";
  if (flags.windows7) return L"{F38BF404-1D43-42F2-9305-67DE0B28FC23}\\explorer.exe";
  return nullptr;
}

namespace {

// The system-wide foreground lock timeout, zero while the program runs so it
// may move the foreground between its containers and Explorer's windows.
// Changed for the session only (never written to the user's profile), and
// put back at exit.
class ForegroundLockTimeout {
 public:
  ForegroundLockTimeout() {
    saved_ = SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &value_, 0) != FALSE;
    if (saved_) SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, 0);
  }
  ~ForegroundLockTimeout() {
    // The setter takes the value itself in the pointer argument.
    if (saved_) {
      SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0,
                            reinterpret_cast<void*>(static_cast<UINT_PTR>(value_)), 0);
    }
  }
  ForegroundLockTimeout(const ForegroundLockTimeout&) = delete;
  ForegroundLockTimeout& operator=(const ForegroundLockTimeout&) = delete;

 private:
  UINT value_ = 0;
  bool saved_ = false;
};

}  // namespace

int RunContainerProgram(const wchar_t* command_line) {
  if (!IsContainerCommandLine(command_line)) return 0;

  // A second copy ends at once and sends nothing: the hook library finds the
  // first copy's main window by itself. The guard's mapping stays open until
  // the process ends.
  if (SingleAppInstance(names::kContainerInstanceId).AppAlreadyExist()) return 0;

  InitSharedNames(Deliverable::Container);
  AdmitSharedMessages();

  if (const wchar_t* id = ExplorerAppUserModelId(Os().flags)) {
    Api().SetCurrentProcessExplicitAppUserModelID(id);
  }

  int exit_code = 0;
  {
    ForegroundLockTimeout foreground_lock;
    MainWindow main;
    if (!main.Create()) return 0;
    ContainerAcceleratorFilter accelerators(AcceleratorTable(AcceleratorTableKind::Container));
    exit_code = RunMessageLoop(&accelerators);
  }
  DestroyAcceleratorTables();
  FinalizeSharedNames();
  return exit_code;
}

}  // namespace vm::container
