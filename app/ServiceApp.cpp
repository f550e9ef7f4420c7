#include "app/ServiceApp.h"

#include "app/Settings.h"

ServiceApp::ServiceApp(platform::HidBackend& hid, DriverApiPort& driver, Options options)
    : ServiceApp(hid, driver, headless_, std::move(options)) {}

ServiceApp::ServiceApp(platform::HidBackend& hid, DriverApiPort& driver, MainWindowModel& window,
                       Options options)
    : settingsPath_(std::move(options.settingsPath)),
      window_(window),
      session_(driver, std::move(options.pause)),
      outputs_(std::move(options.endpoints)),
      outputLifecycle_(outputs_),
      pipeline_(hid, window_, driver, &outputLifecycle_,
                [this](VidPidList& list) { LoadVidPidList(settingsPath_, list); }) {
  pipeline_.SetPauseScale(options.commandPauseScale);
  pipeline_.SetSinks(&outputs_, &outputs_);
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
  window_.driverApiContext = session_.context();
  pipeline_.StartTouchPipeline();
  pipeline_.CompleteStartUp(ReadMouseEnable(settingsPath_));
}

void ServiceApp::ShutDown(const std::function<void()>& beforeExitTouch) {
  std::lock_guard<std::mutex> lock(lifeMutex_);
  if (shutDown_) return;
  shutDown_ = true;
  // On Windows the window thread handles device changes, so none can land in
  // the middle of its destruction; here the worker is stopped first.
  pipeline_.StopDeviceChanges();
  if (started_) {
    session_.Shutdown([&] {
      pipeline_.ShutDown();
      if (beforeExitTouch) beforeExitTouch();
    });
  }
  window_.driverApiContext = nullptr;
  pipeline_.Stop();
  outputs_.StopXmlListener();
  // A frame that never opened leaves the outputs started (no removal
  // stopped them); their empty bundles go out here at the latest.
  if (outputs_.outputStarted()) outputs_.StopTouchOutput();
}
