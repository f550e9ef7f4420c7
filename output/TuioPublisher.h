#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "output/PacketSink.h"
#include "output/SessionTime.h"
#include "output/TuioContainer.h"

class UdpTransmitSocket;
namespace osc {
class OutboundPacketStream;
}

namespace TUIO {

// Publishes cursors as TUIO 1.1 "/tuio/2Dcur" bundles over UDP to one fixed
// receiver, and the (always empty) "/tuio/2Dobj" profile once per second.
//
// Per frame, from one thread: openFrame, any number of addCursor /
// moveCursor / removeCursor, settleUntouchedCursors, publishFrame. The
// publisher has no lock; whoever owns it serialises frames against its
// construction and destruction.
class TuioPublisher {
 public:
  static constexpr int kDefaultCapacity = 1500;
  static constexpr int kMinCapacity = 576;
  static constexpr int kMaxCapacity = 65536;
  // Room one cursor set message plus the closing fseq message need.
  static constexpr int kSetAndFseqRoom = 88;

  // Connects to (host, port) and sends the empty cursor and object bundles.
  // If the sender cannot be created, prints "could not create socket" and
  // carries on without sending. `capacity` is the packet size, clamped to
  // 576 .. 65536. Every packet sent is then offered to `streams` (if any),
  // which must outlive the publisher; every datagram sent counts in `sent`
  // (if any).
  TuioPublisher(const char* host, int port, int capacity = kDefaultCapacity,
                PacketSink* streams = nullptr, std::atomic<std::uint64_t>* sent = nullptr);
  // Sends the empty cursor and object bundles and discards every cursor.
  ~TuioPublisher();

  TuioPublisher(const TuioPublisher&) = delete;
  TuioPublisher& operator=(const TuioPublisher&) = delete;

  void openFrame(SessionTime t);
  TuioCursor* addCursor(float x, float y);
  void moveCursor(TuioCursor* c, float x, float y);
  void removeCursor(TuioCursor* c);
  void settleUntouchedCursors();
  void publishFrame();

  std::int32_t frameNumber() const { return frameNumber_; }
  SessionTime frameTime() const { return frameTime_; }
  int capacity() const { return capacity_; }
  bool hasSender() const { return sender_ != nullptr; }
  std::size_t cursorCount() const { return cursors_.size(); }
  const TuioCursor* cursorAt(std::size_t i) const { return cursors_[i].get(); }

 private:
  // A bundle of `profile` with only the alive list and fseq: the empty
  // bundles (nothing alive, fseq -1) and the object profile's bundle.
  void sendAliveBundle(const char* profile, const std::vector<TuioContainer*>& alive,
                       std::int32_t fseq);
  void beginCursorBundle();
  void finishCursorBundle(std::int32_t fseq);
  void send();

  std::vector<TuioContainer*> objects_;               // the object profile is always empty
  std::vector<std::unique_ptr<TuioCursor>> cursors_;  // in creation order
  std::vector<std::unique_ptr<TuioCursor>> spare_;    // removed, kept for reuse
  std::unique_ptr<UdpTransmitSocket> sender_;
  PacketSink* streams_ = nullptr;
  std::atomic<std::uint64_t>* sent_ = nullptr;
  int capacity_;
  std::unique_ptr<char[]> buffer_;
  std::unique_ptr<osc::OutboundPacketStream> stream_;
  bool streamFailed_ = false;  // the bundle being written did not fit
  std::int32_t frameNumber_ = -1;
  SessionTime frameTime_;
  bool objectChanged_ = false;
  bool cursorChanged_ = false;
  std::int32_t idleCursorSecond_ = 0;
  std::int32_t idleObjectSecond_ = 0;
  std::int32_t lastSessionId_ = -1;
};

}  // namespace TUIO
