#pragma once
// What the service tells about itself on its HTTP port (the status object
// and the metrics): one plain copy of every figure, filled by the parts that
// own them (the pipeline its frame, the outputs their counters) whenever it
// is asked for, never on the per-report path.
#include <chrono>
#include <cstdint>
#include <string>

// The product's version, as the About box shows it.
constexpr const char* kServiceVersion = "1.1.4.9";

// Seconds since the epoch, for the times the status tells (a frame's
// arrival, a fault): the wall clock, which people compare with their own.
inline double WallClockSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// What went wrong with the frame. A frame being closed (unplugged, the
// service ending) answers reads and writes with errors too: those are no
// fault. One list makes the enumerators, their count and both names:
// F(enumerator, name in the status object, label value of the metrics).
// clang-format off
#define FRAME_FAULT_LIST(F) \
  F(kNone, "none", "none") \
  F(kReadError, "read error", "read_error") \
  F(kWriteRefused, "write refused", "write_refused") \
  F(kSleep, "sleep", "sleep")
// clang-format on

#define FRAME_FAULT_ENUMERATOR(e, name, label) e,
enum class FrameFault : std::uint8_t { FRAME_FAULT_LIST(FRAME_FAULT_ENUMERATOR) };
#undef FRAME_FAULT_ENUMERATOR
#define FRAME_FAULT_ONE(e, name, label) +1
constexpr int kFrameFaultKinds = 0 FRAME_FAULT_LIST(FRAME_FAULT_ONE);  // including kNone
#undef FRAME_FAULT_ONE

// "read error", "write refused", "sleep"; "none" (also for a value out of range).
inline const char* FrameFaultName(FrameFault f) {
#define FRAME_FAULT_NAME(e, name, label) name,
  static constexpr const char* kNames[] = {FRAME_FAULT_LIST(FRAME_FAULT_NAME)};
#undef FRAME_FAULT_NAME
  const int i = static_cast<int>(f);
  return i < kFrameFaultKinds ? kNames[i] : kNames[0];
}

struct FrameStatusView {
  bool present = false;
  bool seen = false;  // a frame was opened at least once: the fields below describe it
  std::uint16_t vendorId = 0, productId = 0, versionNumber = 0;
  bool series01xx = false;
  std::string path;
  double since = 0;  // seconds since the epoch of the last open or loss; 0: never
  std::uint64_t reports = 0;
  std::uint64_t faults[kFrameFaultKinds] = {};
  FrameFault lastFault = FrameFault::kNone;
  std::string lastFaultDetail;  // the system's text, if any
  double lastFaultAt = 0;
};

// One listener's figures. UDP has no clients: only `packets` counts there.
struct ListenerStatusView {
  bool enabled = false;
  std::uint16_t port = 0;  // 0 while not listening
  std::uint32_t clients = 0;
  std::uint64_t dropped = 0;  // clients dropped because they fell behind
  std::uint64_t packets = 0;  // datagrams, documents, or packets queued per stream client
};

// The listeners the status tells, F(enumerator, name in the status object
// and the metrics' label), in the order they are told.
// clang-format off
#define STATUS_LISTENER_LIST(F) \
  F(kUdpListener, "udp") \
  F(kXmlListener, "xml") \
  F(kTcpListener, "tcp") \
  F(kWebSocketListener, "websocket")
// clang-format on

#define STATUS_LISTENER_ENUMERATOR(e, name) e,
enum StatusListener { STATUS_LISTENER_LIST(STATUS_LISTENER_ENUMERATOR) kListeners };
#undef STATUS_LISTENER_ENUMERATOR

struct StatusSnapshot {
  std::string version = kServiceVersion;
  double startedAt = 0;  // seconds since the epoch
  double uptime = 0;     // seconds, from a clock that never jumps
  FrameStatusView frame;
  std::uint64_t touches = 0;  // fingers put down and published (TUIO cursor sessions)
  std::uint32_t touchesDown = 0;
  ListenerStatusView listener[kListeners];
};
