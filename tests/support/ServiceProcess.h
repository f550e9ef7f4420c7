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
  // Starts another program the same way (its own private working directory,
  // output kept), e.g. a client of the service.
  explicit ServiceProcess(std::vector<std::string> command);
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
  // The program's working directory: relative file names given to it land here.
  const std::string& dir() const { return dir_; }
  // Sends `sig` (a program started with a command: SIGINT is Ctrl+C, under
  // Wine too), then waits for the exit like waitExit.
  int signalAndWait(int sig, int timeoutMs);
  // What the service wrote on stdout and stderr.
  std::string output() const;

  static std::vector<std::string> Command();

 private:
  void launch(std::vector<std::string> words, const std::string& env);
  pid_t pid_ = -1;
  int status_ = -1;
  std::string dir_, readyFile_, logFile_;
};

}  // namespace testsupport
