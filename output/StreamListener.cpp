#include "output/StreamListener.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/Ipv4Address.h"
#include "platform/Trace.h"

namespace {

constexpr int kBacklog = 16;
// Only where no wake-up socket could be made: how often the thread looks
// for a stop or new packets.
constexpr int kFallbackPollMs = 50;
constexpr std::size_t kReceiveBytes = 4096;
// Answers (pongs) waiting for a client that sends pings but does not read
// are bounded too.
constexpr std::size_t kMaxControlBytes = 64 * 1024;
constexpr int kRequestCheckMs = 1000;
// While packets flow, the thread looks at the rings every kTickMs instead of
// being woken for each packet: a wake-up costs the publishing thread more
// than the copies into all rings (measured by bench/StreamsBench). Once no
// packet came for kStayAwakeMs it sleeps until woken again.
constexpr int kTickMs = 1;
constexpr std::int64_t kStayAwakeMs = 500;

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

StreamListener::StreamListener(Kind kind, Options options, std::string_view page)
    : ListenerThread({options.address, options.port, kBacklog, options.retryMs}),
      kind_(kind),
      options_(std::move(options)),
      page_(ws::DescribePage(page)),
      policy_(options_.address, options_.port, options_.origins) {
  const int streaming = std::clamp(options_.maxClients, 1, kMaxClients);
  rings_.resize(std::size_t(streaming));
  for (Ring& r : rings_) r.bytes = std::make_unique<char[]>(options_.queueBytes);
  const int requests =
      kind == Kind::kWebSocket ? std::min(kRequestPlaces, kMaxPlaces - streaming) : 0;
  clients_.resize(std::size_t(streaming + requests));
}

StreamListener::~StreamListener() {
  Stop();
}

void StreamListener::ListenFailed(const std::string& error) {
  TRACE_WARN("%s: cannot listen on %s:%u: %s", Name(),
             options_.address.empty() ? "*" : options_.address.c_str(), unsigned(options_.port),
             error.c_str());
}

void StreamListener::OfferPacket(const char* data, std::size_t size) {
  // The framing, built on the stack: 4-byte big-endian length for TCP, a
  // binary frame header for WebSocket.
  std::uint8_t header[ws::kMaxHeaderBytes];
  std::size_t headerSize = 4;
  if (kind_ == Kind::kWebSocket) {
    headerSize = ws::EncodeFrameHeader(ws::kBinary, size, header);
  } else {
    header[0] = std::uint8_t(size >> 24);
    header[1] = std::uint8_t(size >> 16);
    header[2] = std::uint8_t(size >> 8);
    header[3] = std::uint8_t(size);
  }
  const std::size_t capacity = options_.queueBytes;
  bool queued = false;
  std::uint64_t copies = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (Ring& r : rings_) {
    if (!r.streaming || r.overflow) continue;
    queued = true;
    const std::uint64_t used = r.head - r.tail;
    if (used + headerSize + size > capacity) {
      r.overflow = true;
      continue;
    }
    ++copies;
    auto put = [&](const char* bytes, std::size_t n) {
      const std::size_t at = std::size_t(r.head % capacity);
      const std::size_t first = std::min(n, capacity - at);
      std::memcpy(r.bytes.get() + at, bytes, first);
      std::memcpy(r.bytes.get(), bytes + first, n - first);
      r.head += n;
    };
    put(reinterpret_cast<const char*>(header), headerSize);
    put(data, size);
  }
  if (copies) queued_.fetch_add(copies, std::memory_order_relaxed);
  // Only a sleeping thread is woken; a ticking one finds the packet itself.
  if (queued && wakeWanted_.load() && wakeWanted_.exchange(false))
    platform::PokeWakeSocket(wakeSocket_);
}

void StreamListener::SetConversation(std::string_view page, PageConversation* conversation) {
  calibrationPage_ = ws::DescribePage(page);
  conversation_ = conversation;
}

void StreamListener::SendText(std::uint64_t client, std::string_view text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // A page that reads nothing does not make this grow without end.
    if (outbox_.size() >= 256) return;
    outbox_.push_back({client, std::string(text), false, 0});
  }
  platform::PokeWakeSocket(wakeSocket_);
}

void StreamListener::CloseClient(std::uint64_t client, std::uint16_t code,
                                 std::string_view reason) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    outbox_.push_back({client, std::string(reason), true, code});
  }
  platform::PokeWakeSocket(wakeSocket_);
}

