#pragma once
// The bytes of the test blocks that pipepeer and the pipe tests exchange: every offset and
// every length gives other bytes, so a lost, doubled or shifted piece shows.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pipepeer {

inline std::uint8_t patternByte(std::size_t length, std::size_t offset) {
  return std::uint8_t(offset * 131 + offset / 251 + length * 17 + 5);
}

inline std::vector<std::uint8_t> patternBlock(std::size_t length) {
  std::vector<std::uint8_t> bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = patternByte(length, i);
  return bytes;
}

}  // namespace pipepeer
