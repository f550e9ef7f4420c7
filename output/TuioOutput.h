#pragma once
// Touch records to TUIO publisher frames: one cursor per touched slot or
// contact id, coordinates scaled to the normalised range.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "common/TouchRecords.h"
#include "output/CoordinateScale.h"  // the scales applied to every record
#include "output/TuioPublisher.h"

// What a slot's state code asks of its cursor.
enum class SlotAction { kNone, kAdd, kMove, kRemove };

// The rule shared by slots and contacts: a down adds a cursor unless the
// slot has one, a move moves an existing cursor, an up removes it; anything
// else, or a code that does not fit the slot's cursor, does nothing.
constexpr SlotAction SlotRule(std::uint32_t state, bool hasCursor) {
  switch (state) {
    case TOUCH_DOWN:
      return hasCursor ? SlotAction::kNone : SlotAction::kAdd;
    case TOUCH_MOVE:
      return hasCursor ? SlotAction::kMove : SlotAction::kNone;
    case TOUCH_UP:
      return hasCursor ? SlotAction::kRemove : SlotAction::kNone;
    default:
      return SlotAction::kNone;
  }
}

// No lock: its owner (TouchOutputs) serialises updates against start/stop.
class TuioOutput : public TuioTouchSink {
 public:
  ~TuioOutput() override;

  // Clears all cursors; with protocol "UDP" (exactly) builds a fresh
  // publisher towards host:port (frame numbers and session ids start over),
  // any other protocol leaves the output silent.
  void startTuioOutput(const char* protocol, const char* host, int port);
  // Destroys the publisher (its empty bundles tell receivers that no cursor
  // is alive) and forgets every cursor.
  void stopTuioOutput();

  void setSeries01xx(bool series01xx) { series01xx_ = series01xx; }
  // Where publishers built from now on also hand their packets.
  void setStreams(PacketSink* streams) { streams_ = streams; }
  // The time each frame is opened with; the session time unless a test or
  // benchmark steps time itself.
  void setClock(TUIO::SessionTime (*now)()) { now_ = now; }

  // One publisher frame per 2- or 4-point record.
  void updateFromFrame(const TouchFrame& frame) override;
  // One frame opened per table entry (32), all with the time read once at
  // the start, the last one published. `count` is not used: all 32 entries
  // are walked.
  void updateFromTable(const ContactTable& table, std::uint16_t count) override;

  const TUIO::TuioPublisher* publisher() const { return publisher_.get(); }

  // For the status answer, from any thread: datagrams sent, touches
  // published (each finger down: one cursor session), cursors alive now.
  std::uint64_t datagrams() const { return datagrams_.load(std::memory_order_relaxed); }
  std::uint64_t touches() const { return touches_.load(std::memory_order_relaxed); }
  std::uint32_t touchesDown() const { return down_.load(std::memory_order_relaxed); }

 private:
  void apply(std::uint32_t state, float x, float y, TUIO::TuioCursor*& cursor);
  // Settles the frame, publishes it, and notes how many cursors are alive.
  void publish();

  std::unique_ptr<TUIO::TuioPublisher> publisher_;
  bool series01xx_ = false;
  PacketSink* streams_ = nullptr;
  TUIO::SessionTime (*now_)() = &TUIO::SessionTime::Current;
  std::array<TUIO::TuioCursor*, 4> slotCursors_{};
  std::array<TUIO::TuioCursor*, kContactTableSize> contactCursors_{};
  // Relaxed counters: the per-report path pays an increment, no lock.
  std::atomic<std::uint64_t> datagrams_{0};
  std::atomic<std::uint64_t> touches_{0};
  std::atomic<std::uint32_t> down_{0};
};
