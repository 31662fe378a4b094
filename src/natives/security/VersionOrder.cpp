#include "natives/security/VersionOrder.h"

namespace shipkit::natives {

int compareFileVersions(const std::optional<FileVersionPair>& first,
                        const std::optional<FileVersionPair>& second) {
  if (!first || !second) return 3;
  auto order = [](std::uint32_t a, std::uint32_t b) { return a > b ? 1 : a < b ? 2 : 0; };
  const int high = order(first->mostSignificant, second->mostSignificant);
  return high != 0 ? high : order(first->leastSignificant, second->leastSignificant);
}

}  // namespace shipkit::natives
