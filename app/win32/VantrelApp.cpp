// Vantrel.exe: the tray program. One instance per session (a named mutex),
// the main dialog run until Cancel or the quit message, and `--quit`, which
// ends a running instance from a script.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/MainWindowRules.h"
#include "app/Settings.h"
#include "app/win32/MainDialog.h"
#include "bridge/BridgeDriverApi.h"
#include "platform/Hid.h"

namespace {

struct CommandLine {
  bool quit = false;
  MainDialogOptions dialog;
};

void Usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s [--seconds N] [--ready-file FILE] | --quit\n"
               "  --seconds N        end through the shut-down after N seconds\n"
               "  --ready-file FILE  write FILE once the start-up is complete\n"
               "  --quit             end the running instance and wait until it is gone\n",
               program);
}

bool Parse(int argc, char** argv, CommandLine& out) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc) {
      char* end = nullptr;
      errno = 0;
      const double s = std::strtod(argv[++i], &end);
      if (errno != 0 || end == argv[i] || *end != '\0' || !(s >= 0) || s > 1e9) {
        std::fprintf(stderr, "%s: --seconds wants a number of seconds, not \"%s\"\n", argv[0],
                     argv[i]);
        return false;
      }
      out.dialog.runMs = static_cast<long long>(s * 1000.0);
    } else if (arg == "--ready-file" && i + 1 < argc) {
      out.dialog.readyFile = argv[++i];
    } else if (arg == "--quit" && argc == 2) {
      out.quit = true;
    } else {
      Usage(argv[0]);
      return false;
    }
  }
  return true;
}

bool InstanceRunning() {
  HANDLE m = OpenMutexA(SYNCHRONIZE, FALSE, kInstanceMutexName);
  if (!m) return false;
  CloseHandle(m);
  return true;
}

// Broadcasts the quit message until the instance's mutex name is gone (its
// process has ended), again every half second in case the instance was
// still creating its window. 0 when it ended or none ran, 1 on time-out.
int QuitRunningInstance() {
  const UINT quit = RegisterWindowMessageA(kQuitMessageName);
  constexpr DWORD kTimeoutMs = 30000;
  const DWORD start = GetTickCount();
  DWORD lastBroadcast = start - 1000;
  while (InstanceRunning()) {
    const DWORD now = GetTickCount();
    if (now - start > kTimeoutMs) {
      std::fprintf(stderr, "Vantrel: the running instance did not end within %lu s\n",
                   static_cast<unsigned long>(kTimeoutMs / 1000));
      return 1;
    }
    if (now - lastBroadcast >= 500) {
      PostMessageA(HWND_BROADCAST, quit, 0, 0);
      lastBroadcast = now;
    }
    Sleep(20);
  }
  return 0;
}

}  // namespace

class CMorvikVantrelApp {
 public:
  explicit CMorvikVantrelApp(MainDialogOptions options) : options_(std::move(options)) {}

  // Always FALSE: the program ends when it returns.
  BOOL InitInstance() {
    // Created owned and released at once; the handle stays open so the name
    // exists as long as this instance runs.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, kInstanceMutexName);
    const DWORD error = GetLastError();
    if (mutex) ReleaseMutex(mutex);
    if (error == ERROR_ALREADY_EXISTS) {
      MessageBoxA(nullptr, kSecondInstanceText, "Vantrel", MB_OK);
      return FALSE;
    }
    std::unique_ptr<platform::HidBackend> hid = platform::CreateHidBackend();
    bridge::BridgeDriverApi driver;
    ServiceApp::Options service;
    service.settingsPath = SettingsFilePath();
    CMorvikVantrelDlg dlg(*hid, driver, std::move(service), options_);
    dlg.DoModal();
    return FALSE;
  }

 private:
  MainDialogOptions options_;
};

int main(int argc, char** argv) {
  CommandLine cmd;
  if (!Parse(argc, argv, cmd)) return 2;
  if (cmd.quit) return QuitRunningInstance();
  CMorvikVantrelApp app(std::move(cmd.dialog));
  app.InitInstance();
  return 0;
}
