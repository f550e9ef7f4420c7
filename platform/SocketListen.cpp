// Opening a listener, the same steps on every platform over the calls each
// platform's socket file gives (SocketNative.h).
#include <string>

#include "platform/Socket.h"
#include "platform/SocketNative.h"

namespace platform {

SocketHandle OpenTcpListener(std::uint16_t port, int backlog) {
  return OpenTcpListenerOn(std::string(), port, backlog, nullptr);
}

SocketHandle OpenTcpListenerOn(const std::string& address, std::uint16_t port, int backlog,
                               std::string* error) {
  sockaddr_in a = Ipv4Address(INADDR_ANY, port);
  if (!address.empty() && ::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
    if (error) *error = "not an IPv4 address";
    return kInvalidSocket;
  }
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
