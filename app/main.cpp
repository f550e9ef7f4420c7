// Vantrel's entry, headless: the service runs its start-up, then waits for
// Ctrl+C or a termination request (or the end of --seconds), and shuts down,
// so receivers get their empty bundles and the frame its exit commands.
// The program also exports the driver-API functions (linked in from bridge/).
#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "app/ServiceApp.h"
#include "app/Settings.h"
#include "bridge/BridgeDriverApi.h"
#include "platform/Hid.h"
#include "platform/Termination.h"

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
    options.settingsPath = SettingsFilePath();
    ReadListenSettings(options.settingsPath, options.endpoints);
    ServiceApp app(*hid, driver, std::move(options));
    app.Start();
    if (!cmd.readyFile.empty()) WriteReadyFile(cmd.readyFile);
    termination.Wait(cmd.runMs);
    app.ShutDown();
  }
  termination.ShutdownDone();
  return 0;
}
