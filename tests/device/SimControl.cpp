#include "SimControl.h"

#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketLen = int;
static void CloseSocket(std::intptr_t s) {
  closesocket(static_cast<SOCKET>(s));
}
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
static void CloseSocket(std::intptr_t s) {
  ::close(static_cast<int>(s));
}
#endif

namespace pelladex_test {

SimControl::~SimControl() {
  if (socket_ != -1) CloseSocket(socket_);
}

bool SimControl::connectFromEnvironment() {
  const char* addr = std::getenv("FRAMESIM_ADDR");
  if (addr == nullptr) return false;
  const char* colon = std::strrchr(addr, ':');
  if (colon == nullptr) return false;
  const int port = std::atoi(colon + 1);
#ifdef _WIN32
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return false;
#endif
  const auto s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
#ifdef _WIN32
  if (s == INVALID_SOCKET) return false;
#else
  if (s < 0) return false;
#endif
  socket_ = static_cast<std::intptr_t>(s);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<unsigned short>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return ::connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool SimControl::readLine(std::string& line) {
  for (;;) {
    const std::size_t end = pending_.find('\n');
    if (end != std::string::npos) {
      line = pending_.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      pending_.erase(0, end + 1);
      return true;
    }
    char buf[4096];
    const auto n = ::recv(socket_, buf, sizeof buf, 0);
    if (n <= 0) return false;
    pending_.append(buf, static_cast<std::size_t>(n));
  }
}

std::string SimControl::command(const std::string& line, std::vector<std::string>* before) {
  if (socket_ == -1) return "";
  const std::string out = line + "\n";
  if (::send(socket_, out.data(), static_cast<int>(out.size()), 0) !=
      static_cast<int>(out.size())) {
    return "";
  }
  std::string answer;
  while (readLine(answer)) {
    if (answer.compare(0, 2, "ok") == 0 || answer.compare(0, 3, "err") == 0) return answer;
    if (before != nullptr) before->push_back(answer);
  }
  return "";
}

}  // namespace pelladex_test
