#pragma once
// The thread that accepts XML clients: one connection at a time (a second
// client waits in the backlog until the first one leaves), the client's own
// bytes read and discarded, the bytes of a client that fell behind sent as
// its socket takes them, an ended connection closed at once. It sleeps in
// one wait on its socket and a wake-up socket: a client, a stop, a client
// that falls behind or is dropped wakes it at once, and nothing wakes it
// while nothing happens.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "output/XmlClientLink.h"

class XmlListener {
 public:
  struct Options {
    std::uint16_t port = 3000;  // 0: any free port (tests)
    std::string address;        // dotted IPv4; empty: all interfaces
    int backlog = 5;
    // A port that cannot be listened on (taken, say) is tried again after
    // this long, for as long as the listener runs.
    int retryMs = 3000;
    // Send buffer of each client connection: together with the link's
    // pending bytes, how far a client may fall behind before it is dropped.
    int sendBufferBytes = 64 * 1024;
    // At a stop, how long bytes still waiting for the client (the lift
    // document the output's stop sent, say) may take to go out before the
    // connection closes.
    int closeGraceMs = 200;
  };

  XmlListener(XmlClientLink& link, Options options);
  ~XmlListener();  // Stop()
  XmlListener(const XmlListener&) = delete;
  XmlListener& operator=(const XmlListener&) = delete;

  // Starts the listening thread (once; later calls do nothing).
  void Start();
  // Ends the thread: the current connection and the listening socket are
  // closed, then the thread is joined. Returns at once, or once the
  // client's waiting bytes went out, closeGraceMs at most.
  void Stop();

  // The port being listened on, 0 while not listening.
  std::uint16_t Port() const { return port_.load(); }
  // Attempts to listen that failed so far.
  std::uint32_t FailedListens() const { return failedListens_.load(); }

 private:
  void Run();
  void Serve(platform::SocketHandle listener);
  void ServeClient(platform::SocketHandle client);
  // Waits until `s` is readable (true) or something else needs a look.
  bool WaitReadable(platform::SocketHandle s, bool& failed);
  // Waits until the client is readable, or writable when `behind`, or
  // something else needs a look, or `timeoutMs` (< 0: no limit) passed.
  // False when the wait failed.
  bool WaitClient(platform::SocketHandle client, bool behind, int timeoutMs);
  bool Stopping();
  // Waits up to `ms`, returning early (true) when Stop() is called.
  bool SleepUnlessStopped(int ms);

  XmlClientLink& link_;
  Options options_;
  std::thread thread_;
  // Guards the stop flag and the wake-up socket.
  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stop_ = false;
  // Open while the thread runs; poked (under mutex_) by Stop() and by the
  // link when it drops a client.
  platform::WakeSocket wakeSocket_;
  std::atomic<std::uint16_t> port_{0};
  std::atomic<std::uint32_t> failedListens_{0};
};
