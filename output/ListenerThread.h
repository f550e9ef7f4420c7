#pragma once
// What every TCP listener of the outputs shares: its own thread, started
// once and stopped once; the socket it listens on, opened again after a
// pause while the port cannot be had; and the stop flag and wake-up socket
// a stop pokes, so the thread never sleeps through one.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "platform/Socket.h"

class ListenerThread {
 public:
  struct Place {
    std::string address;     // dotted IPv4; empty: all interfaces
    std::uint16_t port = 0;  // 0: any free port (tests)
    int backlog = 5;
    // A port that cannot be listened on (taken, say) is tried again after
    // this long, for as long as the listener runs.
    int retryMs = 3000;
  };

  ListenerThread(const ListenerThread&) = delete;
  ListenerThread& operator=(const ListenerThread&) = delete;

  // Starts the thread (once; later calls, and calls after a stop, do nothing).
  void Start();
  // Sets the stop flag, wakes the thread and joins it. A listener calls it
  // in its own destructor, while what its Serve uses still exists.
  void Stop();

  // The port being listened on, 0 while not listening.
  std::uint16_t Port() const { return port_.load(); }
  // Attempts to listen that failed so far.
  std::uint32_t FailedListens() const { return failedListens_.load(); }

 protected:
  explicit ListenerThread(Place place) : place_(std::move(place)) {}
  virtual ~ListenerThread();

  // On the thread, while `listener` listens: returns on a stop, or to have
  // the socket opened again (it failed).
  virtual void Serve(platform::SocketHandle listener) = 0;
  // The trace line for the first attempt to listen that failed.
  virtual void ListenFailed(const std::string& error) = 0;
  // On the thread, once the wake-up socket is open and before it closes.
  virtual void WakeSocketOpened() {}
  virtual void WakeSocketClosing() {}

  bool Stopping();
  // Waits up to `ms`, returning early (true) when Stop() is called.
  bool SleepUnlessStopped(int ms);
  const Place& ListenPlace() const { return place_; }

  // Guards stop_ and wakeSocket_ (and what a listener adds under it).
  std::mutex mutex_;
  // Open while the thread runs; written only under mutex_ by the thread, so
  // the thread itself reads it without the lock. Poked by Stop().
  platform::WakeSocket wakeSocket_;

 private:
  void Run();

  const Place place_;
  std::thread thread_;
  std::condition_variable stopped_;
  bool stop_ = false;
  std::atomic<std::uint16_t> port_{0};
  std::atomic<std::uint32_t> failedListens_{0};
};
