#pragma once
// A command as the frame sees it: the bytes of a 64-byte report up to the
// last non-zero one, so tests compare what was written, not the padding.
#include <cstdint>
#include <vector>

namespace testsupport {

inline std::vector<std::uint8_t> Trimmed(const std::uint8_t* c) {
  int n = 64;
  while (n > 1 && c[n - 1] == 0) --n;
  return std::vector<std::uint8_t>(c, c + n);
}

}  // namespace testsupport
