#pragma once
// A control connection to the frame simulator: one command line out, its
// answer lines back (the last is "ok ..." or "err ..."). Works in both builds.
#include <cstdint>
#include <string>
#include <vector>

namespace pelladex_test {

class SimControl {
 public:
  SimControl() = default;
  ~SimControl();
  SimControl(const SimControl&) = delete;
  SimControl& operator=(const SimControl&) = delete;

  // Connects to FRAMESIM_ADDR ("127.0.0.1:PORT"); false if unset or refused.
  bool connectFromEnvironment();
  // Sends `line`; returns the final answer line and puts any lines before it
  // into `before`. Empty on a broken connection.
  std::string command(const std::string& line, std::vector<std::string>* before = nullptr);

 private:
  bool readLine(std::string& line);
  std::intptr_t socket_ = -1;
  std::string pending_;
};

}  // namespace pelladex_test
