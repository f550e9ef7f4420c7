#include "output/ListenerThread.h"

#include <chrono>

ListenerThread::~ListenerThread() {
  Stop();
}

void ListenerThread::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (thread_.joinable() || stop_) return;
  thread_ = std::thread([this] { Run(); });
}

void ListenerThread::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    platform::PokeWakeSocket(wakeSocket_);
  }
  stopped_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool ListenerThread::Stopping() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stop_;
}

bool ListenerThread::SleepUnlessStopped(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return stopped_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_; });
}

void ListenerThread::Run() {
  if (!platform::StartSockets()) return;  // no sockets at all: nothing to retry
  {
    std::lock_guard<std::mutex> lock(mutex_);
    platform::OpenWakeSocket(wakeSocket_);
    // A stop that came before the socket was open finds it poked.
    if (stop_) platform::PokeWakeSocket(wakeSocket_);
  }
  WakeSocketOpened();
  while (!Stopping()) {
    std::string error;
    const platform::SocketHandle listener =
        platform::OpenTcpListenerOn(place_.address, place_.port, place_.backlog, &error);
    if (listener == platform::kInvalidSocket) {
      if (failedListens_++ == 0) ListenFailed(error);
      if (SleepUnlessStopped(place_.retryMs)) break;
      continue;
    }
    port_ = platform::LocalPort(listener);
    Serve(listener);
    port_ = 0;
    platform::CloseSocket(listener);
  }
  WakeSocketClosing();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    platform::CloseWakeSocket(wakeSocket_);
  }
  platform::StopSockets();
}
