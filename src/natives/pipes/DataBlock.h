#pragma once
// The wire format of the data blocks exchanged over a named pipe, and the loops that move a
// block through a pipe that may take or give it in pieces. No system calls: the pipe is
// reached through a step function.
//
//   offset 0, 4 bytes: payload length N, unsigned 32-bit little-endian
//   offset 4, N bytes: the payload
//
// Blocks follow each other with no separator. N becomes the length of a Java byte array, so
// a header announcing more than 2^31 - 1 bytes cannot be received.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace shipkit::natives {

inline constexpr std::size_t kBlockHeaderSize = 4;
using BlockHeader = std::array<std::uint8_t, kBlockHeaderSize>;

BlockHeader encodeBlockLength(std::uint32_t length);

// The payload length a header announces; none when it exceeds the largest Java array.
std::optional<std::int32_t> decodeBlockLength(const BlockHeader& header);

// Moves `total` bytes in as many steps as the pipe needs. `step(offset, remaining)` moves
// some of the bytes from `offset` on and returns how many, or none when the call failed.
// A step that moves nothing also ends the transfer as failed: a pipe that makes no progress
// would otherwise spin the loop for ever. True when all bytes moved.
template <typename Step>
bool transferAll(std::size_t total, Step&& step) {
  std::size_t done = 0;
  while (done < total) {
    std::optional<std::size_t> moved = step(done, total - done);
    if (!moved || *moved == 0 || *moved > total - done) return false;
    done += *moved;
  }
  return true;
}

}  // namespace shipkit::natives
