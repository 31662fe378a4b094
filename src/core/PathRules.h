#pragma once
// Path text rules shared by the narrow and wide path functions; no system calls.

#include <string>
#include <string_view>

namespace shipkit::core {

// Absolute means: after one optional leading double quote, a drive letter with ":\" or a
// leading "\\"; anything shorter than three characters is relative.
template <typename Char>
bool isRelative(std::basic_string_view<Char> path) {
  if (!path.empty() && path[0] == Char('"')) path.remove_prefix(1);
  if (path.size() < 3) return true;
  if (path[1] == Char(':') && path[2] == Char('\\')) return false;
  if (path[0] == Char('\\') && path[1] == Char('\\')) return false;
  return true;
}

// Removes every backslash that directly follows a backslash, keeping the first two
// characters as they are so that a network path's leading "\\" survives.
template <typename Char>
std::basic_string<Char> collapseBackslashes(std::basic_string_view<Char> path) {
  std::basic_string<Char> out;
  out.reserve(path.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (i >= 2 && path[i] == Char('\\') && path[i - 1] == Char('\\')) continue;
    out += path[i];
  }
  return out;
}

// Lower-cases A-Z only; other characters are left alone whatever the code page.
template <typename Char>
std::basic_string<Char> lowerAZ(std::basic_string_view<Char> text) {
  std::basic_string<Char> out(text);
  for (auto& c : out)
    if (c >= Char('A') && c <= Char('Z')) c = Char(c - Char('A') + Char('a'));
  return out;
}

// "X:\", "X:\." and "X:\.\." exist without looking (a directory search cannot find a root).
template <typename Char>
bool isDriveRootForm(std::basic_string_view<Char> path) {
  if (path.size() < 3 || path[1] != Char(':') || path[2] != Char('\\')) return false;
  std::basic_string_view<Char> rest = path.substr(3);
  static constexpr Char kDot[] = {Char('.'), 0};
  static constexpr Char kDotDot[] = {Char('.'), Char('\\'), Char('.'), 0};
  return rest.empty() || rest == kDot || rest == kDotDot;
}

// At least five characters ending in ".exe", case-insensitively.
template <typename Char>
bool endsWithExe(std::basic_string_view<Char> path) {
  if (path.size() < 5) return false;
  std::basic_string<Char> tail = lowerAZ(path.substr(path.size() - 4));
  return tail[0] == Char('.') && tail[1] == Char('e') && tail[2] == Char('x') && tail[3] == Char('e');
}

// The directory part of a path with its trailing backslash ("" when there is none).
template <typename Char>
std::basic_string<Char> directoryOf(std::basic_string_view<Char> path) {
  std::size_t slash = path.find_last_of(Char('\\'));
  if (slash == std::basic_string_view<Char>::npos) return {};
  return std::basic_string<Char>(path.substr(0, slash + 1));
}

}  // namespace shipkit::core
