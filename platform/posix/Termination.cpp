#include "platform/Termination.h"

#include <signal.h>

#include <cerrno>
#include <ctime>

namespace platform {

namespace {

sigset_t TerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

// The signals are blocked in this thread and in every thread it starts
// afterwards, so they stay pending until wait() takes them: no handler runs
// in the middle of a reader's work.
TerminationWatch::TerminationWatch() {
  const sigset_t set = TerminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // A shell starts background jobs with SIGINT ignored; an ignored signal
  // may be discarded instead of waiting for us.
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  // nohup starts a program with SIGHUP ignored; a reload is still wanted.
  signal(SIGHUP, SIG_DFL);
}

TerminationWatch::~TerminationWatch() {
  const sigset_t set = TerminationSignals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

TerminationWatch::Request TerminationWatch::Wait(long long milliseconds) {
  const sigset_t set = TerminationSignals();
  timespec until{};
  clock_gettime(CLOCK_MONOTONIC, &until);
  until.tv_sec += static_cast<time_t>(milliseconds / 1000);
  until.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (until.tv_nsec >= 1000000000L) {
    until.tv_sec += 1;
    until.tv_nsec -= 1000000000L;
  }
  for (;;) {
    int rc;
    if (milliseconds < 0) {
      rc = sigwaitinfo(&set, nullptr);
    } else {
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      timespec left{until.tv_sec - now.tv_sec, until.tv_nsec - now.tv_nsec};
      if (left.tv_nsec < 0) {
        left.tv_sec -= 1;
        left.tv_nsec += 1000000000L;
      }
      if (left.tv_sec < 0) return Request::kNone;
      rc = sigtimedwait(&set, nullptr, &left);
    }
    if (rc == SIGHUP) return Request::kReload;
    if (rc > 0) return Request::kTerminate;
    if (errno == EAGAIN) return Request::kNone;
    // EINTR: another signal's handler ran; wait on.
  }
}

void TerminationWatch::ShutdownDone() {}

}  // namespace platform
