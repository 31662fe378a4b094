#pragma once
// Payload file names as stored in the container; no system calls.

#include <string_view>

namespace shipkit::payload {

// Whether a name component addresses a device rather than a file: CON, PRN, AUX, NUL,
// COM1-COM9, LPT1-LPT9 (also with the superscript digits ¹²³ in the ANSI code page),
// CONIN$ and CONOUT$, in any case, also with an extension ("CON.txt") or blanks before it.
inline bool isDosDeviceName(std::string_view part) {
  std::string_view base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
  auto is = [&](std::string_view word) {
    if (base.size() != word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
      if (upper(base[i]) != word[i]) return false;
    return true;
  };
  if (is("CON") || is("PRN") || is("AUX") || is("NUL") || is("CONIN$") || is("CONOUT$")) return true;
  if (base.size() != 4) return false;
  const auto digit = static_cast<unsigned char>(base[3]);
  const bool numbered = (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  const std::string_view stem = base.substr(0, 3);
  auto stemIs = [&](std::string_view word) {
    return upper(stem[0]) == word[0] && upper(stem[1]) == word[1] && upper(stem[2]) == word[2];
  };
  return numbered && (stemIs("COM") || stemIs("LPT"));
}

// A name stays inside the extraction directory and names a plain file there when it is
// relative (no drive letter, no leading separator), has no empty component, no component made
// only of dots and blanks ("..", ". ."), none ending in a dot or blank (Windows drops those, so
// the file written would not be the one named), no device name, no forward slash (which
// Windows also takes as a separator) and no character that Windows refuses in file names.
inline bool payloadNameIsSafe(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || c == '/' || c == ':' || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' ||
        c == '*')
      return false;
  }
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find('\\', start);
    if (end == std::string_view::npos) end = name.size();
    std::string_view part = name.substr(start, end - start);
    if (part.find_first_not_of(". ") == std::string_view::npos) return false;
    if (part.back() == '.' || part.back() == ' ') return false;
    if (isDosDeviceName(part)) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace shipkit::payload
