#pragma once
// What the socket files (posix/, win32/, the simulator's link) share over
// the platform's own socket headers: the native socket type, the IPv4
// addresses they build, a socket's bound port, and what the listen code
// they share (SocketListen.cpp) asks of each platform.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstring>
#include <string>

namespace platform {

#ifdef _WIN32
using NativeSocket = SOCKET;
constexpr NativeSocket kInvalidNativeSocket = INVALID_SOCKET;
inline void CloseNativeSocket(NativeSocket s) {
  ::closesocket(s);
}
#else
using NativeSocket = int;
constexpr NativeSocket kInvalidNativeSocket = -1;
inline void CloseNativeSocket(NativeSocket s) {
  ::close(s);
}
#endif
inline NativeSocket AsNativeSocket(std::intptr_t s) {
  return static_cast<NativeSocket>(s);
}

// What each platform's socket file gives the listen code they share: a TCP
// socket that does not block, with the platform's options for a listener
// (kInvalidNativeSocket on failure), and the system's text for the error of
// the last failed socket call.
NativeSocket NewListeningSocket();
std::string LastSocketError();

// `address` (host order: INADDR_ANY, INADDR_LOOPBACK) at `port`.
inline sockaddr_in Ipv4Address(std::uint32_t address, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(address);
  a.sin_port = htons(port);
  return a;
}

// `host` (dotted IPv4 or a host name) at `port`; false if it does not resolve.
inline bool ResolveIpv4(const char* host, std::uint16_t port, sockaddr_in& out) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return false;
  std::memcpy(&out, found->ai_addr, sizeof out);
  ::freeaddrinfo(found);
  out.sin_port = htons(port);
  return true;
}

// The local port `s` is bound to, or 0.
inline std::uint16_t BoundPort(NativeSocket s) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

}  // namespace platform
