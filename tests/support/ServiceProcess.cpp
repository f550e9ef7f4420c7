#include "tests/support/ServiceProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace testsupport {
namespace {

// A child keeps only its standard streams: a socket of the test (the TUIO
// capture) inherited by the service, or by a process Wine starts for it that
// outlives it (the desktop process), would hold the port after the test.
void CloseInheritedFiles() {
  const long max = sysconf(_SC_OPEN_MAX);
  for (long fd = 3; fd < (max > 0 && max < 65536 ? max : 1024); ++fd) close(static_cast<int>(fd));
}

// The native service program. Its path is given relative to the build tree
// (compile lines carry no absolute path, so a clone elsewhere reuses the
// compiler cache) and looked for in the folders above this program's own.
std::string NativeService() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir(self, n > 0 ? static_cast<std::size_t>(n) : 0);
  for (std::size_t slash; (slash = dir.rfind('/')) != std::string::npos && slash > 0;) {
    dir.resize(slash);
    const std::string candidate = dir + "/" + VANTREL_NATIVE_SERVICE;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return VANTREL_NATIVE_SERVICE;
}

}  // namespace

std::vector<std::string> ServiceProcess::Command() {
  std::vector<std::string> words;
  const char* env = std::getenv("VANTREL_E2E_SERVICE");
  std::istringstream in(env && *env ? env : NativeService());
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

ServiceProcess::ServiceProcess(const std::string& simAddress,
                               const std::vector<std::string>& extraArgs) {
  // Relative to the service's working directory, so the same name works for
  // the Windows build under Wine.
  std::vector<std::string> words = Command();
  words.push_back("--ready-file");
  words.push_back("ready");
  for (const std::string& a : extraArgs) words.push_back(a);
  launch(std::move(words), "FRAMESIM_ADDR=" + simAddress);
}

ServiceProcess::ServiceProcess(std::vector<std::string> command) {
  launch(std::move(command), "");
}

void ServiceProcess::launch(std::vector<std::string> words, const std::string& env) {
  char tmpl[] = "/tmp/vantrel-e2e-XXXXXX";
  if (!mkdtemp(tmpl)) return;
  dir_ = tmpl;
  readyFile_ = dir_ + "/ready";
  logFile_ = dir_ + "/output";
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);

  pid_ = fork();
  if (pid_ == 0) {
    if (chdir(dir_.c_str()) != 0) _exit(126);
    const int log = open(logFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = open("/dev/null", O_RDONLY);
    if (log >= 0) dup2(log, 1), dup2(log, 2);
    if (null >= 0) dup2(null, 0);
    if (!env.empty()) putenv(const_cast<char*>(env.c_str()));
    CloseInheritedFiles();
    execvp(argv[0], argv.data());
    _exit(127);
  }
}

ServiceProcess::~ServiceProcess() {
  if (pid_ > 0 && status_ < 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (!dir_.empty()) {
    std::remove(readyFile_.c_str());
    std::remove(logFile_.c_str());
    rmdir(dir_.c_str());
  }
}

bool ServiceProcess::waitReady(int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  struct stat st;
  while (stat(readyFile_.c_str(), &st) != 0) {
    if (pid_ <= 0 || waitExit(0) != -1) return false;
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

int ServiceProcess::waitExit(int timeoutMs) {
  if (status_ >= 0) return status_;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int st = 0;
    const pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      return status_;
    }
    if (r < 0 || std::chrono::steady_clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int ServiceProcess::interruptAndWait(int timeoutMs) {
  if (pid_ <= 0) return -1;
  std::vector<std::string> words = Command();
  const std::string& program = words.back();
  const bool windows =
      program.size() > 4 && strcasecmp(program.c_str() + program.size() - 4, ".exe") == 0;
  if (status_ < 0 && !windows) kill(pid_, SIGINT);
  if (status_ < 0 && windows) {
    // The tray program has no console: its own command ends it through the
    // shut-down and returns once the instance is gone.
    words.push_back("--quit");
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    const pid_t quit = fork();
    if (quit == 0) {
      const int null = open("/dev/null", O_RDWR);
      if (null >= 0) dup2(null, 0), dup2(null, 1);
      CloseInheritedFiles();
      execvp(argv[0], argv.data());
      _exit(127);
    }
    if (quit > 0) waitpid(quit, nullptr, 0);
  }
  return waitExit(timeoutMs);
}

std::string ServiceProcess::output() const {
  std::ifstream in(logFile_);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

int ServiceProcess::signalAndWait(int sig, int timeoutMs) {
  if (pid_ <= 0) return -1;
  if (status_ < 0) kill(pid_, sig);
  return waitExit(timeoutMs);
}

}  // namespace testsupport
