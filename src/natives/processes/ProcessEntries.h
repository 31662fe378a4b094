#pragma once
// Texts of the process natives that do not need Windows: process list entries ("<id> <path>"),
// the rule that asks again for a path ending in ".tmp", and the entries of an environment block.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace shipkit::natives {

// One process list entry lives in a buffer of this many characters, its zero included.
inline constexpr std::size_t kEntryBufferUnits = 4096;

// "%d " of the process id: the decimal id and one space.
std::wstring processEntryPrefix(std::uint32_t processId);

// Room left for the path behind the prefix, its terminating zero included.
std::size_t pathRoom(std::size_t prefixLength);

// Whether the path must be read again through the main module's file name: the entry is
// longer than four characters, ends in ".tmp" (exactly this case), and the path came from
// the full image name query (which names the file that was started, not the one mapped).
bool needsModuleRequery(std::wstring_view entry, bool fromFullImageName);

// The entries of an environment block in block order: each runs up to its zero, and the
// first empty entry ends the block. Text after the last zero within `block` is an entry too.
std::vector<std::wstring_view> environmentEntries(std::wstring_view block);

}  // namespace shipkit::natives
