#pragma once
// What became of a handle's writes, by number. A handle numbers the writes
// it accepts 1, 2, 3, ...; a sender waits for its own number, so a write
// that hangs or fails late is charged to nobody else. The fates of the last
// 64 are kept: a handle never has more than 32 in flight, so a number that
// fell out of the window ended long ago (its fate is reported as failed,
// unknown). Not locked: each backend guards it with its handle's lock.
#include <array>
#include <cstdint>

#include "platform/Hid.h"

namespace platform {

class WriteLedger {
 public:
  static constexpr std::uint64_t kKept = 64;

  // A new write is in flight; its number.
  std::uint64_t Issue() {
    const std::uint64_t id = ++last_;
    fate_[id % kKept] = Fate::kInFlight;
    ++inFlight_;
    return id;
  }
  // Write `id` ended; a second end of the same write is ignored.
  void End(std::uint64_t id, bool ok) {
    if (!Kept(id) || fate_[id % kKept] != Fate::kInFlight) return;
    fate_[id % kKept] = ok ? Fate::kDone : Fate::kFailed;
    --inFlight_;
  }
  // The oldest write in flight ended: for backends that complete writes in
  // the order they were accepted.
  void EndOldest(bool ok) {
    for (std::uint64_t id = last_ - inFlight_ + 1; inFlight_ > 0 && id <= last_; ++id) {
      if (fate_[id % kKept] != Fate::kInFlight) continue;
      End(id, ok);
      return;
    }
  }
  // Every write in flight failed (the handle closed, the device went).
  void FailAll() {
    for (std::uint64_t id = last_ >= kKept ? last_ - kKept + 1 : 1; id <= last_; ++id)
      End(id, false);
  }

  // kTimedOut while in flight, kCompleted when it reached the device,
  // kFailed when it was refused after acceptance or is unknown.
  HidIoStatus Status(std::uint64_t id) const {
    if (!Kept(id)) return HidIoStatus::kFailed;
    switch (fate_[id % kKept]) {
      case Fate::kInFlight:
        return HidIoStatus::kTimedOut;
      case Fate::kDone:
        return HidIoStatus::kCompleted;
      default:
        return HidIoStatus::kFailed;
    }
  }

 private:
  enum class Fate : std::uint8_t { kInFlight, kDone, kFailed };
  bool Kept(std::uint64_t id) const { return id != 0 && id <= last_ && last_ - id < kKept; }

  std::array<Fate, kKept> fate_{};
  std::uint64_t last_ = 0;
  std::size_t inFlight_ = 0;  // for EndOldest
};

}  // namespace platform
