#include "output/TuioPublisher.h"

#include <algorithm>
#include <exception>
#include <iostream>

#include "ip/IpEndpointName.h"
#include "ip/UdpSocket.h"
#include "osc/OscException.h"
#include "osc/OscOutboundPacketStream.h"

namespace TUIO {
namespace {

constexpr const char* kCursorProfile = "/tuio/2Dcur";
constexpr const char* kObjectProfile = "/tuio/2Dobj";
// Live cursors come from at most a few dozen touches; reserving this many
// keeps the cursor lists from allocating while touches come and go.
constexpr std::size_t kReservedCursors = 64;

}  // namespace

TuioPublisher::TuioPublisher(const char* host, int port, int capacity, PacketSink* streams,
                             std::atomic<std::uint64_t>* sent)
    : streams_(streams), sent_(sent), capacity_(std::clamp(capacity, kMinCapacity, kMaxCapacity)) {
  cursors_.reserve(kReservedCursors);
  spare_.reserve(kReservedCursors);
  try {
    sender_ = std::make_unique<UdpTransmitSocket>(IpEndpointName(host, port));
    buffer_ = std::make_unique<char[]>(static_cast<std::size_t>(capacity_));
    stream_ = std::make_unique<osc::OutboundPacketStream>(buffer_.get(), capacity_);
  } catch (const std::exception&) {
    std::cout << "could not create socket" << std::endl;
    sender_.reset();
    stream_.reset();
    buffer_.reset();
  }

  frameTime_ = SessionTime::Current();
  idleCursorSecond_ = frameTime_.seconds;
  idleObjectSecond_ = frameTime_.seconds;

  sendAliveBundle(kCursorProfile, {}, -1);
  sendAliveBundle(kObjectProfile, {}, -1);
}

TuioPublisher::~TuioPublisher() {
  sendAliveBundle(kCursorProfile, {}, -1);
  sendAliveBundle(kObjectProfile, {}, -1);
}

void TuioPublisher::openFrame(SessionTime t) {
  frameTime_ = t;
  ++frameNumber_;
}

TuioCursor* TuioPublisher::addCursor(float x, float y) {
  const std::int32_t id = ++lastSessionId_;
  std::unique_ptr<TuioCursor> c;
  if (spare_.empty()) {
    c = std::make_unique<TuioCursor>(id, frameTime_, x, y);
  } else {
    c = std::move(spare_.back());
    spare_.pop_back();
    *c = TuioCursor(id, frameTime_, x, y);
  }
  cursors_.push_back(std::move(c));
  cursorChanged_ = true;
  return cursors_.back().get();
}

void TuioPublisher::moveCursor(TuioCursor* c, float x, float y) {
  // One sample per cursor per frame: a second report in the same frame, or
  // a frame whose tick did not advance, would divide by a zero interval.
  if (c == nullptr || c->time() == frameTime_) return;
  c->moveTo(frameTime_, x, y);
  cursorChanged_ = true;
}

void TuioPublisher::removeCursor(TuioCursor* c) {
  if (c == nullptr) return;
  auto it = std::find_if(cursors_.begin(), cursors_.end(),
                         [c](const std::unique_ptr<TuioCursor>& p) { return p.get() == c; });
  if (it == cursors_.end()) return;  // not one of ours (or already removed)
  std::unique_ptr<TuioCursor> owned = std::move(*it);
  cursors_.erase(it);
  owned->retire(frameTime_);
  cursorChanged_ = true;
  spare_.push_back(std::move(owned));
}

void TuioPublisher::settleUntouchedCursors() {
  for (auto& c : cursors_) {
    if (c->time() != frameTime_ && c->isInMotion()) {
      c->hold(frameTime_);
      cursorChanged_ = true;
    }
  }
}

void TuioPublisher::publishFrame() {
  if (cursorChanged_) {
    beginCursorBundle();
    for (auto& c : cursors_) {
      if (stream_ && capacity_ - static_cast<int>(stream_->Size()) < kSetAndFseqRoom) {
        finishCursorBundle(frameNumber_);
        beginCursorBundle();
      }
      if (c->time() == frameTime_ && stream_ && !streamFailed_) {
        try {
          *stream_ << osc::BeginMessage(kCursorProfile) << "set"
                   << static_cast<osc::int32>(c->sessionId()) << c->x() << c->y() << c->xSpeed()
                   << c->ySpeed() << c->motionAccel() << osc::EndMessage;
        } catch (const osc::Exception&) {
          streamFailed_ = true;
        }
      }
    }
    finishCursorBundle(frameNumber_);
  } else if (idleCursorSecond_ < frameTime_.seconds) {
    idleCursorSecond_ = frameTime_.seconds;
    beginCursorBundle();
    finishCursorBundle(frameNumber_);
  }
  cursorChanged_ = false;

  if (idleObjectSecond_ < frameTime_.seconds) {
    idleObjectSecond_ = frameTime_.seconds;
    sendAliveBundle(kObjectProfile, objects_, frameNumber_);
  }
  objectChanged_ = false;
}

void TuioPublisher::sendAliveBundle(const char* profile, const std::vector<TuioContainer*>& alive,
                                    std::int32_t fseq) {
  if (!stream_) return;
  stream_->Clear();
  try {
    *stream_ << osc::BeginBundleImmediate << osc::BeginMessage(profile) << "alive";
    for (const TuioContainer* o : alive) *stream_ << static_cast<osc::int32>(o->sessionId());
    *stream_ << osc::EndMessage << osc::BeginMessage(profile) << "fseq"
             << static_cast<osc::int32>(fseq) << osc::EndMessage << osc::EndBundle;
  } catch (const osc::Exception&) {
    return;
  }
  send();
}

void TuioPublisher::beginCursorBundle() {
  if (!stream_) return;
  stream_->Clear();
  streamFailed_ = false;
  try {
    *stream_ << osc::BeginBundleImmediate << osc::BeginMessage(kCursorProfile) << "alive";
    for (auto& c : cursors_) *stream_ << static_cast<osc::int32>(c->sessionId());
    *stream_ << osc::EndMessage;
  } catch (const osc::Exception&) {
    // More cursors than one packet can list: this bundle is dropped.
    streamFailed_ = true;
  }
}

void TuioPublisher::finishCursorBundle(std::int32_t fseq) {
  if (!stream_ || streamFailed_) return;
  try {
    *stream_ << osc::BeginMessage(kCursorProfile) << "fseq" << static_cast<osc::int32>(fseq)
             << osc::EndMessage << osc::EndBundle;
  } catch (const osc::Exception&) {
    streamFailed_ = true;
    return;
  }
  send();
}

void TuioPublisher::send() {
  if (!sender_) return;
  try {
    sender_->Send(stream_->Data(), stream_->Size());
    if (sent_) sent_->fetch_add(1, std::memory_order_relaxed);
  } catch (const std::exception&) {
    // A failed send is dropped; the next frame sends as usual.
  }
  // After the datagram has gone: the stream clients never delay it.
  if (streams_) streams_->OfferPacket(stream_->Data(), stream_->Size());
}

}  // namespace TUIO
