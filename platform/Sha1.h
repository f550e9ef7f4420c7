#pragma once
// SHA-1 from the system (libcrypto natively, CNG on Windows): the WebSocket
// handshake's accept key is the only user, so nothing here is secret.
#include <array>
#include <cstddef>
#include <cstdint>

namespace platform {

using Sha1Digest = std::array<std::uint8_t, 20>;

// The digest of `size` bytes at `data`; false (digest zeroed) if the system
// provider fails.
bool Sha1(const void* data, std::size_t size, Sha1Digest& out);

}  // namespace platform
