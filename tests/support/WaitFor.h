#pragma once
// The one wait of the tests: polls `ready()` until it holds or `timeoutMs`
// pass. Every test that waits for another thread or process uses it.
#include <chrono>
#include <thread>

namespace testsupport {

template <typename F>
bool WaitFor(F ready, int timeoutMs = 3000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace testsupport
