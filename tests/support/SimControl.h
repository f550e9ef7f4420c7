#pragma once
// The frame simulator from a test: the one FRAMESIM_ADDR names, or natively
// (VANTREL_INPROCESS_SIM) one served on a thread of the test itself; driven
// over its control connection.
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class SimControl {
 public:
  SimControl();
  // Another control connection to the simulator at `address`.
  explicit SimControl(const std::string& address);
  ~SimControl();
  const std::string& address() const { return address_; }
  bool connected() const;
  // Sends one command; returns every line of the answer, the last being
  // "ok ..." or "err ...".
  std::vector<std::string> command(const std::string& line);
  // The answer's last line.
  std::string last(const std::string& line);
  // Interface path of collection `col` of frame `name` (0: its only one).
  std::string path(const std::string& name, int col);

 private:
  void connect();
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string address_;
};

}  // namespace testsupport
