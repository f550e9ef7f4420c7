#pragma once
// The text protocol between the virtual HID backend and the frame simulator.
// One command or event per line, words separated by single spaces, reports as
// lower-case hex. Host to simulator:
//   enum                            -> "iface PATH VID PID VER" lines, then "ok"
//   open PATH r|w|rw shared|excl    -> "ok IN OUT FEATURE" (report lengths) or "err TEXT"
//   watch                           -> "ok", then "arrival PATH" / "removal PATH" events
// On a connection that opened a handle:
//   w HEX   (a write)               -> "wd 1" once the frame took it, "wd 0" if not
//   gf HEX  (get feature)           -> "gf 1 HEX" or "gf 0"
//   sf HEX  (set feature)           -> "sf 1" or "sf 0"
// and from the simulator, unasked: "in HEX" (an input report), "ins HEX" (one
// that arrived shorter than the interface's report length), "rerr COUNT" (the
// next COUNT reads complete with an error), "gone" (the device was unplugged
// or the PC slept; the handle is dead). Ids are four hex digits.
#include <cstddef>
#include <cstdint>
#include <string>

namespace vlink {

inline int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Appends `n` bytes as hex to `out`.
inline void AppendHex(std::string& out, const std::uint8_t* bytes, std::size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < n; ++i) {
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 15]);
  }
}

// Parses hex text (an even number of digits, at most `capacity` bytes) into
// `out`; returns the byte count or -1 when the text is not such hex.
inline long ParseHex(const char* text, std::size_t length, std::uint8_t* out,
                     std::size_t capacity) {
  if (length % 2 != 0 || length / 2 > capacity) return -1;
  for (std::size_t i = 0; i < length; i += 2) {
    int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return -1;
    out[i / 2] = static_cast<std::uint8_t>(hi << 4 | lo);
  }
  return static_cast<long>(length / 2);
}

// "127.0.0.1:PORT" -> host and port; false if it does not parse.
inline bool ParseAddress(const std::string& address, std::string& host, unsigned short& port) {
  auto colon = address.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= address.size()) return false;
  unsigned long value = 0;
  for (std::size_t i = colon + 1; i < address.size(); ++i) {
    if (address[i] < '0' || address[i] > '9') return false;
    value = value * 10 + static_cast<unsigned long>(address[i] - '0');
    if (value > 65535) return false;
  }
  if (value == 0) return false;
  host = address.substr(0, colon);
  port = static_cast<unsigned short>(value);
  return true;
}

}  // namespace vlink
