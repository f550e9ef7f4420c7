// libFuzzer: what an XML client may send to the touch server, and how it may
// leave. Whatever it sends, the listener reads and discards it, the client
// receives exactly the documents sent while it was connected (in order,
// intact), and a client that leaves (closing, half-closing or resetting) is
// noticed at once, so the next one is served.
//
// Input: operations; each first byte picks one: client bytes (a length byte,
// then the bytes), a document from the service, a half-close.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "output/XmlListener.h"
#include "tests/fuzz/FuzzBytes.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "xml client fuzz: %s\n", what);
  std::abort();
}

// Generous: a long run shares a busy machine at the lowest priority (where
// it may wait seconds for a turn), and a spinning wait would take the
// listener thread's turn.
template <typename F>
void Await(F done, const char* what) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) Fail(what);
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}

struct Server {
  XmlClientLink link;
  XmlListener listener{link, [] {
                         XmlListener::Options o;
                         o.port = 0;
                         return o;
                       }()};
  Server() {
    listener.Start();
    Await([this] { return listener.Port() != 0; }, "the listener does not listen");
  }
};

void ReadAvailable(int fd, std::string& received) {
  char buf[65536];
  ssize_t n;
  while ((n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0) received.append(buf, std::size_t(n));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Server server;
  fuzz::FuzzBytes in(data, size);

  const platform::SocketHandle client = platform::ConnectTcp("127.0.0.1", server.listener.Port());
  if (client == platform::kInvalidSocket) Fail("connect");
  const int fd = int(client);
  Await([] { return server.link.Connected(); }, "the client is not accepted");

  std::string expected, received;
  int documents = 0;
  bool halfClosed = false;
  while (!in.empty()) {
    const std::uint8_t op = in.byte();
    if (op % 3 == 0 && !halfClosed) {
      std::string bytes(in.byte(), '\0');
      in.take(&bytes[0], bytes.size());
      if (send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) break;
    } else if (op % 3 == 1) {
      const std::string doc = "<OSCPACKET>" + std::to_string(++documents) + "</OSCPACKET>";
      if (server.link.Send(doc.c_str(), doc.size() + 1))
        expected.append(doc.c_str(), doc.size() + 1);
    } else {
      shutdown(fd, SHUT_WR);  // the listener takes the end of the client's data as its leaving
      halfClosed = true;
    }
    ReadAvailable(fd, received);
    if (expected.compare(0, received.size(), received) != 0) Fail("documents arrived altered");
  }
  if (halfClosed) Await([] { return !server.link.Connected(); }, "a half-closed client is kept");
  ReadAvailable(fd, received);
  if (expected.compare(0, received.size(), received) != 0) Fail("documents arrived altered");

  // Leave, resetting the connection when the input says so.
  if (size > 0 && data[size - 1] & 1) {
    const linger reset{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  }
  close(fd);
  Await([] { return !server.link.Connected(); }, "the listener missed the client leaving");
  return 0;
}
