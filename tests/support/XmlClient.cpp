#include "tests/support/XmlClient.h"

namespace testsupport {

XmlClient::XmlClient(std::uint16_t port) {
  platform::StartSockets();
  socket_ = platform::ConnectTcp("127.0.0.1", port);
}

XmlClient::~XmlClient() {
  close();
  platform::StopSockets();
}

void XmlClient::close() {
  platform::CloseSocket(socket_);
  socket_ = platform::kInvalidSocket;
}

std::vector<std::string> XmlClient::documents(std::size_t count, int timeoutMs) {
  std::vector<std::string> docs;
  auto harvest = [&] {
    std::size_t zero;
    while ((zero = partial_.find('\0')) != std::string::npos) {
      docs.push_back(partial_.substr(0, zero));
      partial_.erase(0, zero + 1);
    }
  };
  harvest();
  while (docs.size() < count && connected() && !ended_) {
    if (platform::WaitReadable(socket_, timeoutMs) != 1) break;
    char buf[4096];
    const long n = platform::Receive(socket_, buf, sizeof buf);
    if (n == platform::kWouldBlock) continue;
    if (n <= 0) {
      ended_ = true;
      break;
    }
    partial_.append(buf, std::size_t(n));
    harvest();
  }
  return docs;
}

bool XmlClient::closedByServer(int timeoutMs) {
  while (connected() && !ended_) {
    if (platform::WaitReadable(socket_, timeoutMs) != 1) return false;
    char buf[4096];
    const long n = platform::Receive(socket_, buf, sizeof buf);
    if (n == platform::kWouldBlock) continue;
    if (n <= 0) ended_ = true;
  }
  return ended_;
}

}  // namespace testsupport
