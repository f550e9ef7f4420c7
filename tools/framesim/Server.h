#pragma once
// The simulator's loopback TCP server: one poll loop that moves lines between
// client sockets and the Simulator, and drives its clock.
#include <atomic>
#include <string>

#include "tools/framesim/Simulator.h"

namespace framesim {

class Server {
 public:
  explicit Server(Simulator& simulator);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Listens on 127.0.0.1:`port` (0: a free port of the system's choice).
  bool Listen(unsigned short port, std::string& error);
  unsigned short Port() const { return port_; }
  // Serves until a client sends "quit" or Stop() is called.
  void Run();
  // From any thread.
  void Stop();

 private:
  Simulator& sim_;
  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};
  unsigned short port_ = 0;
  std::atomic<bool> stop_{false};
};

}  // namespace framesim
