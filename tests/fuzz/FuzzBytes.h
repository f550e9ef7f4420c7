#pragma once
// Reads a fuzzer's input front to back; past its end every read gives zeros,
// so a short input still makes a whole case.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzz {

class FuzzBytes {
 public:
  FuzzBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return at_ >= size_; }
  std::size_t left() const { return empty() ? 0 : size_ - at_; }

  std::uint8_t byte() {
    std::uint8_t b = 0;
    take(&b, 1);
    return b;
  }
  std::uint16_t u16() {
    const std::uint8_t lo = byte();
    return static_cast<std::uint16_t>(lo | byte() << 8);
  }
  // Copies up to n bytes, zero-filling what the input lacks.
  void take(void* out, std::size_t n) {
    const std::size_t have = std::min(n, left());
    if (have > 0) std::memcpy(out, data_ + at_, have);
    std::memset(static_cast<std::uint8_t*>(out) + have, 0, n - have);
    at_ += n;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace fuzz
