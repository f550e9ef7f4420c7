#pragma once
// A raw client of the service's TUIO stream ports: TCP (each packet after
// its 4-byte big-endian length) and WebSocket (binary messages after the
// upgrade). Header only, as it checks frames with gtest.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/WaitFor.h"

namespace testsupport {

using Packets = std::vector<std::vector<char>>;

class StreamClient {
 public:
  // `receiveBuffer` > 0 keeps the kernel from buffering much for a client
  // that never reads.
  explicit StreamClient(int port, int receiveBuffer = 0) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0)
      ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(std::uint16_t(port));
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~StreamClient() { ::close(fd_); }
  bool connected() const { return connected_; }
  bool ended() const { return ended_; }
  bool Send(const std::string& s) { return ::send(fd_, s.data(), s.size(), MSG_NOSIGNAL) > 0; }
  void ShutSending() { ::shutdown(fd_, SHUT_WR); }
  // Reads what arrives within `ms` (longer while bytes keep coming).
  const std::string& Pump(int ms) {
    pollfd p{fd_, POLLIN, 0};
    char buf[65536];
    while (!ended_ && ::poll(&p, 1, ms) > 0) {
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) ended_ = true;
      if (n > 0) in_.append(buf, std::size_t(n));
    }
    return in_;
  }
  // WebSocket: the upgrade, with `origin` unless empty; the reply's head.
  std::string Upgrade(const std::string& origin = "") {
    Send(
        "GET / HTTP/1.1\r\nHost: 127.0.0.1:3334\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
        (origin.empty() ? "" : "Origin: " + origin + "\r\n") + "\r\n");
    WaitFor([&] { return Pump(20).find("\r\n\r\n") != std::string::npos || ended_; }, 10000);
    const std::size_t end = in_.find("\r\n\r\n");
    if (end == std::string::npos) return in_;
    std::string head = in_.substr(0, end + 4);
    in_.erase(0, end + 4);
    return head;
  }
  // Whole packets received so far: 4-byte length prefixed, or WebSocket
  // binary messages (any other frame fails the test).
  Packets TakeTcp() {
    Packets out;
    while (in_.size() >= 4) {
      const auto* b = reinterpret_cast<const unsigned char*>(in_.data());
      const std::size_t n = (std::size_t(b[0]) << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
      if (in_.size() < 4 + n) break;
      out.emplace_back(in_.begin() + 4, in_.begin() + 4 + long(n));
      in_.erase(0, 4 + n);
    }
    return out;
  }
  Packets TakeWebSocket() {
    Packets out;
    while (in_.size() >= 2) {
      const auto* b = reinterpret_cast<const unsigned char*>(in_.data());
      EXPECT_EQ(b[0], 0x82) << "not a final binary frame";
      std::size_t n = b[1], at = 2;
      EXPECT_EQ(n & 0x80, 0u) << "server frames are not masked";
      if (n == 126) {
        if (in_.size() < 4) break;
        n = (std::size_t(b[2]) << 8) | b[3];
        at = 4;
      }
      if (in_.size() < at + n) break;
      out.emplace_back(in_.begin() + long(at), in_.begin() + long(at + n));
      in_.erase(0, at + n);
    }
    return out;
  }
  void Clear() { in_.clear(); }

 private:
  int fd_ = -1;
  bool connected_ = false;
  bool ended_ = false;
  std::string in_;
};

}  // namespace testsupport
