#pragma once
// Test-side XML client: connects to the touch server over TCP and splits
// what arrives into documents at the zero bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Socket.h"
#include "tests/support/WaitFor.h"

namespace testsupport {

class XmlClient {
 public:
  // Connects to 127.0.0.1:port; connected() tells whether it worked.
  explicit XmlClient(std::uint16_t port);
  ~XmlClient();
  XmlClient(const XmlClient&) = delete;
  XmlClient& operator=(const XmlClient&) = delete;

  bool connected() const { return socket_ != platform::kInvalidSocket; }
  // Reads until `count` whole documents have arrived or `timeoutMs` passed
  // without data; returns the documents completed so far (each without its
  // zero byte). Bytes after the last zero byte wait for the next call.
  std::vector<std::string> documents(std::size_t count, int timeoutMs = 2000);
  // True once the server has closed the connection (waits up to timeoutMs).
  bool closedByServer(int timeoutMs = 2000);
  void close();

 private:
  platform::SocketHandle socket_;
  std::string partial_;
  bool ended_ = false;
};

}  // namespace testsupport
