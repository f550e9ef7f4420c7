#include "platform/Socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>
#include <string>

#include "platform/Ipv4Address.h"
#include "platform/SocketNative.h"

namespace platform {
namespace {

SOCKET AsSocket(SocketHandle s) {
  return static_cast<SOCKET>(s);
}
SocketHandle AsHandle(SOCKET s) {
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

// The system's message for a Winsock error code, without the line end.
std::string ErrorText(int code) {
  char text[256] = {};
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, DWORD(code), 0, text, sizeof text, nullptr);
  std::string s(text, n);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s.empty() ? "error " + std::to_string(code) : s;
}

}  // namespace

bool StartSockets() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 0), &data) != 0) return false;
  if (data.wVersion != MAKEWORD(2, 0)) {
    WSACleanup();
    return false;
  }
  return true;
}

void StopSockets() {
  WSACleanup();
}

NativeSocket NewListeningSocket() {
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return s;
  u_long nonBlocking = 1;
  ::ioctlsocket(s, FIONBIO, &nonBlocking);
  // No SO_REUSEADDR: on Windows it would let two listeners share the port.
  return s;
}

std::string LastSocketError() {
  return ErrorText(WSAGetLastError());
}

std::uint16_t LocalPort(SocketHandle s) {
  return BoundPort(AsSocket(s));
}

int WaitReadable(SocketHandle s, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(AsSocket(s), &set);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int rc = ::select(0, &set, nullptr, nullptr, &tv);
  if (rc == SOCKET_ERROR) return -1;
  return rc > 0 ? 1 : 0;
}

bool OpenWakeSocket(WakeSocket& w) {
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return false;
  sockaddr_in a = Ipv4Address(INADDR_LOOPBACK, 0);
  int len = sizeof a;
  u_long nonBlocking = 1;
  // Bound to a free loopback port and connected to itself: it receives only
  // its own pokes, never another program's datagrams.
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
      ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    ::closesocket(s);
    return false;
  }
  w.read = w.write = AsHandle(s);
  return true;
}

void CloseWakeSocket(WakeSocket& w) {
  CloseSocket(w.read);
  w = WakeSocket{};
}

void PokeWakeSocket(const WakeSocket& w) {
  const char one = 1;
  // A full queue already wakes the waiter: a failed send loses nothing.
  if (w.write != kInvalidSocket) (void)::send(AsSocket(w.write), &one, 1, 0);
}

void DrainWakeSocket(const WakeSocket& w) {
  char buffer[64];
  while (w.read != kInvalidSocket && ::recv(AsSocket(w.read), buffer, sizeof buffer, 0) > 0) {
  }
}

int WaitReadableOrWoken(SocketHandle s, const WakeSocket& wake, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(AsSocket(s), &set);
  if (wake.read != kInvalidSocket) FD_SET(AsSocket(wake.read), &set);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int rc = ::select(0, &set, nullptr, nullptr, timeoutMs < 0 ? nullptr : &tv);
  if (rc == SOCKET_ERROR) return -1;
  if (rc == 0) return 0;
  return (FD_ISSET(AsSocket(s), &set) ? kSocketReadable : 0) |
         (wake.read != kInvalidSocket && FD_ISSET(AsSocket(wake.read), &set) ? kWoken : 0);
}

int WaitSockets(SocketWait* items, std::size_t count, int timeoutMs) {
  // select takes at most FD_SETSIZE (64) sockets per set.
  if (count > 60) return -1;
  fd_set readSet, writeSet, errorSet;
  FD_ZERO(&readSet);
  FD_ZERO(&writeSet);
  FD_ZERO(&errorSet);
  for (std::size_t i = 0; i < count; ++i) {
    if (items[i].read) FD_SET(AsSocket(items[i].s), &readSet);
    if (items[i].write) FD_SET(AsSocket(items[i].s), &writeSet);
    FD_SET(AsSocket(items[i].s), &errorSet);
  }
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int rc = ::select(0, &readSet, &writeSet, &errorSet, timeoutMs < 0 ? nullptr : &tv);
  if (rc == SOCKET_ERROR) return -1;
  for (std::size_t i = 0; i < count; ++i) {
    const SOCKET s = AsSocket(items[i].s);
    items[i].readable = FD_ISSET(s, &readSet) || FD_ISSET(s, &errorSet);
    items[i].writable = FD_ISSET(s, &writeSet) != 0;
  }
  return rc;
}

SocketHandle AcceptConnection(SocketHandle listener, int sendBufferBytes) {
  const SOCKET s = ::accept(AsSocket(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  u_long nonBlocking = 1;
  ::ioctlsocket(s, FIONBIO, &nonBlocking);
  BOOL one = TRUE;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  if (sendBufferBytes > 0)
    ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBufferBytes),
                 sizeof sendBufferBytes);
  return AsHandle(s);
}

bool PeerIpv4(SocketHandle s, std::uint32_t& address) {
  sockaddr_in a{};
  socklen_t size = sizeof a;
  if (::getpeername(AsSocket(s), reinterpret_cast<sockaddr*>(&a), &size) != 0 ||
      a.sin_family != AF_INET)
    return false;
  address = ntohl(a.sin_addr.s_addr);
  return true;
}

SocketHandle ConnectTcp(const char* host, std::uint16_t port) {
  sockaddr_in a;
  if (!ResolveIpv4(host, port, a)) return kInvalidSocket;
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::closesocket(s);
    return kInvalidSocket;
  }
  return AsHandle(s);
}

long Receive(SocketHandle s, char* buffer, std::size_t size) {
  const int n = ::recv(AsSocket(s), buffer, int(size), 0);
  if (n >= 0) return n;
  return WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kReceiveError;
}

long SendSome(SocketHandle s, const char* data, std::size_t size) {
  const int n = ::send(AsSocket(s), data, int(size), 0);
  if (n >= 0) return n;
  return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

void ShutdownSocket(SocketHandle s) {
  if (s != kInvalidSocket) ::shutdown(AsSocket(s), SD_BOTH);
}

void CloseSocket(SocketHandle s) {
  if (s != kInvalidSocket) ::closesocket(AsSocket(s));
}

}  // namespace platform
