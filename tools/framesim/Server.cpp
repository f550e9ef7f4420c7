#include "tools/framesim/Server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

namespace framesim {

namespace {

constexpr std::size_t kMaxLine = 8192;
// A client that reads nothing while this much waits for it is dropped.
constexpr std::size_t kMaxBacklog = 16u << 20;

struct Connection {
  int fd = -1;
  int id = 0;
  std::string in, out;
  bool closing = false;   // the simulator ended it: flush, then close
  bool overlong = false;  // discarding the rest of a line that was too long
};

std::uint64_t NowMs() {
  using namespace std::chrono;
  static const auto start = steady_clock::now();
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now() - start).count());
}

}  // namespace

Server::Server(Simulator& simulator) : sim_(simulator) {
  if (pipe(wakeFds_) == 0) {
    fcntl(wakeFds_[0], F_SETFL, O_NONBLOCK);
    fcntl(wakeFds_[1], F_SETFL, O_NONBLOCK);
  }
}

Server::~Server() {
  if (listenFd_ >= 0) close(listenFd_);
  for (int fd : wakeFds_)
    if (fd >= 0) close(fd);
}

bool Server::Listen(unsigned short port, std::string& error) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) return error = std::strerror(errno), false;
  int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listenFd_, 64) != 0) {
    error = std::string("cannot listen on 127.0.0.1:") + std::to_string(port) + ": " +
            std::strerror(errno);
    return false;
  }
  socklen_t len = sizeof addr;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  fcntl(listenFd_, F_SETFL, O_NONBLOCK);
  return true;
}

void Server::Stop() {
  stop_ = true;
  char b = 1;
  if (write(wakeFds_[1], &b, 1) < 0) {
    // The pipe is full: the loop wakes anyway.
  }
}

void Server::Run() {
  std::map<int, std::unique_ptr<Connection>> conns;  // by simulator id
  auto flush = [](Connection& c) {
    while (!c.out.empty()) {
      ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
      if (n <= 0) return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
      c.out.erase(0, static_cast<std::size_t>(n));
    }
    return true;
  };

  std::vector<pollfd> fds;
  std::vector<int> ids;
  while (!stop_ && !sim_.QuitRequested()) {
    sim_.Advance(NowMs());
    fds.clear();
    ids.clear();
    fds.push_back({listenFd_, POLLIN, 0});
    fds.push_back({wakeFds_[0], POLLIN, 0});
    std::vector<int> dead;
    for (auto& [id, c] : conns) {
      if (!c->out.empty() && !flush(*c))
        dead.push_back(id);
      else if (c->out.size() > kMaxBacklog)
        dead.push_back(id);
      else if (c->closing && c->out.empty())
        dead.push_back(id);
    }
    for (int id : dead) {
      close(conns[id]->fd);
      sim_.RemoveClient(id);
      conns.erase(id);
    }
    for (auto& [id, c] : conns) {
      fds.push_back({c->fd, static_cast<short>(POLLIN | (c->out.empty() ? 0 : POLLOUT)), 0});
      ids.push_back(id);
    }
    long long wait = sim_.MsUntilNext();
    int timeout = wait < 0 ? 1000 : static_cast<int>(std::min<long long>(wait, 1000));
    if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    sim_.Advance(NowMs());

    if (fds[1].revents & POLLIN) {
      char buf[64];
      while (read(wakeFds_[0], buf, sizeof buf) > 0) {
      }
    }
    if (fds[0].revents & POLLIN) {
      for (;;) {
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) break;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        Connection* raw = c.get();
        c->id = sim_.AddClient(
            [raw](const std::string& line) {
              if (raw->closing) return;
              raw->out += line;
              raw->out += '\n';
            },
            [raw] { raw->closing = true; });
        conns[c->id] = std::move(c);
      }
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
      auto it = conns.find(ids[i - 2]);
      if (it == conns.end()) continue;
      Connection& c = *it->second;
      if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
        char buf[4096];
        ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
          close(c.fd);
          sim_.RemoveClient(c.id);
          conns.erase(it);
          continue;
        }
        if (n > 0) c.in.append(buf, static_cast<std::size_t>(n));
        std::size_t start = 0, nl;
        while ((nl = c.in.find('\n', start)) != std::string::npos) {
          std::string line = c.in.substr(start, nl - start);
          start = nl + 1;
          if (c.overlong) {
            c.overlong = false;
            continue;
          }
          if (!c.closing) sim_.OnLine(c.id, line);
        }
        c.in.erase(0, start);
        if (c.in.size() > kMaxLine) {
          c.in.clear();
          if (!c.overlong) c.out += "err line too long\n";
          c.overlong = true;
        }
      }
    }
  }
  for (auto& [id, c] : conns) {
    flush(*c);
    close(c->fd);
    sim_.RemoveClient(id);
  }
}

}  // namespace framesim
