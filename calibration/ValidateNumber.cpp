#include "calibration/ValidateNumber.h"

const char kNotANumberMessage[] = "Please input a number.";

std::string RangeMessage(std::int32_t minimum, std::int32_t maximum) {
  return "Please input a number from" + std::to_string(minimum) + "to" + std::to_string(maximum) +
         ".";
}

namespace {
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
}  // namespace

NumberCheck CheckNumber(const std::string& text, std::int32_t minimum, std::int32_t maximum) {
  NumberCheck check;
  std::size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') {
    check.message = kNotANumberMessage;
    return check;
  }
  // Digits beyond what a 64-bit value holds only make it larger: saturate
  // once past the 32-bit range, so any length of digits stays defined.
  constexpr std::int64_t kBeyond = std::int64_t{1} << 32;
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (magnitude < kBeyond) magnitude = magnitude * 10 + (text[i] - '0');
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value < minimum || value > maximum) {
    check.result = NumberCheck::kOutOfRange;
    check.message = RangeMessage(minimum, maximum);
    return check;
  }
  check.result = NumberCheck::kValid;
  check.value = static_cast<std::int32_t>(value);
  return check;
}
