#pragma once
// A UDP socket of the benchmarks' receivers, bound to a free loopback port.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

inline int BindLoopbackUdp(std::uint16_t& port) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  return fd;
}
