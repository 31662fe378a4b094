#pragma once
// PATH-style list handling without system calls.

#include <string>
#include <string_view>
#include <vector>

namespace shipkit::core {

// Splits at ";"; empty entries are dropped.
template <typename Char>
std::vector<std::basic_string<Char>> splitList(std::basic_string_view<Char> list) {
  std::vector<std::basic_string<Char>> out;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(Char(';'), start);
    if (end == std::basic_string_view<Char>::npos) end = list.size();
    if (end > start) out.emplace_back(list.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

// Keeps the entries that do not begin with `windowsDir` (A-Z compared without case over
// the directory's length only, so a sibling sharing the prefix goes too), joined with ";".
std::wstring reducedPath(std::wstring_view path, std::wstring_view windowsDir);

}  // namespace shipkit::core
