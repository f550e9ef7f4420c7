#include "output/XmlDocument.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace xmldoc {
namespace {

template <std::size_t N>
char* Put(char* out, const char (&piece)[N]) {
  std::memcpy(out, piece, N - 1);
  return out + (N - 1);
}

// One argument: its head, the value's text, the closing quote.
template <std::size_t N>
char* PutIntArgument(char* out, const char (&head)[N], std::int32_t v) {
  out = Put(out, head);
  out += FormatInt(v, out);
  return Put(out, kValueClose);
}
char* PutFloatArgument(char* out, float v) {
  out = Put(out, kFloatHead);
  out += FormatFloat(v, out);
  return Put(out, kValueClose);
}

}  // namespace

std::size_t FormatInt(std::int32_t value, char* out) {
  char digits[kMaxIntText];
  std::size_t n = 0;
  // Through unsigned, so INT32_MIN has a magnitude.
  std::uint32_t u = value < 0 ? 0u - std::uint32_t(value) : std::uint32_t(value);
  do {
    digits[n++] = char('0' + u % 10);
    u /= 10;
  } while (u != 0);
  std::size_t len = 0;
  if (value < 0) out[len++] = '-';
  while (n > 0) out[len++] = digits[--n];
  return len;
}

std::size_t FormatFloat(float value, char* out) {
  // Below 2^24 the value times 10^6 fits in 64 bits as an integer over a
  // power of two, so the rounding is exact and needs no printf (which costs
  // more than the rest of a document). Anything else goes through printf.
  if (!std::isfinite(value) || std::fabs(value) >= 16777216.0f) {
    char tmp[kMaxFloatText + 16];
    const int n = std::snprintf(tmp, sizeof tmp, "%f", double(value));
    const std::size_t len = n < 0                            ? 0
                            : std::size_t(n) < kMaxFloatText ? std::size_t(n)
                                                             : kMaxFloatText;
    std::memcpy(out, tmp, len);
    return len;
  }
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const bool negative = (bits >> 31) != 0;
  const int biased = int((bits >> 23) & 0xFF);
  const std::uint32_t fraction = bits & 0x7FFFFF;
  const std::uint64_t mantissa = biased == 0 ? fraction : (fraction | 0x800000u);
  const int shift = biased == 0 ? 149 : 150 - biased;  // value = mantissa / 2^shift, shift >= 0

  const std::uint64_t scaled = mantissa * 1000000u;  // < 2^44
  std::uint64_t q = 0;
  if (shift == 0) {
    q = scaled;
  } else if (shift < 64) {
    q = scaled >> shift;
    const std::uint64_t rest = scaled & ((std::uint64_t(1) << shift) - 1);
    const std::uint64_t half = std::uint64_t(1) << (shift - 1);
    if (rest > half || (rest == half && (q & 1))) ++q;
  }  // else: below 2^-20 of a millionth, rounds to 0

  std::size_t len = 0;
  if (negative) out[len++] = '-';
  std::uint64_t whole = q / 1000000u;
  std::uint32_t micro = std::uint32_t(q % 1000000u);
  char digits[24];
  std::size_t n = 0;
  do {
    digits[n++] = char('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  while (n > 0) out[len++] = digits[--n];
  out[len++] = '.';
  for (int i = 5; i >= 0; --i) {
    out[len + std::size_t(i)] = char('0' + micro % 10);
    micro /= 10;
  }
  return len + 6;
}

std::size_t WriteTouchDocument(const XmlEntry* entries, int n, std::int32_t documentCounter,
                               char* out) {
  char* p = out;
  if (n > 0) {
    p = Put(p, kPacketOpen);
    for (int i = 0; i < n; ++i) {
      const XmlEntry& e = entries[i];
      p = Put(p, kMessageOpen);
      p = Put(p, kSetWord);
      p = PutIntArgument(p, kIntegerHead, e.id);
      for (float v : {e.x, e.y, e.dx, e.dy}) p = PutFloatArgument(p, v);
      p = Put(p, kZeroFloat);
      p = Put(p, kZeroFloat);
      p = Put(p, kMessageClose);
    }
    p = Put(p, kMessageOpen);
    p = Put(p, kAliveWord);
    for (int i = 0; i < n; ++i) p = PutIntArgument(p, kIntegerHead, entries[i].id);
    p = Put(p, kMessageClose);
    p = Put(p, kMessageOpen);
    p = PutIntArgument(p, kFseqHead, documentCounter);
    p = Put(p, kMessageClose);
    p = Put(p, kPacketClose);
  }
  *p = '\0';
  return std::size_t(p - out);
}

}  // namespace xmldoc
