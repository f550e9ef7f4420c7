#include "tests/support/LineClient.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketLength = int;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>

namespace testsupport {
namespace {

#ifdef _WIN32
void CloseSocket(long long fd) {
  closesocket(static_cast<SOCKET>(fd));
}
bool Readable(long long fd, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(static_cast<SOCKET>(fd), &set);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return select(0, &set, nullptr, nullptr, &tv) > 0;
}
#else
void CloseSocket(long long fd) {
  ::close(static_cast<int>(fd));
}
bool Readable(long long fd, int timeoutMs) {
  pollfd p{static_cast<int>(fd), POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) > 0;
}
#endif

}  // namespace

LineClient::~LineClient() {
  if (fd_ >= 0) CloseSocket(fd_);
}

bool LineClient::Connect(const std::string& address) {
#ifdef _WIN32
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
#endif
  const auto colon = address.rfind(':');
  if (colon == std::string::npos) return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<unsigned short>(std::atoi(address.c_str() + colon + 1)));
  sa.sin_addr.s_addr = htonl(0x7F000001);
  const auto s = socket(AF_INET, SOCK_STREAM, 0);
#ifdef _WIN32
  if (s == INVALID_SOCKET) return false;
#else
  if (s < 0) return false;
#endif
  fd_ = static_cast<long long>(s);
  return connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool LineClient::SendLine(const std::string& line) {
  const std::string data = line + "\n";
  std::size_t done = 0;
  while (done < data.size()) {
    const int n =
        static_cast<int>(send(fd_, data.data() + done, static_cast<int>(data.size() - done), 0));
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool LineClient::ReadLine(std::string& line, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto nl = pending_.find('\n');
    if (nl != std::string::npos) {
      line = pending_.substr(0, nl);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      pending_.erase(0, nl + 1);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0 || !Readable(fd_, static_cast<int>(left))) return false;
    char buf[4096];
    const int n = static_cast<int>(recv(fd_, buf, sizeof buf, 0));
    if (n <= 0) return false;
    pending_.append(buf, static_cast<std::size_t>(n));
  }
}

std::string LineClient::Command(const std::string& command, std::vector<std::string>* body) {
  if (!SendLine(command)) return "err send failed";
  std::string line;
  while (ReadLine(line)) {
    if (line.compare(0, 2, "ok") == 0 || line.compare(0, 3, "err") == 0) return line;
    if (body) body->push_back(line);
  }
  return "err no answer";
}

}  // namespace testsupport
