#pragma once
// TCP sockets for the XML touch server and its clients: Winsock on Windows,
// BSD sockets elsewhere. Small free functions over a socket value, so the
// callers decide who owns a socket and when it is closed.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Wide enough for a Windows SOCKET and a POSIX descriptor alike.
using SocketHandle = std::intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// Starts the socket library (Windows Sockets 2.0, which must be granted
// exactly). Each successful call is matched by one StopSockets.
bool StartSockets();
void StopSockets();

// An IPv4 stream socket bound to any local address and `port` (0 picks a
// free one), listening with `backlog`. kInvalidSocket if any step fails. It
// does not block: AcceptConnection returns at once when nobody waits.
SocketHandle OpenTcpListener(std::uint16_t port, int backlog);
// The same bound to `address` (dotted IPv4; empty: any local address). On
// failure kInvalidSocket, and `error` (when given) gets the system's text.
SocketHandle OpenTcpListenerOn(const std::string& address, std::uint16_t port, int backlog,
                               std::string* error);
// The local port a socket is bound to, or 0.
std::uint16_t LocalPort(SocketHandle s);

// Waits until `s` has something to read (data, an ended connection or a
// pending accept). 1 ready, 0 timed out, -1 error.
int WaitReadable(SocketHandle s, int timeoutMs);

// A wake-up for a thread that waits on a socket: another thread pokes it and
// the wait ends at once, so nobody polls to notice a stop or a drop. A
// socket pair on POSIX; on Windows (whose select takes only sockets) a
// loopback UDP socket connected to itself, so read and write are one socket.
struct WakeSocket {
  SocketHandle read = kInvalidSocket;
  SocketHandle write = kInvalidSocket;
};
// After StartSockets. False (and nothing open) if it cannot be made.
bool OpenWakeSocket(WakeSocket& w);
void CloseWakeSocket(WakeSocket& w);
// Never blocks; pokes that pile up before the waiter drains are one wake-up.
void PokeWakeSocket(const WakeSocket& w);
void DrainWakeSocket(const WakeSocket& w);

constexpr int kSocketReadable = 1;
constexpr int kWoken = 2;
// Waits until `s` is readable or `wake` has been poked: the sum of
// kSocketReadable and kWoken for what happened, 0 on time-out, -1 on error.
// timeoutMs < 0 waits without limit.
int WaitReadableOrWoken(SocketHandle s, const WakeSocket& wake, int timeoutMs);

// One socket of a wait on many: what is asked (read, write) and, after the
// wait, what is ready. An ended or failed connection counts as readable.
struct SocketWait {
  SocketHandle s = kInvalidSocket;
  bool read = false;
  bool write = false;
  bool readable = false;
  bool writable = false;
};
// Waits until one of `items` is ready: how many are (> 0), 0 on time-out,
// -1 on error. timeoutMs < 0 waits without limit. At most 60 items.
int WaitSockets(SocketWait* items, std::size_t count, int timeoutMs);

// Accepts one pending connection (kInvalidSocket when none is pending or
// the accept failed). The new socket sends without blocking
// (see SendSome) and without Nagle's delay; `sendBufferBytes` > 0 sets the
// size of its send buffer.
SocketHandle AcceptConnection(SocketHandle listener, int sendBufferBytes);
// The IPv4 address (host order) of a connected socket's peer; false if
// there is none.
bool PeerIpv4(SocketHandle s, std::uint32_t& address);

// A client connection to host:port (dotted IPv4 or a host name), blocking.
SocketHandle ConnectTcp(const char* host, std::uint16_t port);

constexpr long kReceiveEnded = 0;
constexpr long kReceiveError = -1;
constexpr long kWouldBlock = -2;
// Bytes received (> 0), kReceiveEnded when the peer closed, kWouldBlock
// when nothing is waiting on a non-blocking socket, kReceiveError.
long Receive(SocketHandle s, char* buffer, std::size_t size);

// Sends what fits now, never waiting. Bytes sent (0 when the send buffer is
// full), or -1 when the connection has failed.
long SendSome(SocketHandle s, const char* data, std::size_t size);

// Ends both directions of a connection; a thread waiting on it wakes up.
void ShutdownSocket(SocketHandle s);
void CloseSocket(SocketHandle s);

}  // namespace platform
