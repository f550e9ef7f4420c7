// Opening a listener, the same steps on every platform over the calls each
// platform's socket file gives (SocketNative.h).
#include <string>

#include "platform/Ipv4Address.h"
#include "platform/Socket.h"
#include "platform/SocketNative.h"

namespace platform {

SocketHandle OpenTcpListener(std::uint16_t port, int backlog) {
  return OpenTcpListenerOn(std::string(), port, backlog, nullptr);
}

SocketHandle OpenTcpListenerOn(const std::string& address, std::uint16_t port, int backlog,
                               std::string* error) {
  // The same reader as the settings check, so an address that passes it listens.
  std::uint32_t host = INADDR_ANY;
  if (!address.empty() && !ParseIpv4(address, host)) {
    if (error) *error = "not an IPv4 address";
    return kInvalidSocket;
  }
  sockaddr_in a = Ipv4Address(host, port);
  const NativeSocket s = NewListeningSocket();
  if (s == kInvalidNativeSocket) {
    if (error) *error = LastSocketError();
    return kInvalidSocket;
  }
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, backlog) != 0) {
    if (error) *error = LastSocketError();
    CloseNativeSocket(s);
    return kInvalidSocket;
  }
  return static_cast<SocketHandle>(s);
}

}  // namespace platform
