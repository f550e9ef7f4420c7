// A stand-in for the main window while the calibration dialog is tested: a
// window with the Calibration button (1001) over a running pipeline and its
// touch outputs, reaching the frame simulator that FRAMESIM_ADDR names.
//   calibration_host --tuio-port N --xml-port N
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/ServiceApp.h"
#include "calibration/CalibrationButton.h"
#include "calibration/win32/CalibrationWindows.h"
#include "common/DriverApiPort.h"

namespace {

constexpr int kCalibrationButton = 1001;
constexpr UINT kEnableCalibration = WM_APP + 1;

// The readers' requests reach the window by posted messages, so a reader
// never waits for the window thread.
class HostWindowModel final : public PipelineWindow {
 public:
  HWND window = nullptr;
  PipelineState state;
  std::atomic<CalibrationReplyQueue*> calibrationReplyQueue{nullptr};
  void EnableCalibrationButton(bool on) override {
    PostMessageW(window, kEnableCalibration, on ? 1 : 0, 0);
  }
  void EnableMouseButton(bool) override {}
  void HandleCalibrationReply(const std::uint8_t* report) override {
    if (CalibrationReplyQueue* queue = calibrationReplyQueue.load()) queue->Post(report);
  }
};

struct Host {
  HostWindowModel model;
  TouchPipeline* pipeline = nullptr;
  CCalibrationAppDlg* dialog = nullptr;
  HWND button = nullptr;
};

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* host = reinterpret_cast<Host*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_COMMAND:
      if (host && LOWORD(wParam) == kCalibrationButton) {
        RunCalibrationButton(host->model.state, *host->pipeline,
                             [host, hwnd] { host->dialog->DoModal(hwnd); });
        return 0;
      }
      break;
    case kEnableCalibration:
      if (host) EnableWindow(host->button, wParam != 0);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  OutputEndpoints endpoints;
  endpoints.xml.port = 0;  // any free port unless told
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--tuio-port")) {
      endpoints.tuioPort = std::atoi(argv[i + 1]);
    } else if (!std::strcmp(argv[i], "--xml-port")) {
      endpoints.xml.port = static_cast<std::uint16_t>(std::atoi(argv[i + 1]));
    }
  }
  std::unique_ptr<platform::HidBackend> hid = platform::CreateHidBackend();
  NullDriverApi driver;
  TouchOutputs outputs(endpoints);
  TouchOutputsLifecycle control(outputs);
  Host host;
  TouchPipeline pipeline(*hid, host.model.state, host.model, driver, &control);
  pipeline.SetSink(&outputs);
  PipelineCalibrationFrame frame(pipeline, host.model.state);
  CCalibrationAppDlg dialog(frame, "Vantrel");
  host.pipeline = &pipeline;
  host.dialog = &dialog;
  host.model.calibrationReplyQueue = &dialog.Replies();

  WNDCLASSW wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"VantrelCalibrationHost";
  RegisterClassW(&wc);
  HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"Calibration host",
                              WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 10, 10, 300, 100, nullptr,
                              nullptr, wc.hInstance, nullptr);
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&host));
  host.model.window = hwnd;
  host.button = CreateWindowExW(
      0, L"BUTTON", L"Calibration", WS_CHILD | WS_VISIBLE | WS_DISABLED | BS_PUSHBUTTON, 10, 10, 78,
      40, hwnd, reinterpret_cast<HMENU>(kCalibrationButton), wc.hInstance, nullptr);

  pipeline.StartTouchPipeline();
  pipeline.CompleteStartUp(true);
  if (IsSplitChannel(pipeline.Profile().VersionNumber) && pipeline.IsOpen())
    EnableWindow(host.button, TRUE);
  ShowWindow(hwnd, SW_SHOW);

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  pipeline.StopDeviceChanges();
  pipeline.ShutDown();
  pipeline.CloseReaderThreadHandles();
  outputs.StopXmlListener();
  return 0;
}
