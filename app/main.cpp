// Vantrel's entry, headless: the service runs its start-up, then waits for
// Ctrl+C or a termination request (or the end of --seconds), and shuts down,
// so receivers get their empty bundles and the frame its exit commands.
// SIGHUP reads the settings again. Under a service manager that asks for
// notifications, it hears when the start-up is complete, a reload and the
// shut-down. The program also exports the driver-API functions (linked in
// from bridge/).
#include <chrono>
#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "app/ServiceApp.h"
#include "app/Settings.h"
#include "bridge/BridgeDriverApi.h"
#include "platform/Hid.h"
#include "platform/ServiceNotify.h"
#include "platform/Termination.h"

namespace {

// Waits for a termination request or the end of `runMs` (negative: none),
// answering every reload request on the way.
void Serve(platform::TerminationWatch& termination, ServiceApp& app, long long runMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(runMs < 0 ? 0 : runMs);
  for (;;) {
    long long left = -1;
    if (runMs >= 0) {
      left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
      if (left < 0) left = 0;
    }
    if (termination.Wait(left) != platform::TerminationWatch::Request::kReload) return;
    platform::NotifyServiceManager("RELOADING=1");
    app.ReloadSettings();
    platform::NotifyServiceManager("READY=1");
  }
}

}  // namespace

int main(int argc, char** argv) {
  ServiceCommandLine cmd;
  if (!ParseServiceCommandLine(argc, argv, false, cmd)) return 2;
  // Before any thread starts: the signals are taken by the wait below.
  platform::TerminationWatch termination;
  ConfigureTrace(cmd);
  {
    std::unique_ptr<platform::HidBackend> hid = platform::CreateHidBackend();
    bridge::BridgeDriverApi driver;
    ServiceApp::Options options;
    options.settingsPath = ServiceSettingsPath(cmd, SettingsFilePath());
    ReadListenSettings(options.settingsPath, options.endpoints);
    ServiceApp app(*hid, driver, std::move(options));
    app.Start();
    if (!cmd.readyFile.empty()) WriteReadyFile(cmd.readyFile);
    platform::NotifyServiceManager("READY=1");
    Serve(termination, app, cmd.runMs);
    platform::NotifyServiceManager("STOPPING=1");
    app.ShutDown();
  }
  termination.ShutdownDone();
  return 0;
}
