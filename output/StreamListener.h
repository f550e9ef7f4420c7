#pragma once
// A listener that streams every TUIO packet to many clients: over TCP, each
// packet preceded by its length (4 bytes, big-endian), or over WebSocket,
// each packet one binary message (the same port also serves the live page).
//
// Threads: the publishing thread calls OfferPacket, which copies the packet
// with its framing into each client's preallocated ring under mutex_ and
// pokes the wake-up socket only if the listener thread sleeps; while
// packets flow, that thread looks at the rings every millisecond instead.
// The publisher never touches a client's socket and never allocates. The listener's own thread does
// everything else: accepts, reads, the WebSocket handshake, and all socket writes. A client whose
// ring is full has fallen behind: the publisher marks it, the listener thread drops it with one
// trace line.
//
// Careless and hostile clients cost only themselves: each turn of the loop
// reads at most kReadBudget bytes of each client; one that sends more than
// any reader would (frames or bytes a second) is closed; a client that shut
// its sending side goes on receiving. The WebSocket listener keeps a few
// places beyond its streaming ones for requests, so the page (any plain
// GET) is served while every streaming place is taken, and when every place
// is taken a new connection closes the oldest one still without a whole
// request.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "output/ListenerThread.h"
#include "output/PacketSink.h"
#include "output/RepeatedWarning.h"
#include "output/WebSocketProtocol.h"
#include "platform/Socket.h"

// The service's side of the calibration page's connections, called on the
// listener's thread: it queues what it is told and returns (it never waits
// for the frame). Each connection has an id of its own, never used again.
class PageConversation {
 public:
  virtual ~PageConversation() = default;
  // Upgraded on the calibration path; `loopback`: the peer is on this machine.
  virtual void Opened(std::uint64_t client, bool loopback) = 0;
  virtual void Message(std::uint64_t client, std::string_view text) = 0;
  virtual void Closed(std::uint64_t client) = 0;
};

class StreamListener : public ListenerThread, public PacketSink {
 public:
  enum class Kind { kTuioTcp, kWebSocket };
  struct Options {
    bool enabled = false;
    std::string address = "127.0.0.1";  // dotted IPv4; empty: all interfaces
    std::uint16_t port = 0;             // 0: any free port (tests)
    int maxClients = 16;
    std::string origins;  // WebSocket: further accepted origins (blanks or commas)
    // WebSocket: the service serves the calibration page ([Listen]
    // WebCalibration); the listener serves it once it is given one.
    bool calibration = true;
    // Per client: how far it may fall behind (framed packets) before it is
    // dropped, on top of its socket's send buffer.
    std::size_t queueBytes = 128 * 1024;
    int sendBufferBytes = 64 * 1024;
    // A port that cannot be listened on is tried again after this long.
    int retryMs = 3000;
    // A WebSocket client that has not sent its whole request by then is
    // closed, so silent connections cannot hold every client place.
    int requestTimeoutMs = 10000;
  };
  static constexpr int kMaxClients = 56;  // what one wait can watch, less our own sockets
  // Places for connections that have not asked for a stream yet
  // (WebSocket), beyond the streaming ones, within what one wait can watch.
  static constexpr int kRequestPlaces = 8;
  static constexpr int kMaxPlaces = kMaxClients + 2;
  // Per client and turn of the loop: bytes read.
  static constexpr std::size_t kReadBudget = 16 * 1024;
  // More than any reader of the stream sends in a second (pings, a close):
  // the client is closed.
  static constexpr std::uint64_t kMaxFramesPerSecond = 400;
  static constexpr std::uint64_t kMaxBytesPerSecond = 1 << 20;
  // Calibration pages' connections at once, within the request places, so
  // the live page is still served while they are all taken.
  static constexpr int kMaxConversations = 4;

  // `page`: what "GET /" answers on the WebSocket port (kept by the caller).
  StreamListener(Kind kind, Options options, std::string_view page = {});
  // Stop(): every client and the listening socket closed, the thread joined.
  ~StreamListener() override;

  void OfferPacket(const char* data, std::size_t size) override;

