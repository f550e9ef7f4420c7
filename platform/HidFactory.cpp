// Picks the HID backend: the frame simulator when FRAMESIM_ADDR names it.
#include <cstdlib>

#include "platform/Hid.h"

namespace platform {

std::unique_ptr<HidBackend> CreateHidBackend() {
  const char* address = std::getenv("FRAMESIM_ADDR");
  if (address && *address) {
    if (auto backend = CreateVirtualHidBackend(address)) return backend;
  }
  return CreateOsHidBackend();
}

}  // namespace platform
