#pragma once
// The running service without its windows: the one owner of the pipeline,
// the touch outputs and the driver-API session, running the main window's
// start-up (first show) and shut-down (destruction) in their order. The
// Windows GUI puts its views over the same object.
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "bridge/DriverApiSession.h"
#include "calibration/WebCalibrationService.h"
#include "common/DriverApiPort.h"
#include "input/OutputLifecycle.h"
#include "input/PipelineState.h"
#include "input/TouchPipeline.h"
#include "output/StatusDocuments.h"
#include "output/TouchOutputs.h"
#include "platform/Hid.h"

// The pipeline's output start and stop over the touch outputs.
class TouchOutputsLifecycle final : public OutputLifecycle {
 public:
  explicit TouchOutputsLifecycle(TouchOutputs& outputs) : outputs_(outputs) {}
  void StartTouchOutput() override { outputs_.StartTouchOutput(); }
  void StopTouchOutput() override { outputs_.StopTouchOutput(); }
  bool IsTouchOutputStarted() const override { return outputs_.outputStarted(); }
  void StartXmlListener() override {
    outputs_.StartXmlListener();
    outputs_.StartStreamListeners();
  }
  void DeviceOpened(const DeviceProfile& p) override {
    outputs_.SetDevice(OutputDevice{p.VersionNumber, p.Series01xx});
  }

 private:
  TouchOutputs& outputs_;
};

class ServiceApp : private ws::Documents, private PageConversation, private WebCalibrationPages {
 public:
  struct Options {
    std::string settingsPath;   // the settings file next to the program
    OutputEndpoints endpoints;  // UDP 127.0.0.1:3333 and TCP 3000
    bridge::Pause pause = &bridge::SleepPause;
    double commandPauseScale = 1.0;  // tests shorten the frame's pauses
  };

  ServiceApp(platform::HidBackend& hid, DriverApiPort& driver, Options options);
  // With the main window (the Windows GUI's dialog) in place of the
  // headless one.
  ServiceApp(platform::HidBackend& hid, DriverApiPort& driver, PipelineWindow& window,
             Options options);
  // ShutDown() if it has not run.
  ~ServiceApp() override;
  ServiceApp(const ServiceApp&) = delete;
  ServiceApp& operator=(const ServiceApp&) = delete;

  // The first show: driver API (InitTouch, device count, right button, wheel
  // and drag off when frames are reported), StartTouchPipeline with the
  // outputs, the stored mouse setting applied, a single-channel frame asked
  // for its calibration, then the initialised flag. Runs once. `mainWindow`
  // is what InitTouch receives (the dialog's window handle on Windows).
  void Start(void* mainWindow = nullptr);
  // The destruction: right button and wheel back on, exit commands, close,
  // mouse emulation on, StopTouchOutput (receivers get the empty bundles),
  // ExitTouch; then every thread of the service is stopped and joined.
  // Runs once; safe without Start. `beforeExitTouch` runs after the output
  // stop and before ExitTouch (the GUI removes its tray icon there).
  void ShutDown(const std::function<void()>& beforeExitTouch = {});

  // The settings read again, as a reload asks (natively SIGHUP): the mouse
  // setting applied when it changed, as the mouse button does; the frame
  // list at a discovery, as for an arrival. [Listen] is read at start-up only.
  void ReloadSettings();

  bool Initialised() const { return state_.initialised.load(); }
  // The flags and calibration the pipeline shares with the windows.
  PipelineState& State() { return state_; }
  PipelineWindow& Window() { return window_; }
  // The headless stand-in (unused while a GUI window is in place).
  HeadlessWindow& Headless() { return headless_; }
  TouchPipeline& Pipeline() { return pipeline_; }
  TouchOutputs& Outputs() { return outputs_; }
  // The calibration page's conversation; null when [Listen] switches it off.
  WebCalibrationService* WebCalibration() { return webCalibration_.get(); }
  const bridge::DriverApiSession& DriverApi() const { return session_; }
  // Every figure the status answer tells, from any thread; waits for no
  // record and no command.
  StatusSnapshot Status();

 private:
  // "/status" and "/metrics" on the WebSocket port.
  bool Serves(std::string_view path) const override;
  bool Fetch(std::string_view path, std::string& body, std::string& contentType) override;
  // The calibration page's connections (listener thread) to its service.
  void Opened(std::uint64_t client, bool loopback) override;
  void Message(std::uint64_t client, std::string_view text) override;
  void Closed(std::uint64_t client) override;
  // What the calibration's thread sends the pages, through the listener.
  void Send(std::uint64_t client, const std::string& text) override;
  void Close(std::uint64_t client, std::uint16_t code, const std::string& reason) override;
  WebFrameInfo FrameInfo();

  const std::chrono::steady_clock::time_point startedClock_ = std::chrono::steady_clock::now();
  const double startedAt_ = WallClockSeconds();
  std::mutex lifeMutex_;  // Start against ShutDown
  bool started_ = false;
  bool shutDown_ = false;
  const std::string settingsPath_;
  PipelineState state_;
  HeadlessWindow headless_;
  PipelineWindow& window_;
  // What the pipeline calls: the main window, except while a page calibrates.
  WebCalibrationWindow gate_{window_};
  bridge::DriverApiSession session_;
  TouchOutputs outputs_;
  TouchOutputsLifecycle outputLifecycle_;
  // Destroyed first but for the calibration page's thread, while everything
  // it points at still exists.
  TouchPipeline pipeline_;
  // Uses the pipeline: stopped and destroyed before it.
  std::unique_ptr<WebCalibrationService> webCalibration_;
};
