#pragma once
// The service program as a black box: started with FRAMESIM_ADDR naming the
// simulator, ready once it wrote its ready file, ended by SIGINT (Ctrl+C) or,
// for the Windows tray program, by `Vantrel.exe --quit`.
// The command comes from VANTREL_E2E_SERVICE (words separated by blanks,
// e.g. "build/win32/wine-run.sh build/win32/app/Vantrel.exe"); natively the
// default is the vantrel beside this build.
#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

class ServiceProcess {
 public:
  // Starts the service; `simAddress` goes into FRAMESIM_ADDR.
  ServiceProcess(const std::string& simAddress, const std::vector<std::string>& extraArgs = {});
  // Kills the service if it still runs.
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  bool started() const { return pid_ > 0; }
  // Polls for the ready file; false if the process ended or the time ran out.
  bool waitReady(int timeoutMs);
  // Ctrl+C (the Windows program: its --quit command), then waits for the
  // exit: the exit status, or -1 if it did not end within `timeoutMs`.
  int interruptAndWait(int timeoutMs);
  // The exit status, or -1 if it did not end within `timeoutMs`.
  int waitExit(int timeoutMs);
  pid_t pid() const { return pid_; }
  // What the service wrote on stdout and stderr.
  std::string output() const;

  static std::vector<std::string> Command();

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  std::string dir_, readyFile_, logFile_;
};

}  // namespace testsupport
