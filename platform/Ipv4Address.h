#pragma once
// The one reader of a dotted IPv4 address, for the settings check and the
// listeners alike, so that an address the settings accept is one the
// listener can bind. Four decimal numbers 0..255 and nothing else: no
// blanks, no leading zeros (some readers take "010" as octal 8), no short
// forms such as "127.1".
#include <cstdint>
#include <string_view>

namespace platform {

// The address in host order; false (out untouched) if `text` is not one.
bool ParseIpv4(std::string_view text, std::uint32_t& out);

// 127.0.0.0/8, host order: a peer on this machine.
constexpr bool IsLoopbackIpv4(std::uint32_t address) {
  return (address >> 24) == 127;
}

}  // namespace platform
