#include "platform/Socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/Ipv4Address.h"
#include "platform/SocketNative.h"

namespace platform {

bool StartSockets() {
  return true;
}
void StopSockets() {}

NativeSocket NewListeningSocket() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return kInvalidNativeSocket;
  // Lets a restarted service listen again while old connections linger in
  // TIME_WAIT; an active listener on the port still makes bind fail.
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  return fd;
}

std::string LastSocketError() {
  return std::strerror(errno);
}

std::uint16_t LocalPort(SocketHandle s) {
  return BoundPort(int(s));
}

int WaitReadable(SocketHandle s, int timeoutMs) {
  pollfd p{int(s), POLLIN, 0};
  const int rc = ::poll(&p, 1, timeoutMs);
  if (rc < 0) return errno == EINTR ? 0 : -1;
  if (rc == 0) return 0;
  return (p.revents & POLLNVAL) ? -1 : 1;
}

bool OpenWakeSocket(WakeSocket& w) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) return false;
  w.read = fds[0];
  w.write = fds[1];
  return true;
}

void CloseWakeSocket(WakeSocket& w) {
  CloseSocket(w.read);
  CloseSocket(w.write);
  w = WakeSocket{};
}

void PokeWakeSocket(const WakeSocket& w) {
  const char one = 1;
  // A full queue already wakes the waiter: a failed send loses nothing.
  if (w.write != kInvalidSocket) (void)::send(int(w.write), &one, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
}

void DrainWakeSocket(const WakeSocket& w) {
  char buffer[64];
  while (w.read != kInvalidSocket && ::recv(int(w.read), buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
  }
}

int WaitReadableOrWoken(SocketHandle s, const WakeSocket& wake, int timeoutMs) {
  pollfd p[2] = {{int(s), POLLIN, 0}, {int(wake.read), POLLIN, 0}};
  const int rc = ::poll(p, wake.read != kInvalidSocket ? 2 : 1, timeoutMs < 0 ? -1 : timeoutMs);
  if (rc < 0) return errno == EINTR ? 0 : -1;
  if (rc == 0) return 0;
  if (p[0].revents & POLLNVAL) return -1;
  return (p[0].revents ? kSocketReadable : 0) | (p[1].revents ? kWoken : 0);
}

int WaitSockets(SocketWait* items, std::size_t count, int timeoutMs) {
  pollfd p[64];
  if (count > 64) return -1;
  for (std::size_t i = 0; i < count; ++i) {
    p[i] = {int(items[i].s), short((items[i].read ? POLLIN : 0) | (items[i].write ? POLLOUT : 0)),
            0};
  }
  const int rc = ::poll(p, nfds_t(count), timeoutMs < 0 ? -1 : timeoutMs);
  if (rc < 0) return errno == EINTR ? 0 : -1;
  for (std::size_t i = 0; i < count; ++i) {
    const short r = p[i].revents;
    items[i].readable = (r & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
    items[i].writable = (r & POLLOUT) != 0;
  }
  return rc;
}

SocketHandle AcceptConnection(SocketHandle listener, int sendBufferBytes) {
  const int fd = ::accept4(int(listener), nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return kInvalidSocket;
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (sendBufferBytes > 0)
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBufferBytes, sizeof sendBufferBytes);
  return fd;
}

bool PeerIpv4(SocketHandle s, std::uint32_t& address) {
  sockaddr_in a{};
  socklen_t size = sizeof a;
  if (::getpeername(int(s), reinterpret_cast<sockaddr*>(&a), &size) != 0 || a.sin_family != AF_INET)
    return false;
  address = ntohl(a.sin_addr.s_addr);
  return true;
}

SocketHandle ConnectTcp(const char* host, std::uint16_t port) {
  sockaddr_in a;
  if (!ResolveIpv4(host, port, a)) return kInvalidSocket;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kInvalidSocket;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return kInvalidSocket;
  }
  return fd;
}

long Receive(SocketHandle s, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::recv(int(s), buffer, size, MSG_DONTWAIT);
    if (n >= 0) return long(n);
    if (errno == EINTR) continue;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? kWouldBlock : kReceiveError;
  }
}

long SendSome(SocketHandle s, const char* data, std::size_t size) {
  for (;;) {
    // MSG_NOSIGNAL: a client that went away gives an error, not SIGPIPE.
    const ssize_t n = ::send(int(s), data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) return long(n);
    if (errno == EINTR) continue;
    return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
  }
}

void ShutdownSocket(SocketHandle s) {
  if (s != kInvalidSocket) ::shutdown(int(s), SHUT_RDWR);
}

void CloseSocket(SocketHandle s) {
  if (s != kInvalidSocket) ::close(int(s));
}

}  // namespace platform
