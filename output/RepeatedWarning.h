#pragma once
// A warning that can come many times a second (refused connections, clients
// closed for flooding): the first is traced at once, later ones are counted
// and traced with their count at most once a second, so a storm of 500
// connections costs a few lines instead of 500.
#include <cstdint>

class RepeatedWarning {
 public:
  static constexpr std::int64_t kIntervalMs = 1000;

  // `summary`: what the counted ones are ("connections refused, every place
  // taken"), traced with their count.
  explicit RepeatedWarning(const char* summary) : summary_(summary) {}
  const char* Summary() const { return summary_; }

  // Counts one; true when a line is due now, `count` then being how many
  // it stands for.
  bool Note(std::int64_t nowMs, std::uint32_t& count) {
    ++pending_;
    return Due(nowMs, count);
  }
  // True when counted ones wait and their line is due.
  bool Due(std::int64_t nowMs, std::uint32_t& count) {
    if (pending_ == 0 || (traced_ && nowMs - lastMs_ < kIntervalMs)) return false;
    count = pending_;
    pending_ = 0;
    lastMs_ = nowMs;
    traced_ = true;
    return true;
  }
  bool Pending() const { return pending_ != 0; }

 private:
  const char* summary_;
  std::int64_t lastMs_ = 0;
  bool traced_ = false;
  std::uint32_t pending_ = 0;
};
