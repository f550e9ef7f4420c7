#include "output/XmlListener.h"

#include <algorithm>
#include <chrono>

#include "platform/Trace.h"

namespace {
// Only where no wake-up socket could be made: how often a waiting listener
// looks for a stop request or a dropped client. Also the pause before an
// accept that failed is tried again.
constexpr int kFallbackPollMs = 50;
// The client's bytes are read in pieces of this size and discarded.
constexpr std::size_t kReceiveBytes = 512;
}  // namespace

XmlListener::XmlListener(XmlClientLink& link, Options options)
    : ListenerThread({options.address, options.port, options.backlog, options.retryMs}),
      link_(link),
      options_(std::move(options)) {}

XmlListener::~XmlListener() {
  Stop();
}

void XmlListener::ListenFailed(const std::string& error) {
  TRACE_WARN("xml: cannot listen on port %d: %s", options_.port, error.c_str());
}

void XmlListener::WakeSocketOpened() {
  link_.SetListenerWake(wakeSocket_);
}

void XmlListener::WakeSocketClosing() {
  link_.SetListenerWake(platform::WakeSocket{});
}

bool XmlListener::WaitReadable(platform::SocketHandle s, bool& failed) {
  // wakeSocket_ is written only by this thread, so reading it here needs no lock.
  const bool canWake = wakeSocket_.read != platform::kInvalidSocket;
  const int ready = platform::WaitReadableOrWoken(s, wakeSocket_, canWake ? -1 : kFallbackPollMs);
  failed = ready < 0;
  if (failed) return false;
  // Drained before the caller looks at the state: a poke always follows the
  // change it announces, so none is lost.
  if (ready & platform::kWoken) platform::DrainWakeSocket(wakeSocket_);
  return (ready & platform::kSocketReadable) != 0;
}

void XmlListener::Serve(platform::SocketHandle listener) {
  bool failed = false, waited = false;
  while (!Stopping()) {
    // A client already waiting is taken without a wait first: clients that
    // come in a burst are taken as fast as they leave, before the backlog
    // fills.
    const platform::SocketHandle client =
        platform::AcceptConnection(listener, options_.sendBufferBytes);
    if (client == platform::kInvalidSocket) {
      // An accept that fails although a connection was announced (no
      // descriptor left, say) is tried again a little later, not in a spin.
      if (waited && SleepUnlessStopped(kFallbackPollMs)) return;
      waited = WaitReadable(listener, failed);
      if (failed) return;  // the listening socket failed: listen again
      continue;
    }
    waited = false;
    link_.Attach(client);
    TRACE_INFO("xml: client connected");
    ServeClient(client);
    link_.Detach(client);  // invalidated for the senders and closed, in one step
    TRACE_INFO("xml: client gone");
  }
}

bool XmlListener::WaitClient(platform::SocketHandle client, bool behind, int timeoutMs) {
  const bool canWake = wakeSocket_.read != platform::kInvalidSocket;
  platform::SocketWait items[2];
  items[0].s = client;
  items[0].read = true;
  items[0].write = behind;
  items[1].s = wakeSocket_.read;
  items[1].read = true;
  if (!canWake) timeoutMs = timeoutMs < 0 ? kFallbackPollMs : std::min(timeoutMs, kFallbackPollMs);
  const int ready = platform::WaitSockets(items, canWake ? 2 : 1, timeoutMs);
  if (ready < 0) return false;
  // Drained before the caller looks at the state, as in WaitReadable.
  if (canWake && items[1].readable) platform::DrainWakeSocket(wakeSocket_);
  return true;
}

void XmlListener::ServeClient(platform::SocketHandle client) {
  using Clock = std::chrono::steady_clock;
  char discard[kReceiveBytes];
  bool closing = false;
  Clock::time_point deadline;
  // Until the client leaves, the connection fails, the sender drops a
  // client that fell too far behind, or a stop (after the client's waiting
  // bytes went out, or the grace time ran out). Read before waiting: a
  // client that left before it was accepted is seen without a wait.
  while (link_.IsCurrent(client)) {
    const long n = platform::Receive(client, discard, sizeof discard);
    if (n != platform::kWouldBlock && n <= 0) return;
    const bool behind = link_.SendBacklog(client);
    if (!closing && Stopping()) {
      closing = true;
      deadline = Clock::now() + std::chrono::milliseconds(options_.closeGraceMs);
    }
    int timeoutMs = -1;
    if (closing) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (!behind || left <= 0) return;
      timeoutMs = int(left);
    }
    if (n > 0) continue;  // more may be waiting: read again before a wait
    if (!WaitClient(client, behind, timeoutMs)) return;
  }
}
