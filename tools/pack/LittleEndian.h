#pragma once
// Little-endian fields of a PE image held in a byte string, and alignment. Offsets are
// checked by the callers.

#include <cstdint>
#include <string>
#include <string_view>

namespace shipkit::pack::le {

inline uint32_t get(std::string_view b, uint64_t at, int width) {
  uint32_t v = 0;
  for (int i = 0; i < width; ++i) v |= uint32_t(static_cast<unsigned char>(b[at + i])) << (8 * i);
  return v;
}

inline void put(std::string& b, uint64_t at, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

inline uint64_t alignUp(uint64_t v, uint64_t a) {
  return (v + a - 1) / a * a;
}

}  // namespace shipkit::pack::le
