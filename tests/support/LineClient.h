#pragma once
// A blocking line client on loopback TCP, for tests that drive a peer by a
// text protocol (the frame simulator's control connection). Both builds.
#include <string>
#include <vector>

namespace testsupport {

class LineClient {
 public:
  LineClient() = default;
  ~LineClient();
  LineClient(const LineClient&) = delete;
  LineClient& operator=(const LineClient&) = delete;

  // "127.0.0.1:PORT".
  bool Connect(const std::string& address);
  bool SendLine(const std::string& line);
  // The next line without its end; false on timeout or a closed connection.
  bool ReadLine(std::string& line, int timeoutMs = 5000);
  // Sends `command` and collects lines until one starting with "ok" or "err";
  // returns that one, the lines before it in `body`.
  std::string Command(const std::string& command, std::vector<std::string>* body = nullptr);

 private:
  long long fd_ = -1;
  std::string pending_;
};

}  // namespace testsupport
