#include "natives/pipes/DataBlock.h"

#include <limits>

namespace shipkit::natives {

BlockHeader encodeBlockLength(std::uint32_t length) {
  return {std::uint8_t(length), std::uint8_t(length >> 8), std::uint8_t(length >> 16),
          std::uint8_t(length >> 24)};
}

std::optional<std::int32_t> decodeBlockLength(const BlockHeader& header) {
  const std::uint32_t length = std::uint32_t(header[0]) | std::uint32_t(header[1]) << 8 |
                               std::uint32_t(header[2]) << 16 | std::uint32_t(header[3]) << 24;
  if (length > std::uint32_t(std::numeric_limits<std::int32_t>::max())) return std::nullopt;
  return std::int32_t(length);
}

}  // namespace shipkit::natives
