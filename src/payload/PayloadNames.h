#pragma once
// Payload file names as stored in the container; no system calls.

#include <string_view>

namespace shipkit::payload {

// A name stays inside the extraction directory when it is relative (no drive letter, no
// leading separator), has no component made only of dots and blanks ("..", ". .") and no empty component, and
// no forward slash (which Windows would also take as a separator).
inline bool payloadNameIsSafe(std::string_view name) {
  if (name.empty() || name.find('/') != std::string_view::npos || name.find(':') != std::string_view::npos)
    return false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('\\', start);
    if (end == std::string_view::npos) end = name.size();
    std::string_view part = name.substr(start, end - start);
    // Windows drops trailing dots and blanks, so ". ." and "..." name the same as "..".
    if (part.find_first_not_of(". ") == std::string_view::npos) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace shipkit::payload
