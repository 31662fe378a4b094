#pragma once
// The order of two files' versions for FileVersion.compare0, from the file-version pair of
// their fixed version records.

#include <cstdint>
#include <optional>

namespace shipkit::natives {

struct FileVersionPair {
  std::uint32_t mostSignificant;   // dwFileVersionMS
  std::uint32_t leastSignificant;  // dwFileVersionLS
};

// 0 equal, 1 the first is higher, 2 the second is higher, 3 either cannot be read. Both
// halves compare unsigned, most significant first.
int compareFileVersions(const std::optional<FileVersionPair>& first,
                        const std::optional<FileVersionPair>& second);

}  // namespace shipkit::natives
