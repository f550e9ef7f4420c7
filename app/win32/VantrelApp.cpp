// Vantrel.exe: the tray program. One instance per session (a named mutex),
// the main dialog run until Cancel or the quit message, and `--quit`, which
// ends a running instance from a script.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "app/MainWindowRules.h"
#include "app/Settings.h"
#include "app/win32/MainDialog.h"
#include "bridge/BridgeDriverApi.h"
#include "calibration/CalibrationButton.h"
#include "calibration/win32/CalibrationWindows.h"
#include "platform/Hid.h"

namespace {

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
    ReadListenSettings(service.settingsPath, service.endpoints);
    CMorvikVantrelDlg dlg(*hid, driver, std::move(service), options_);
    // The Calibration button runs the calibration dialog; the readers hand
    // the frame's replies to its queue, and it handles them on this thread.
    PipelineCalibrationFrame frame(dlg.App().Pipeline(), dlg.App().State());
    CCalibrationAppDlg calibration(frame, "Vantrel");
    calibration.SetAboutBox([](HWND owner) { CMorvikVantrelDlg::ShowAboutBox(owner); });
    dlg.calibrationReplyQueue = &calibration.Replies();
    dlg.SetCalibrationRunner(
        [&calibration](HWND owner, CMorvikVantrelDlg&) { calibration.DoModal(owner); });
    dlg.DoModal();
    dlg.calibrationReplyQueue = nullptr;
    return FALSE;
  }

 private:
  MainDialogOptions options_;
};

// Started from Explorer, a shortcut or the Run key, the program has no
// standard error (no console, nothing redirected); a script or a shell that
// redirects it does, and reads the text there as before.
bool HasStandardError() {
  const HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_UNKNOWN;
}

int main(int argc, char** argv) {
  ServiceCommandLine cmd;
  std::string complaint;
  const bool toStandardError = HasStandardError();
  if (!ParseServiceCommandLine(argc, argv, true, cmd, toStandardError ? nullptr : &complaint)) {
    // Nowhere to print the usage: a box says it. The status stays 2.
    if (!toStandardError)
      MessageBoxA(nullptr, complaint.c_str(), "Vantrel", MB_OK | MB_ICONEXCLAMATION);
    return 2;
  }
  if (cmd.quit) return QuitRunningInstance();
  ConfigureTrace(cmd);
  MainDialogOptions options;
  options.readyFile = cmd.readyFile;
  options.runMs = cmd.runMs;
  CMorvikVantrelApp app(std::move(options));
  app.InitInstance();
  return 0;
}