void StreamListener::SendOutgoing() {
  std::vector<Outgoing> out;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    out.swap(outbox_);
  }
  for (const Outgoing& o : out) {
    for (Client& c : clients_) {
      if (c.socket == platform::kInvalidSocket || !c.conversation || c.id != o.client) continue;
      if (o.close) {
        c.ws->Close(o.code, o.text);
        c.control += c.ws->Output();
        c.ws->Output().clear();
      } else if (c.ws->Open()) {
        std::uint8_t header[ws::kMaxHeaderBytes];
        c.control.append(reinterpret_cast<const char*>(header),
                         ws::EncodeFrameHeader(ws::kText, o.text.size(), header));
        c.control += o.text;
      }
    }
  }
}

void StreamListener::Serve(platform::SocketHandle listener) {
  TRACE_INFO("%s: listening on %s:%u", Name(),
             options_.address.empty() ? "*" : options_.address.c_str(), unsigned(Port()));
  ServeClients(listener);
  for (std::size_t i = 0; i < clients_.size(); ++i) {
    if (clients_[i].socket == platform::kInvalidSocket) continue;
    Flush(i);  // what is queued (the last empty bundles) goes out if it fits now
    // The service is going away: WebSocket clients are told so, unless a
    // message is still half sent.
    if (clients_[i].ws && clients_[i].ws->Open() && clients_[i].sent == clients_[i].out.size()) {
      std::uint8_t goingAway[ws::kCloseFrameBytes];
      ws::EncodeCloseFrame(ws::kGoingAway, goingAway);
      platform::SendSome(clients_[i].socket, reinterpret_cast<const char*>(goingAway),
                         sizeof goingAway);
    }
    Close(i, nullptr);
  }
}

void StreamListener::ServeClients(platform::SocketHandle listener) {
  std::vector<platform::SocketWait> waits;
  std::vector<std::size_t> owners;  // waits[k] watches clients_[owners[k]]
  const bool canWake = wakeSocket_.read != platform::kInvalidSocket;
  while (!Stopping()) {
    // Asked for before the rings are looked at: a packet queued after the
    // look finds the flag set and pokes.
    const bool ticking = NowMs() - lastPacketMs_ < kStayAwakeMs;
    if (!ticking) wakeWanted_ = true;
    waits.clear();
    owners.clear();
    waits.push_back({listener, true});
    if (canWake) waits.push_back({wakeSocket_.read, true});
    // Looked at again within a second: a request's time limit, a counted
    // warning's line.
    bool checkSoon =
        refused_.Pending() || evicted_.Pending() || flooded_.Pending() || late_.Pending();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (std::size_t i = 0; i < clients_.size(); ++i) {
        const Client& c = clients_[i];
        if (c.socket == platform::kInvalidSocket) continue;
        const bool pending =
            c.sent < c.out.size() || (c.ring >= 0 && rings_[c.ring].head != rings_[c.ring].tail);
        // A client that shut its sending side is asked only for writing;
        // the wait still reports its connection failing.
        waits.push_back({c.socket, !c.readEnded, pending});
        owners.push_back(i);
        checkSoon = checkSoon || (c.ws && c.ws->CurrentState() == ws::Connection::State::kRequest);
      }
    }
    const int timeout = !canWake    ? kFallbackPollMs
                        : ticking   ? kTickMs
                        : checkSoon ? kRequestCheckMs
                                    : -1;
    if (platform::WaitSockets(waits.data(), waits.size(), timeout) < 0) return;
    if (canWake && waits[1].readable) platform::DrainWakeSocket(wakeSocket_);
    // An accept that fails although one was announced (no descriptor left)
    // is tried again a little later, not in a spin.
    if (waits[0].readable && !Accept(listener) && SleepUnlessStopped(kFallbackPollMs)) return;

    const std::size_t first = canWake ? 2 : 1;
    SendOutgoing();
    const std::int64_t now = NowMs();
    TraceDueWarnings(now);
    for (std::size_t k = 0; k < owners.size(); ++k) {
      const std::size_t i = owners[k];
      Client& c = clients_[i];
      // Closed to make room for a new connection (which may have got the
      // same socket number: then it is merely looked at early).
      if (c.socket != waits[first + k].s) continue;
      bool overflow = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (c.ring >= 0) overflow = rings_[c.ring].overflow;
      }
      if (overflow) {
        Close(i, "fell behind, dropped", true);
        continue;
      }
      // Readable after its sending side ended: the connection failed.
      if (waits[first + k].readable && (c.readEnded || !Read(i))) {
        Close(i, nullptr);
        continue;
      }
      if (c.ws && c.ws->CurrentState() == ws::Connection::State::kRequest &&
          now - c.acceptedMs > options_.requestTimeoutMs) {
        Close(i, nullptr);
        Warn(late_, "client sent no request in time, closed", now);
        continue;
      }
      if (!Flush(i)) Close(i, nullptr);
    }
  }
}

