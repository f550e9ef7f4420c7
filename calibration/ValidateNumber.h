#pragma once
// The check behind the dialog's number fields: a decimal integer read from
// the start of the text as "%d" reads it (leading white space and a sign,
// trailing characters ignored), then a range check with both ends included.
#include <cstdint>
#include <string>

struct NumberCheck {
  enum Result { kValid, kNotANumber, kOutOfRange };
  Result result = kNotANumber;
  std::int32_t value = 0;  // kValid only
  std::string message;     // what the user is told; empty when valid
};

// A number beyond the 32-bit range is out of range (never wrapped into it).
NumberCheck CheckNumber(const std::string& text, std::int32_t minimum, std::int32_t maximum);

extern const char kNotANumberMessage[];  // "Please input a number."
// "Please input a number from<min>to<max>."
std::string RangeMessage(std::int32_t minimum, std::int32_t maximum);
