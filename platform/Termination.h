#pragma once
// Ctrl+C and termination requests as something the main thread waits for.
// Natively SIGINT and SIGTERM, and SIGHUP as a request to re-read the
// settings (what a service manager's reload sends); on Windows the console control events (Ctrl+C,
// Ctrl+Break, the console closing, log-off, system shut-down). One instance
// per process, created on the main thread before any other thread starts.
namespace platform {

class TerminationWatch {
 public:
  TerminationWatch();
  ~TerminationWatch();
  TerminationWatch(const TerminationWatch&) = delete;
  TerminationWatch& operator=(const TerminationWatch&) = delete;

  enum class Request { kNone, kTerminate, kReload };
  // The request that arrived; kNone when `milliseconds` passed first (a
  // negative value waits without limit). Windows never asks for a reload.
  Request Wait(long long milliseconds);
  // The program has shut down. Windows ends the process as soon as the
  // handler of a closing console returns, so that handler waits for this.
  void ShutdownDone();
};

}  // namespace platform
