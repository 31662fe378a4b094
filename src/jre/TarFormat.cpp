#include "jre/TarFormat.h"

#include <array>

namespace shipkit::jre {

namespace {

constexpr std::size_t kNameOffset = 0, kNameLength = 100;
constexpr std::size_t kSizeOffset = 124, kSizeLength = 12;
constexpr std::size_t kTypeOffset = 156;
constexpr std::size_t kMagicOffset = 257;
constexpr std::size_t kPrefixOffset = 345, kPrefixLength = 155;

// A field up to its first NUL or its full width; empty when the header is too short.
std::string_view field(std::string_view header, std::size_t offset, std::size_t length) {
  if (header.size() < offset) return {};
  std::string_view f = header.substr(offset, length);
  return f.substr(0, f.find('\0'));
}

char upper(char c) {
  return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

// CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, CLOCK$, with any extension and
// trailing spaces: Windows opens the device instead of a file of that name.
bool isDeviceName(std::string_view part) {
  std::string base;
  for (char c : part.substr(0, part.find('.'))) base += upper(c);
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static constexpr std::array<std::string_view, 7> kFixed = {"CON",    "PRN",     "AUX",   "NUL",
                                                             "CONIN$", "CONOUT$", "CLOCK$"};
  for (auto name : kFixed)
    if (base == name) return true;
  return base.size() == 4 && (base.starts_with("COM") || base.starts_with("LPT")) && base[3] >= '0' &&
         base[3] <= '9';
}

bool isUnsafePart(std::string_view part) {
  if (part == ".") return false;
  if (part.empty() || part.find_first_not_of(". ") == std::string_view::npos) return true;
  return isDeviceName(part);
}

}  // namespace

std::optional<int32_t> parseTarSize(std::string_view header) {
  if (header.size() < kSizeOffset + kSizeLength) return std::nullopt;
  std::string_view f = header.substr(kSizeOffset, kSizeLength);
  int64_t value = 0;
  bool digitTaken = false;
  for (char c : f) {
    if (c == '\0') break;
    if (!digitTaken && (c == ' ' || c == '0')) continue;
    if (digitTaken && c == ' ') break;
    // A byte with the high bit set is the binary form of a size beyond the octal field.
    if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
    digitTaken = true;
    value = value * 8 + (c - '0');
    if (value < 0 || value > INT32_MAX) return std::nullopt;
  }
  return int32_t(value);
}

char tarTypeflag(std::string_view header) {
  return header.size() > kTypeOffset ? header[kTypeOffset] : '\0';
}

bool hasTarMagic(std::string_view header) {
  return header.size() >= kMagicOffset + 5 && header.substr(kMagicOffset, 5) == "ustar";
}

std::string tarHeaderName(std::string_view header) {
  std::string name;
  // Only the POSIX form carries a prefix there; the old GNU form keeps other fields at
  // that offset.
  if (header.size() >= kMagicOffset + 8 && header.substr(kMagicOffset, 8) == std::string_view("ustar\0"
                                                                                              "00",
                                                                                              8)) {
    name = field(header, kPrefixOffset, kPrefixLength);
    if (!name.empty()) name += '/';
  }
  name += field(header, kNameOffset, kNameLength);
  for (char& c : name)
    if (c == '/') c = '\\';
  return name;
}

bool isSafeMemberName(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.front() == '\\') return false;
  for (char c : name)
    if (c == ':' || static_cast<unsigned char>(c) < 0x20) return false;
  // One trailing separator marks a directory; any other empty part is refused.
  if (name.back() == '/' || name.back() == '\\') name.remove_suffix(1);
  while (true) {
    std::size_t end = name.find_first_of("/\\");
    if (isUnsafePart(name.substr(0, end))) return false;
    if (end == std::string_view::npos) return true;
    name.remove_prefix(end + 1);
  }
}

int untarProgress(int64_t position, int32_t total) {
  if (total <= 0 || position <= 0) return 100;
  float share = float(position) / float(total) * 100.0f;
  if (share >= 100.0f) return 200;
  return 100 + int(share);
}

}  // namespace shipkit::jre
