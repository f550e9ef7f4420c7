#pragma once
// The one temporary settings file of the tests: named after the running
// test, in the test's temporary folder, absent at the start and removed at
// the end. The name also carries a random part: two trees' suites may run
// the same test at the same time, and the folder is the machine's.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace testsupport {

class TempSettings {
 public:
  TempSettings() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = ::testing::TempDir() + "vantrel_" + (info ? info->name() : "settings") + "_" +
            std::to_string(std::random_device{}()) + ".ini";
    std::remove(path_.c_str());
  }
  ~TempSettings() { std::remove(path_.c_str()); }
  TempSettings(const TempSettings&) = delete;
  TempSettings& operator=(const TempSettings&) = delete;

  const std::string& path() const { return path_; }
  void Write(const std::string& text) const { std::ofstream(path_, std::ios::binary) << text; }
  std::string Contents() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

 private:
  std::string path_;
};

}  // namespace testsupport
