#include "platform/ServiceNotify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace platform {

bool NotifyServiceManager(const char* state) {
  const char* path = std::getenv("NOTIFY_SOCKET");
  if (!path || (path[0] != '/' && path[0] != '@')) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t length = std::strlen(path);
  if (length >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path, length);
  // "@name" is a socket in the abstract namespace: a leading NUL, no end NUL.
  if (path[0] == '@') address.sun_path[0] = '\0';
  const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const ssize_t sent = ::sendto(fd, state, std::strlen(state), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&address), size);
  ::close(fd);
  return sent == static_cast<ssize_t>(std::strlen(state));
}

}  // namespace platform
