#pragma once
// The one XML client the documents go to, shared by the thread that sends
// documents and the listener thread that accepts and ends connections.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/Socket.h"

class XmlClientLink {
 public:
  // What may wait for a client that is behind, by default: beyond this (on
  // top of the socket's own buffers) the client is dropped. At a thousand
  // ten-contact documents a second this rides out a client pause of about a
  // quarter second; a client that stops reading is dropped soon after.
  static constexpr std::size_t kDefaultBacklogBytes = 1024 * 1024;

  explicit XmlClientLink(std::size_t backlogBytes = kDefaultBacklogBytes);

  // Listener side. The listener owns the socket: it attaches it after the
  // accept, and Detach() invalidates the senders' socket and closes it in
  // one step under the lock, so no send can reach a socket value that has
  // been closed (and perhaps reused).
  void Attach(platform::SocketHandle s);
  void Detach(platform::SocketHandle s);
  // False once the sender has dropped `s` (or another client replaced it).
  bool IsCurrent(platform::SocketHandle s) const;
  // Poked when the sender drops a client and when a client falls behind,
  // so the listener waiting on that client notices at once (an empty
  // WakeSocket: nobody to wake).
  void SetListenerWake(platform::WakeSocket wake);
  // While `s` is behind, the listener sends its backlog whenever the socket
  // can take more, so a client that paused catches up without waiting for
  // the next document. Sends what `s` takes now; true while bytes still
  // wait (the listener then waits until `s` is writable), false when none
  // do or `s` is no longer current.
  bool SendBacklog(platform::SocketHandle s);

  // Sender side: queues `size` bytes for the client without ever waiting
  // for it. What the socket takes now goes out; a tail it cannot take yet
  // waits here and goes out as the socket takes it (the listener's
  // SendBacklog), before the next document at the latest. A client whose
  // backlog outgrows kPendingBytes, or whose connection fails, is dropped
  // (its connection shut down; the listener then closes it and accepts the
  // next client). False if the bytes did not reach a client. `size` must
  // not exceed the backlog.
  bool Send(const char* data, std::size_t size);

  bool Connected() const;
  // Clients dropped by the sender since construction.
  std::uint32_t DroppedClients() const;
  // Bytes waiting for the current client.
  std::size_t BacklogBytes() const;

 private:
  bool FlushPending();
  void Drop();

  // Guards the client socket, its backlog and the drop count.
  mutable std::mutex mutex_;
  platform::SocketHandle socket_ = platform::kInvalidSocket;
  platform::WakeSocket listenerWake_;
  // Set when the sender pokes the listener about a new backlog, cleared when
  // the listener finds it sent: one poke per spell behind, not per document.
  bool listenerWatching_ = false;
  const std::size_t backlogBytes_;
  std::unique_ptr<char[]> pending_;
  std::size_t pendingStart_ = 0;
  std::size_t pendingLength_ = 0;
  std::uint32_t dropped_ = 0;
};
