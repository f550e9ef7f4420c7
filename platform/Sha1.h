#pragma once
// SHA-1 and SHA-256 from the system (libcrypto natively, CNG on Windows):
// the WebSocket handshake's accept key and the live page's script and style
// hashes are the users, so nothing here is secret.
#include <array>
#include <cstddef>
#include <cstdint>

namespace platform {

using Sha1Digest = std::array<std::uint8_t, 20>;

// The digest of `size` bytes at `data`; false (digest zeroed) if the system
// provider fails.
bool Sha1(const void* data, std::size_t size, Sha1Digest& out);

using Sha256Digest = std::array<std::uint8_t, 32>;
bool Sha256(const void* data, std::size_t size, Sha256Digest& out);

}  // namespace platform
