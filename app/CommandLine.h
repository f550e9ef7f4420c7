#pragma once
// The service program's options (--seconds, --ready-file, --log), shared by the headless `vantrel`
// (which also knows --config) and the tray program `Vantrel.exe` (which also knows --quit).
#include <string>

#include "platform/Trace.h"

struct ServiceCommandLine {
  long long runMs = -1;    // end through the shut-down after this long; -1: on request
  std::string readyFile;   // written once start-up is complete
  std::string configFile;  // the settings file (headless only); empty: the default
  bool quit = false;       // end the running instance (tray program only)
  bool traceSet = false;   // --log given
  trace::Level traceLevel = trace::Level::kOff;
};

// False, after the reason or the usage on stderr, for anything it does not
// know; with `complaint` the text goes there instead (a program without a
// console shows it in a box). `trayProgram` accepts --quit (alone).
bool ParseServiceCommandLine(int argc, char** argv, bool trayProgram, ServiceCommandLine& out,
                             std::string* complaint = nullptr);

// The process's trace from VANTREL_LOG and VANTREL_LOG_FILE, then from
// --log when given (the file still from VANTREL_LOG_FILE).
void ConfigureTrace(const ServiceCommandLine& cmd);

// The headless service's settings file: --config, else the build's default
// (VANTREL_CONFIG_FILE, set for the Debian package), else `besideProgram`.
std::string ServiceSettingsPath(const ServiceCommandLine& cmd, const std::string& besideProgram);

// Written whole under a temporary name and renamed, so a script polling for
// it never reads it half written.
void WriteReadyFile(const std::string& path);
