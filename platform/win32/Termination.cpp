#include "platform/Termination.h"

#include <windows.h>

namespace platform {

namespace {

// The console control handler is a plain function on a thread of the
// system's; it reaches the one watch through these two manual-reset events.
HANDLE g_requested = nullptr;
HANDLE g_done = nullptr;

// How long a closing console, log-off or shut-down waits for the program's
// own shut-down (exit commands, empty bundles) before Windows ends it.
constexpr DWORD kCloseWaitMs = 4500;

BOOL WINAPI OnConsoleControl(DWORD type) {
  SetEvent(g_requested);
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    WaitForSingleObject(g_done, kCloseWaitMs);
  }
  return TRUE;
}

}  // namespace

TerminationWatch::TerminationWatch() {
  g_requested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

TerminationWatch::~TerminationWatch() {
  SetConsoleCtrlHandler(OnConsoleControl, FALSE);
  // A handler that is running still holds the events; they stay open until
  // the process ends.
}

TerminationWatch::Request TerminationWatch::Wait(long long milliseconds) {
  DWORD limit = INFINITE;
  if (milliseconds >= 0) {
    limit = milliseconds >= 0xFFFFFFFELL ? 0xFFFFFFFEu : static_cast<DWORD>(milliseconds);
  }
  return WaitForSingleObject(g_requested, limit) == WAIT_OBJECT_0 ? Request::kTerminate
                                                                  : Request::kNone;
}

void TerminationWatch::ShutdownDone() {
  SetEvent(g_done);
}

}  // namespace platform
