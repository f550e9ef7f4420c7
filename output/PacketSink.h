#pragma once
// Where the TUIO publisher hands every packet it has just sent over UDP.
#include <cstddef>

class PacketSink {
 public:
  virtual ~PacketSink() = default;
  // Called on the thread that publishes (the reader thread) right after the
  // UDP send: must neither wait on a client nor allocate.
  virtual void OfferPacket(const char* data, std::size_t size) = 0;
};
