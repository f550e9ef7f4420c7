#pragma once
// The thread that accepts XML clients: one connection at a time (a second
// client waits in the backlog until the first one leaves), the client's own
// bytes read and discarded, the bytes of a client that fell behind sent as
// its socket takes them, an ended connection closed at once. It sleeps in
// one wait on its socket and a wake-up socket: a client, a stop, a client
// that falls behind or is dropped wakes it at once, and nothing wakes it
// while nothing happens.
#include <cstdint>
#include <string>

#include "output/ListenerThread.h"
#include "output/XmlClientLink.h"

class XmlListener : public ListenerThread {
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
  // Stop(): the current connection and the listening socket are closed,
  // then the thread is joined. Returns at once, or once the client's
  // waiting bytes went out, closeGraceMs at most.
  ~XmlListener() override;

 private:
  void Serve(platform::SocketHandle listener) override;
  void ListenFailed(const std::string& error) override;
  // The link pokes the wake-up socket when it drops a client.
  void WakeSocketOpened() override;
  void WakeSocketClosing() override;
  void ServeClient(platform::SocketHandle client);
  // Waits until `s` is readable (true) or something else needs a look.
  bool WaitReadable(platform::SocketHandle s, bool& failed);
  // Waits until the client is readable, or writable when `behind`, or
  // something else needs a look, or `timeoutMs` (< 0: no limit) passed.
  // False when the wait failed.
  bool WaitClient(platform::SocketHandle client, bool behind, int timeoutMs);

  XmlClientLink& link_;
  const Options options_;
};
