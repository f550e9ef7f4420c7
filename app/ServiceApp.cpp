#include "app/ServiceApp.h"

#include "app/Settings.h"
#include "output/LivePage.h"
#include "platform/Trace.h"

ServiceApp::ServiceApp(platform::HidBackend& hid, DriverApiPort& driver, Options options)
    : ServiceApp(hid, driver, headless_, std::move(options)) {}

ServiceApp::ServiceApp(platform::HidBackend& hid, DriverApiPort& driver, PipelineWindow& window,
                       Options options)
    : settingsPath_(std::move(options.settingsPath)),
      window_(window),
      session_(driver, std::move(options.pause)),
      outputs_(std::move(options.endpoints)),
      outputLifecycle_(outputs_),
      pipeline_(hid, state_, gate_, driver, &outputLifecycle_,
                [this](VidPidList& list) { LoadVidPidList(settingsPath_, list); }) {
  pipeline_.SetPauseScale(options.commandPauseScale);
  pipeline_.SetSink(&outputs_);
  outputs_.SetDocuments(this);
  if (outputs_.WebSocket() && options.endpoints.webSocket.calibration) {
    WebCalibrationPages& pages = *this;
    webCalibration_ = std::make_unique<WebCalibrationService>(pipeline_, state_, pages, gate_,
                                                              [this] { return FrameInfo(); });
    gate_.SetService(webCalibration_.get());
    PageConversation& conversation = *this;
    outputs_.SetConversation(CalibrationPageHtml(), &conversation);
  }
}

ServiceApp::~ServiceApp() {
  ShutDown();
}

void ServiceApp::Start(void* mainWindow) {
  std::lock_guard<std::mutex> lock(lifeMutex_);
  if (started_ || shutDown_) return;
  started_ = true;
  session_.Start(mainWindow ? mainWindow : &window_);
  // The multi-touch frame's mouse switch goes through the same context.
  state_.driverApiContext = session_.Context();
  pipeline_.StartTouchPipeline();
  pipeline_.CompleteStartUp(ReadMouseEnable(settingsPath_));
  if (webCalibration_) webCalibration_->Start();
}

void ServiceApp::ReloadSettings() {
  std::lock_guard<std::mutex> lock(lifeMutex_);
  if (!started_ || shutDown_) return;
  const bool mouseEnable = ReadMouseEnable(settingsPath_);
  TRACE_INFO("settings: read again from %s (MouseEnable %d)", settingsPath_.c_str(),
             mouseEnable ? 1 : 0);
  if (mouseEnable != state_.mouseEnable.load()) {
    state_.mouseEnable = mouseEnable;
    pipeline_.ApplyMouseEnable(mouseEnable);
  }
  pipeline_.Rescan();
}

void ServiceApp::ShutDown(const std::function<void()>& beforeExitTouch) {
  std::lock_guard<std::mutex> lock(lifeMutex_);
  if (shutDown_) return;
  shutDown_ = true;
  // A page's calibration ends as Escape ends it while the frame is still
  // open; nothing of a page reaches the frame afterwards.
  if (webCalibration_) webCalibration_->Stop();
  gate_.SetService(nullptr);
  // Device changes come on the pipeline's own worker: it is stopped first,
  // so no arrival lands in the middle of the shut-down.
  pipeline_.StopDeviceChanges();
  if (started_) {
    session_.Shutdown([&] {
      pipeline_.ShutDown();
      if (beforeExitTouch) beforeExitTouch();
    });
  }
  state_.driverApiContext = nullptr;
  pipeline_.CloseReaderThreadHandles();
  outputs_.StopXmlListener();
  // A frame that never opened leaves the outputs started (no removal
  // stopped them); their empty bundles go out here at the latest.
  if (outputs_.outputStarted()) outputs_.StopTouchOutput();
  // After the output's empty bundles, so stream clients get them too.
  outputs_.StopStreamListeners();
}

StatusSnapshot ServiceApp::Status() {
  StatusSnapshot s;
  s.startedAt = startedAt_;
  s.uptime =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - startedClock_).count();
  s.frame = pipeline_.Status();
  outputs_.FillStatus(s);
  return s;
}

bool ServiceApp::Serves(std::string_view path) const {
  return path == ws::kStatusPath || path == "/metrics";
}

bool ServiceApp::Fetch(std::string_view path, std::string& body, std::string& contentType) {
  if (path == ws::kStatusPath) {
    body = StatusJson(Status());
    contentType = kStatusContentType;
    return true;
  }
  if (path == "/metrics") {
    body = StatusMetrics(Status());
    contentType = kMetricsContentType;
    return true;
  }
  return false;
}

void ServiceApp::Opened(std::uint64_t client, bool loopback) {
  webCalibration_->Opened(client, loopback);
}

void ServiceApp::Message(std::uint64_t client, std::string_view text) {
  webCalibration_->Message(client, text);
}

void ServiceApp::Closed(std::uint64_t client) {
  webCalibration_->Closed(client);
}

void ServiceApp::Send(std::uint64_t client, const std::string& text) {
  if (StreamListener* l = outputs_.WebSocket()) l->SendText(client, text);
}

void ServiceApp::Close(std::uint64_t client, std::uint16_t code, const std::string& reason) {
  if (StreamListener* l = outputs_.WebSocket()) l->CloseClient(client, code, reason);
}

WebFrameInfo ServiceApp::FrameInfo() {
  const FrameStatusView f = pipeline_.Status();
  WebFrameInfo info;
  info.present = f.present;
  info.version = f.versionNumber;
  info.splitChannel = IsSplitChannel(f.versionNumber);
  // Once the frame's start-up is done (a single-channel frame's read-back
  // included); a Series01xx frame has no Calibration button either.
  info.calibratable = f.present && !f.series01xx && pipeline_.State() == FrameState::kReady;
  info.className = FrameClassName(f.versionNumber, f.series01xx);
  info.since = f.since;
  return info;
}