  // Clients being sent packets (TCP clients, upgraded WebSocket clients).
  int StreamingClients() const { return streaming_.load(); }
  // Clients dropped because they fell behind.
  std::uint32_t DroppedClients() const { return dropped_.load(); }
  const char* Name() const { return kind_ == Kind::kTuioTcp ? "tuio-tcp" : "websocket"; }
  // Packets queued for a client (each client counts), from any thread.
  std::uint64_t PacketsQueued() const { return queued_.load(std::memory_order_relaxed); }
  // WebSocket: what GET answers beside the page (the status, the metrics),
  // and the status a client asks for with a text message. Set before Start.
  void SetDocuments(ws::Documents* documents) { documents_ = documents; }
  // WebSocket: the calibration page (kept by the caller) and who holds its
  // conversation. Set before Start; without it the path is not found.
  void SetConversation(std::string_view page, PageConversation* conversation);
  // Any thread: a text message to a conversation's client, or its close
  // (dropped when it is gone). The listener thread sends it.
  void SendText(std::uint64_t client, std::string_view text);
  void CloseClient(std::uint64_t client, std::uint16_t code, std::string_view reason);

 private:
  // Shared with the publisher, guarded by mutex_. `head` and `tail` count
  // bytes ever written and taken; the ring holds head - tail of them. One
  // per streaming place; a client holds one while it streams.
  struct Ring {
    std::unique_ptr<char[]> bytes;
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
    bool streaming = false;  // the publisher writes to it
    bool overflow = false;   // it did not fit: drop the client
  };
  // The listener thread's own view of a client.
  struct Client {
    platform::SocketHandle socket = platform::kInvalidSocket;
    std::unique_ptr<ws::Connection> ws;
    std::string out;      // bytes to send, from `sent` on; whole messages
    std::string control;  // WebSocket answers waiting for the end of `out`
    std::size_t sent = 0;
    std::int64_t acceptedMs = 0;
    int ring = -1;           // rings_[ring] while streaming
    bool readEnded = false;  // it shut its sending side: nothing more to read
    std::uint64_t id = 0;
    bool loopback = false;
    bool conversation = false;  // told to the PageConversation as open
    // What it sent in the current second, against the rate limits.
    std::int64_t windowMs = 0;
    std::uint64_t windowBytes = 0, windowFrames = 0;
  };

  // The clients served while `listener` listens; each closed at the end
  // (WebSocket clients told that the service goes away).
  void Serve(platform::SocketHandle listener) override;
  void ServeClients(platform::SocketHandle listener);
  void ListenFailed(const std::string& error) override;
  // False if nothing could be accepted.
  bool Accept(platform::SocketHandle listener);
  // False when the client is to be closed.
  bool Read(std::size_t i);
  bool Flush(std::size_t i);
  // False when the client sent more than any reader would this second.
  bool WithinRate(Client& c, std::size_t bytes, std::int64_t now);
  void Close(std::size_t i, const char* why, bool fellBehind = false);
  // A ring is free whenever a client may stream: a TCP listener has one per
  // place, and a WebSocket upgrade finds one or is refused.
  void SetStreaming(std::size_t i, bool on);
  // `what` now, or counted into a later line (see RepeatedWarning).
  void Warn(RepeatedWarning& w, const char* what, std::int64_t now);
  void TraceDueWarnings(std::int64_t now);

  const Kind kind_;
  const Options options_;
  const ws::Page page_;
  const ws::OriginPolicy policy_;
  std::vector<Ring> rings_;      // one per client place, preallocated; under mutex_
  std::vector<Client> clients_;  // listener thread only, same places
  std::atomic<int> streaming_{0};
  std::atomic<std::uint32_t> dropped_{0};
  std::atomic<std::uint64_t> queued_{0};
  ws::Documents* documents_ = nullptr;
  ws::Page calibrationPage_;
  PageConversation* conversation_ = nullptr;
  int conversations_ = 0;     // listener thread: conversations open
  std::uint64_t nextId_ = 0;  // listener thread
  // What other threads ask the conversations' clients; under mutex_.
  struct Outgoing {
    std::uint64_t client = 0;
    std::string text;
    bool close = false;
    std::uint16_t code = 0;
  };
  std::vector<Outgoing> outbox_;
  std::vector<std::string> messages_;  // listener thread: a Feed's messages
  void SendOutgoing();
  // Set by the listener thread before it sleeps without a time limit;
  // taken by the first packet that finds it set, which pokes.
  std::atomic<bool> wakeWanted_{true};
  std::int64_t lastPacketMs_ = -1000000;  // listener thread: last bytes taken from a ring
  // Listener thread: the warnings a client storm repeats.
  RepeatedWarning refused_{"connections refused, every place taken"};
  RepeatedWarning evicted_{"connections without a request closed to make room"};
  RepeatedWarning late_{"clients closed for sending no request in time"};
  RepeatedWarning flooded_{"clients closed for sending more than they may"};
};