bool StreamListener::Accept(platform::SocketHandle listener) {
  for (bool any = false;; any = true) {
    const platform::SocketHandle s = platform::AcceptConnection(listener, options_.sendBufferBytes);
    if (s == platform::kInvalidSocket) return any;
    const std::int64_t now = NowMs();
    auto place = std::find_if(clients_.begin(), clients_.end(),
                              [](const Client& c) { return c.socket == platform::kInvalidSocket; });
    if (place == clients_.end()) {
      // Every place taken: the oldest connection still without a whole
      // request makes room, so connections that never finish one (or keep
      // coming back slowly) cannot hold every place.
      for (auto c = clients_.begin(); c != clients_.end(); ++c)
        if (c->ws && c->ws->CurrentState() == ws::Connection::State::kRequest &&
            (place == clients_.end() || c->acceptedMs < place->acceptedMs))
          place = c;
      if (place != clients_.end()) {
        Close(std::size_t(place - clients_.begin()), nullptr);
        Warn(evicted_, "every place taken, the oldest connection without a request closed", now);
      }
    }
    if (place == clients_.end()) {
      char what[96];
      std::snprintf(what, sizeof what, "%zu clients already connected, connection refused",
                    clients_.size());
      Warn(refused_, what, now);
      platform::CloseSocket(s);
      continue;
    }
    const std::size_t i = std::size_t(place - clients_.begin());
    Client& c = *place;
    c.socket = s;
    c.out.clear();
    c.sent = 0;
    c.acceptedMs = c.windowMs = now;
    c.windowBytes = c.windowFrames = 0;
    c.readEnded = false;
    c.id = ++nextId_;
    std::uint32_t peer = 0;
    c.loopback = platform::PeerIpv4(s, peer) && platform::IsLoopbackIpv4(peer);
    c.conversation = false;
    if (kind_ == Kind::kWebSocket) {
      c.ws = std::make_unique<ws::Connection>(policy_, page_, documents_,
                                              conversation_ ? &calibrationPage_ : nullptr);
      TRACE_INFO("%s: connection accepted", Name());
    } else {
      SetStreaming(i, true);
      TRACE_INFO("%s: client connected", Name());
    }
  }
}

// Alone, a warning is traced as it is; counted ones are traced as their
// summary and count ("tuio-tcp: connections refused, every place taken: 37").
void StreamListener::Warn(RepeatedWarning& w, const char* what, std::int64_t now) {
  std::uint32_t count = 0;
  if (!w.Note(now, count)) return;
  if (count == 1)
    TRACE_WARN("%s: %s", Name(), what);
  else
    TRACE_WARN("%s: %s: %u", Name(), w.Summary(), unsigned(count));
}

void StreamListener::TraceDueWarnings(std::int64_t now) {
  for (RepeatedWarning* w : {&refused_, &evicted_, &late_, &flooded_}) {
    std::uint32_t count = 0;
    if (w->Due(now, count)) TRACE_WARN("%s: %s: %u", Name(), w->Summary(), unsigned(count));
  }
}

void StreamListener::SetStreaming(std::size_t i, bool on) {
  Client& c = clients_[i];
  std::lock_guard<std::mutex> lock(mutex_);
  if ((c.ring >= 0) == on) return;
  if (on) {
    const auto free =
        std::find_if(rings_.begin(), rings_.end(), [](const Ring& r) { return !r.streaming; });
    if (free == rings_.end()) return;
    c.ring = int(free - rings_.begin());
  }
  Ring& r = rings_[std::size_t(c.ring)];
  r.streaming = on;
  // Either way the ring starts empty: a client that stops streaming (a
  // WebSocket close) gets nothing after its close frame.
  r.head = r.tail = 0;
  r.overflow = false;
  if (!on) c.ring = -1;
  streaming_ += on ? 1 : -1;
}

