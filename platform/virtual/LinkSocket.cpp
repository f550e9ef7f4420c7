#include "platform/virtual/LinkSocket.h"

#ifndef _WIN32
#include <netinet/tcp.h>
#endif

#include <cstring>

#include "platform/SocketNative.h"

namespace vlink {

namespace {
using Native = platform::NativeSocket;
constexpr Native kInvalid = platform::kInvalidNativeSocket;
using platform::CloseNativeSocket;
#ifdef _WIN32
constexpr int kSendFlags = 0;
constexpr int kShutBoth = SD_BOTH;
#else
constexpr int kSendFlags = MSG_NOSIGNAL;
constexpr int kShutBoth = SHUT_RDWR;
#endif
Native AsNative(std::intptr_t fd) {
  return platform::AsNativeSocket(fd);
}
}  // namespace

std::unique_ptr<LinkSocket> LinkSocket::Connect(const std::string& host, unsigned short port) {
#ifdef _WIN32
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return nullptr;
#endif
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) {
#ifdef _WIN32
    WSACleanup();
#endif
    return nullptr;
  }
  Native s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == kInvalid || connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (s != kInvalid) CloseNativeSocket(s);
#ifdef _WIN32
    WSACleanup();
#endif
    return nullptr;
  }
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return std::unique_ptr<LinkSocket>(new LinkSocket(static_cast<std::intptr_t>(s)));
}

LinkSocket::~LinkSocket() {
  CloseNativeSocket(AsNative(fd_));
#ifdef _WIN32
  WSACleanup();
#endif
}

bool LinkSocket::SendLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(sendMutex_);
  auto sendAll = [this](const char* p, std::size_t n) {
    while (n > 0) {
      int sent = ::send(AsNative(fd_), p, static_cast<int>(n), kSendFlags);
      if (sent <= 0) return false;
      p += sent;
      n -= static_cast<std::size_t>(sent);
    }
    return true;
  };
  return sendAll(line.data(), line.size()) && sendAll("\n", 1);
}

bool LinkSocket::ReadLine(std::string& line) {
  line.clear();
  for (;;) {
    for (std::size_t i = begin_; i < end_; ++i) {
      if (buf_[i] == '\n') {
        line.append(buf_ + begin_, i - begin_);
        begin_ = i + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
      }
    }
    line.append(buf_ + begin_, end_ - begin_);
    begin_ = end_ = 0;
    int n = ::recv(AsNative(fd_), buf_, sizeof buf_, 0);
    if (n <= 0) return false;
    end_ = static_cast<std::size_t>(n);
  }
}

void LinkSocket::Shutdown() {
  ::shutdown(AsNative(fd_), kShutBoth);
}

}  // namespace vlink
