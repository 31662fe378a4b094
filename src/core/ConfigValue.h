#pragma once
// How configuration entries are read as numbers; no system calls.

#include <cstdint>
#include <string_view>

namespace shipkit::core {

// A signed decimal: leading white space skipped, an optional sign, digits up to the first
// non-digit, clamped to the 32-bit range. Empty or non-numeric text is 0; so is "0x10".
inline int32_t parseConfigInt(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t(INT32_MAX) + 1) value = int64_t(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace shipkit::core
