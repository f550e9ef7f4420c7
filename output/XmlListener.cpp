#include "output/XmlListener.h"

#include "platform/Trace.h"

namespace {
// How often a waiting listener looks for a stop request.
constexpr int kPollMs = 50;
// The client's bytes are read in pieces of this size and discarded.
constexpr std::size_t kReceiveBytes = 512;
}  // namespace

XmlListener::XmlListener(XmlClientLink& link, Options options) : link_(link), options_(options) {}

XmlListener::~XmlListener() {
  stop();
}

void XmlListener::start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (thread_.joinable() || stop_) return;
  thread_ = std::thread([this] { run(); });
}

void XmlListener::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool XmlListener::stopping() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stop_;
}

bool XmlListener::sleepUnlessStopped(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_; });
}

void XmlListener::run() {
  if (!platform::StartSockets()) return;  // no sockets at all: nothing to retry
  while (!stopping()) {
    const platform::SocketHandle listener =
        platform::OpenTcpListener(options_.port, options_.backlog);
    if (listener == platform::kInvalidSocket) {
      if (failedListens_++ == 0) TRACE_WARN("xml: cannot listen on port %d", options_.port);
      if (sleepUnlessStopped(options_.retryMs)) break;
      continue;
    }
    port_ = platform::LocalPort(listener);
    serve(listener);
    port_ = 0;
    platform::CloseSocket(listener);
  }
  platform::StopSockets();
}

void XmlListener::serve(platform::SocketHandle listener) {
  while (!stopping()) {
    const int ready = platform::WaitReadable(listener, kPollMs);
    if (ready < 0) return;  // the listening socket failed: listen again
    if (ready == 0) continue;
    const platform::SocketHandle client =
        platform::AcceptConnection(listener, options_.sendBufferBytes);
    if (client == platform::kInvalidSocket) continue;
    link_.attach(client);
    TRACE_INFO("xml: client connected");
    serveClient(client);
    link_.detach(client);  // invalidated for the senders and closed, in one step
    TRACE_INFO("xml: client gone");
  }
}

void XmlListener::serveClient(platform::SocketHandle client) {
  char discard[kReceiveBytes];
  // Until the client leaves, the connection fails, or the sender drops a
  // client that fell too far behind.
  while (!stopping() && link_.isCurrent(client)) {
    const int ready = platform::WaitReadable(client, kPollMs);
    if (ready < 0) return;
    if (ready == 0) continue;
    const long n = platform::Receive(client, discard, sizeof discard);
    if (n == platform::kWouldBlock) continue;
    if (n <= 0) return;
  }
}
