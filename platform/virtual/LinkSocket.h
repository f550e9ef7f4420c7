#pragma once
// A blocking loopback TCP connection that carries lines of the simulator
// link: Winsock on Windows, BSD sockets elsewhere.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace vlink {

class LinkSocket {
 public:
  // Null if nothing accepts on host:port.
  static std::unique_ptr<LinkSocket> Connect(const std::string& host, unsigned short port);
  ~LinkSocket();
  LinkSocket(const LinkSocket&) = delete;
  LinkSocket& operator=(const LinkSocket&) = delete;

  // Sends `line` and a line end; from any thread, whole lines never interleave.
  bool SendLine(const std::string& line);
  // Reads the next line (without its end) into `line`, reusing its storage.
  // False at the end of the stream or on an error. One reader at a time.
  bool ReadLine(std::string& line);
  // Ends the connection in both directions: a blocked readLine returns false.
  void Shutdown();

 private:
  explicit LinkSocket(std::intptr_t fd) : fd_(fd) {}
  std::intptr_t fd_;
  std::mutex sendMutex_;  // one line sent whole at a time
  char buf_[4096];
  std::size_t begin_ = 0, end_ = 0;
};

}  // namespace vlink
