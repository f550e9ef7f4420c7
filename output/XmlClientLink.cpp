#include "output/XmlClientLink.h"

#include <cstring>

#include "platform/Trace.h"

XmlClientLink::XmlClientLink(std::size_t backlogBytes)
    : backlogBytes_(backlogBytes), pending_(new char[backlogBytes]) {}

void XmlClientLink::Attach(platform::SocketHandle s) {
  std::lock_guard<std::mutex> lock(mutex_);
  socket_ = s;
  pendingStart_ = pendingLength_ = 0;
  listenerWatching_ = false;
}

void XmlClientLink::Detach(platform::SocketHandle s) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (socket_ == s) {
    socket_ = platform::kInvalidSocket;
    pendingStart_ = pendingLength_ = 0;
  }
  platform::CloseSocket(s);
}

bool XmlClientLink::IsCurrent(platform::SocketHandle s) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return socket_ == s;
}

void XmlClientLink::SetListenerWake(platform::WakeSocket wake) {
  std::lock_guard<std::mutex> lock(mutex_);
  listenerWake_ = wake;
}

bool XmlClientLink::SendBacklog(platform::SocketHandle s) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (socket_ != s) return false;
  if (!FlushPending()) return false;
  listenerWatching_ = pendingLength_ > 0;
  return listenerWatching_;
}

bool XmlClientLink::Connected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return socket_ != platform::kInvalidSocket;
}

std::uint32_t XmlClientLink::DroppedClients() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

std::size_t XmlClientLink::BacklogBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pendingLength_;
}

void XmlClientLink::Drop() {
  // Shut down, not closed: the listener is still waiting on this socket and
  // closes it when it sees that it is no longer current.
  TRACE_WARN("xml: client dropped (%s)", pendingLength_ > 0
                                             ? "it fell behind or its connection failed"
                                             : "its connection failed");
  platform::ShutdownSocket(socket_);
  socket_ = platform::kInvalidSocket;
  pendingStart_ = pendingLength_ = 0;
  ++dropped_;
  platform::PokeWakeSocket(listenerWake_);
}

bool XmlClientLink::FlushPending() {
  while (pendingLength_ > 0) {
    const long n = platform::SendSome(socket_, pending_.get() + pendingStart_, pendingLength_);
    if (n < 0) {
      Drop();
      return false;
    }
    if (n == 0) return true;  // still full; the rest waits
    pendingStart_ += std::size_t(n);
    pendingLength_ -= std::size_t(n);
  }
  pendingStart_ = 0;
  return true;
}

bool XmlClientLink::Send(const char* data, std::size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (socket_ == platform::kInvalidSocket) return false;
  if (!FlushPending()) return false;

  std::size_t sent = 0;
  if (pendingLength_ == 0) {
    while (sent < size) {
      const long n = platform::SendSome(socket_, data + sent, size - sent);
      if (n < 0) {
        Drop();
        return false;
      }
      if (n == 0) break;
      sent += std::size_t(n);
    }
  }
  const std::size_t rest = size - sent;
  if (rest == 0) return true;

  // Behind: the unsent bytes wait, in order, or the client is dropped.
  if (pendingLength_ + rest > backlogBytes_) {
    Drop();
    return false;
  }
  if (pendingStart_ + pendingLength_ + rest > backlogBytes_) {
    std::memmove(pending_.get(), pending_.get() + pendingStart_, pendingLength_);
    pendingStart_ = 0;
  }
  std::memcpy(pending_.get() + pendingStart_ + pendingLength_, data + sent, rest);
  pendingLength_ += rest;
  // The listener sends the rest as the socket drains; a poke never waits.
  if (!listenerWatching_) {
    listenerWatching_ = true;
    platform::PokeWakeSocket(listenerWake_);
  }
  return true;
}
