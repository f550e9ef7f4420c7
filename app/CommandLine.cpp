#include "app/CommandLine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

// The headless service's settings file when --config names none: beside the
// program in a build tree, /etc/vantrel/Vantrel.ini in the Debian package.
#ifndef VANTREL_CONFIG_FILE
#define VANTREL_CONFIG_DEFAULT "vantrel.ini beside the program"
#else
#define VANTREL_CONFIG_DEFAULT VANTREL_CONFIG_FILE
#endif

namespace {

std::string Usage(const char* program, bool trayProgram) {
  char text[1024];
  std::snprintf(
      text, sizeof text,
      "usage: %s%s [--seconds N] [--ready-file FILE] [--log LEVEL]%s\n"
      "%s"
      "  --seconds N        shut down after N seconds (default: %s)\n"
      "  --ready-file FILE  write FILE once the start-up is complete\n"
      "  --log LEVEL        trace error, warn, info or debug lines (default: off,\n"
      "                     or VANTREL_LOG; VANTREL_LOG_FILE names a file too)\n%s",
      program, trayProgram ? "" : " [--config FILE]", trayProgram ? " | --quit" : "",
      trayProgram ? ""
                  : "  --config FILE      the settings file (default: " VANTREL_CONFIG_DEFAULT
                    ")\n",
      trayProgram ? "on Exit or --quit" : "on Ctrl+C or a termination request",
      trayProgram ? "  --quit             end the running instance and wait until it is gone\n"
                  : "");
  return text;
}

// The reason on stderr, or in `complaint` when the caller shows it itself.
bool Refuse(std::string* complaint, const std::string& text) {
  if (complaint) {
    *complaint = text;
  } else {
    std::fputs(text.c_str(), stderr);
  }
  return false;
}

}  // namespace

bool ParseServiceCommandLine(int argc, char** argv, bool trayProgram, ServiceCommandLine& out,
                             std::string* complaint) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc) {
      char* end = nullptr;
      errno = 0;
      const double s = std::strtod(argv[++i], &end);
      if (errno != 0 || end == argv[i] || *end != '\0' || !(s >= 0) || s > 1e9) {
        return Refuse(complaint, std::string(argv[0]) +
                                     ": --seconds wants a number of seconds, not \"" + argv[i] +
                                     "\"\n");
      }
      out.runMs = static_cast<long long>(s * 1000.0);
    } else if (arg == "--ready-file" && i + 1 < argc) {
      out.readyFile = argv[++i];
    } else if (!trayProgram && arg == "--config" && i + 1 < argc && argv[i + 1][0] != '\0') {
      out.configFile = argv[++i];
    } else if (arg == "--log" && i + 1 < argc) {
      if (!trace::ParseLevel(argv[++i], out.traceLevel)) {
        return Refuse(complaint, std::string(argv[0]) +
                                     ": --log wants off, error, warn, info or debug, not \"" +
                                     argv[i] + "\"\n");
      }
      out.traceSet = true;
    } else if (trayProgram && arg == "--quit" && argc == 2) {
      out.quit = true;
    } else {
      return Refuse(complaint, Usage(argv[0], trayProgram));
    }
  }
  return true;
}

std::string ServiceSettingsPath(const ServiceCommandLine& cmd, const std::string& besideProgram) {
  if (!cmd.configFile.empty()) return cmd.configFile;
#ifdef VANTREL_CONFIG_FILE
  (void)besideProgram;
  return VANTREL_CONFIG_FILE;
#else
  return besideProgram;
#endif
}

void WriteReadyFile(const std::string& path) {
  const std::string temp = path + ".tmp";
  if (std::FILE* f = std::fopen(temp.c_str(), "w")) {
    std::fputs("ready\n", f);
    std::fclose(f);
    std::remove(path.c_str());
    std::rename(temp.c_str(), path.c_str());
  }
}

void ConfigureTrace(const ServiceCommandLine& cmd) {
  trace::Process().ConfigureFromEnvironment();
  if (cmd.traceSet) {
    trace::Process().ConfigurePlatform(cmd.traceLevel, std::getenv("VANTREL_LOG_FILE"));
  }
}
