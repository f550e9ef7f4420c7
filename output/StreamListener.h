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
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "output/PacketSink.h"
#include "output/WebSocketProtocol.h"
#include "platform/Socket.h"

class StreamListener : public PacketSink {
 public:
  enum class Kind { TuioTcp, WebSocket };
  struct Options {
    bool enabled = false;
    std::string address = "127.0.0.1";  // dotted IPv4; empty: all interfaces
    std::uint16_t port = 0;             // 0: any free port (tests)
    int maxClients = 16;
    std::string origins;  // WebSocket: further accepted origins (blanks or commas)
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

  // `page`: what "GET /" answers on the WebSocket port (kept by the caller).
  StreamListener(Kind kind, Options options, std::string_view page = {});
  ~StreamListener() override;  // Stop()
  StreamListener(const StreamListener&) = delete;
  StreamListener& operator=(const StreamListener&) = delete;

  // Starts the listening thread (once).
  void Start();
  // Closes every client and the listening socket, joins the thread.
  void Stop();

  void OfferPacket(const char* data, std::size_t size) override;

  // The port being listened on, 0 while not listening.
  std::uint16_t Port() const { return port_.load(); }
  // Clients being sent packets (TCP clients, upgraded WebSocket clients).
  int StreamingClients() const { return streaming_.load(); }
  // Clients dropped because they fell behind.
  std::uint32_t DroppedClients() const { return dropped_.load(); }
  const char* Name() const { return kind_ == Kind::TuioTcp ? "tuio-tcp" : "websocket"; }
  // Packets queued for a client (each client counts), from any thread.
  std::uint64_t PacketsQueued() const { return queued_.load(std::memory_order_relaxed); }
  // WebSocket: what GET answers beside the page (the status, the metrics),
  // and the status a client asks for with a text message. Set before Start.
  void SetDocuments(ws::Documents* documents) { documents_ = documents; }

 private:
  // Shared with the publisher, guarded by mutex_. `head` and `tail` count
  // bytes ever written and taken; the ring holds head - tail of them.
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
  };

  void Run();
  void Serve(platform::SocketHandle listener);
  // False if nothing could be accepted.
  bool Accept(platform::SocketHandle listener);
  // False when the client is to be closed.
  bool Read(std::size_t i);
  bool Flush(std::size_t i);
  void Close(std::size_t i, const char* why, bool fellBehind = false);
  void SetStreaming(std::size_t i, bool on);
  bool Stopping();
  bool SleepUnlessStopped(int ms);

  const Kind kind_;
  const Options options_;
  const std::string_view page_;
  const ws::OriginPolicy policy_;
  std::thread thread_;
  std::mutex mutex_;  // guards rings_, stop_ and wakeSocket_
  std::condition_variable stopped_;
  bool stop_ = false;
  platform::WakeSocket wakeSocket_;
  std::vector<Ring> rings_;      // one per client place, preallocated
  std::vector<Client> clients_;  // listener thread only, same places
  std::atomic<std::uint16_t> port_{0};
  std::atomic<int> streaming_{0};
  std::atomic<std::uint32_t> dropped_{0};
  std::atomic<std::uint64_t> queued_{0};
  ws::Documents* documents_ = nullptr;
  // Set by the listener thread before it sleeps without a time limit;
  // taken by the first packet that finds it set, which pokes.
  std::atomic<bool> wakeWanted_{true};
  std::int64_t lastPacketMs_ = -1000000;  // listener thread: last bytes taken from a ring
  std::uint32_t failedListens_ = 0;
};
