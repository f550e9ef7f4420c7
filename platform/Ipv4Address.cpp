#include "platform/Ipv4Address.h"

namespace platform {

bool ParseIpv4(std::string_view text, std::uint32_t& out) {
  std::uint32_t address = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (text.empty() || text.front() != '.') return false;
      text.remove_prefix(1);
    }
    std::size_t digits = 0;
    unsigned value = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9' && digits < 4)
      value = value * 10 + unsigned(text[digits++] - '0');
    if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[0] == '0')) return false;
    address = (address << 8) | value;
    text.remove_prefix(digits);
  }
  if (!text.empty()) return false;
  out = address;
  return true;
}

}  // namespace platform