bool StreamListener::Read(std::size_t i) {
  Client& c = clients_[i];
  char buffer[kReceiveBytes];
  const std::int64_t now = NowMs();
  // A bounded share per turn: what is left waits for the next turn, after
  // every other client had its own.
  for (std::size_t budget = kReadBudget; budget > 0;) {
    const long n = platform::Receive(c.socket, buffer, std::min(sizeof buffer, budget));
    if (n == platform::kWouldBlock) return true;
    // A calibration page that ends its side has gone: its calibration ends now.
    if (n == platform::kReceiveEnded && c.conversation) return false;
    if (n == platform::kReceiveEnded &&
        (!c.ws || c.ws->CurrentState() != ws::Connection::State::kRequest)) {
      // It shut its sending side (nc < /dev/null): a reader that says
      // nothing more goes on receiving.
      c.readEnded = true;
      return true;
    }
    if (n <= 0) return false;
    budget -= std::size_t(n);
    if (!c.ws) {
      // A TCP client's own bytes mean nothing: discarded, but counted.
      if (!WithinRate(c, std::size_t(n), now)) return false;
      continue;
    }
    const bool wasOpen = c.ws->Open();
    c.ws->Feed(buffer, std::size_t(n), streaming_.load() >= int(rings_.size()),
               conversations_ >= kMaxConversations);
    const std::string event = c.ws->TakeEvent();
    if (!event.empty()) TRACE_WARN("%s: %s", Name(), event.c_str());
    if (c.ws->Decision() == ws::Reply::kUnavailable && !wasOpen && c.ws->Finished()) {
      char what[96];
      std::snprintf(what, sizeof what, "all %zu streaming places taken, upgrade refused",
                    rings_.size());
      Warn(refused_, what, now);
    }
    if (!WithinRate(c, std::size_t(n), now)) return false;
    // Answers wait for a message boundary: see Flush.
    c.control += c.ws->Output();
    c.ws->Output().clear();
    if (c.control.size() > kMaxControlBytes + page_.html.size()) {
      Warn(flooded_, "client sends more than it reads, closed", now);
      return false;
    }
    if (!wasOpen && c.ws->Open() && c.ws->Conversation()) {
      // The calibration page's connection: its messages are the service's,
      // it is sent no stream.
      c.conversation = true;
      ++conversations_;
      conversation_->Opened(c.id, c.loopback);
      TRACE_INFO("%s: calibration page connected (%s)", Name(),
                 c.loopback ? "this machine" : "another machine");
    } else if (!wasOpen && c.ws->Open()) {
      SetStreaming(i, true);
      TRACE_INFO("%s: client upgraded", Name());
    }
    if (c.conversation) {
      c.ws->TakeMessages(messages_);
      for (const std::string& m : messages_) conversation_->Message(c.id, m);
    }
    if (c.ws->Finished()) {
      SetStreaming(i, false);
      return true;  // what is left in `out` is sent, then the socket closed
    }
  }
  return true;
}

bool StreamListener::WithinRate(Client& c, std::size_t bytes, std::int64_t now) {
  const std::uint64_t frames = c.ws ? c.ws->FramesReceived() : 0;
  if (now - c.windowMs >= 1000) {
    c.windowMs = now;
    c.windowBytes = 0;
    c.windowFrames = frames;
  }
  c.windowBytes += bytes;
  if (c.windowBytes <= kMaxBytesPerSecond && frames - c.windowFrames <= kMaxFramesPerSecond)
    return true;
  Warn(flooded_, "client sends more than any reader would, closed", now);
  return false;
}

bool StreamListener::Flush(std::size_t i) {
  Client& c = clients_[i];
  if (c.sent == c.out.size()) {
    // At a message boundary: the handshake answer, pongs and close frames
    // first, then every whole packet queued (the publisher writes whole
    // framed packets under the lock, so all of a ring ends on a boundary).
    c.out.swap(c.control);
    c.control.clear();
    c.sent = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    if (c.ring >= 0) {
      Ring& r = rings_[std::size_t(c.ring)];
      const std::size_t n = std::size_t(r.head - r.tail);
      const std::size_t at = std::size_t(r.tail % options_.queueBytes);
      const std::size_t first = std::min(n, options_.queueBytes - at);
      c.out.append(r.bytes.get() + at, first);
      c.out.append(r.bytes.get(), n - first);
      r.tail += n;
      if (n > 0) lastPacketMs_ = NowMs();
    }
  }
  while (c.sent < c.out.size()) {
    const long n = platform::SendSome(c.socket, c.out.data() + c.sent, c.out.size() - c.sent);
    if (n < 0) return false;
    if (n == 0) return true;
    c.sent += std::size_t(n);
  }
  // A finished WebSocket exchange (the page, a refusal, a close) ends here.
  return !(c.ws && c.ws->Finished() && c.control.empty());
}

void StreamListener::Close(std::size_t i, const char* why, bool fellBehind) {
  Client& c = clients_[i];
  SetStreaming(i, false);
  if (c.conversation) {
    c.conversation = false;
    --conversations_;
    conversation_->Closed(c.id);
  }
  if (why) {
    if (fellBehind) ++dropped_;
    TRACE_WARN("%s: client %s", Name(), why);
  } else {
    TRACE_INFO("%s: client gone", Name());
  }
  platform::CloseSocket(c.socket);
  c.socket = platform::kInvalidSocket;
  c.ws.reset();
  c.out.clear();
  c.control.clear();
  c.sent = 0;
}
