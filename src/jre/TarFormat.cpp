#include "jre/TarFormat.h"

#include <array>
#include <vector>

namespace shipkit::jre {

namespace {

constexpr std::size_t kNameOffset = 0, kNameLength = 100;
constexpr std::size_t kSizeOffset = 124, kSizeLength = 12;
constexpr std::size_t kTypeOffset = 156;
constexpr std::size_t kLinkOffset = 157, kLinkLength = 100;
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

// CON, PRN, AUX, NUL, COM0-9, LPT0-9 (also with the superscript digits ¹²³, as the ANSI
// bytes 0xB9 0xB2 0xB3 and in UTF-8), CONIN$, CONOUT$, CLOCK$, with any extension and
// trailing spaces: Windows opens the device instead of a file of that name.
bool isDeviceName(std::string_view part) {
  std::string base;
  for (char c : part.substr(0, part.find('.'))) base += upper(c);
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static constexpr std::array<std::string_view, 7> kFixed = {"CON",    "PRN",     "AUX",   "NUL",
                                                             "CONIN$", "CONOUT$", "CLOCK$"};
  for (auto name : kFixed)
    if (base == name) return true;
  if (!base.starts_with("COM") && !base.starts_with("LPT")) return false;
  std::string_view digit = std::string_view(base).substr(3);
  auto superscript = [](char c) { return c == '\xB9' || c == '\xB2' || c == '\xB3'; };
  if (digit.size() == 1) return (digit[0] >= '0' && digit[0] <= '9') || superscript(digit[0]);
  return digit.size() == 2 && digit[0] == '\xC2' && superscript(digit[1]);
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
  if (hasBinarySize(header)) {
    int64_t value = 0;
    for (char c : f.substr(1)) {
      value = value * 256 + static_cast<unsigned char>(c);
      if (value > INT32_MAX) return std::nullopt;
    }
    return int32_t(value);
  }
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

bool hasBinarySize(std::string_view header) {
  return header.size() > kSizeOffset && static_cast<unsigned char>(header[kSizeOffset]) == 0x80;
}

std::string tarLinkName(std::string_view header) {
  return std::string(field(header, kLinkOffset, kLinkLength));
}

bool isZeroBlock(std::string_view block) {
  return block.find_first_not_of('\0') == std::string_view::npos;
}

bool parsePaxRecords(std::string_view data, PaxHeader& into) {
  while (!data.empty() && data.front() != '\0') {
    // "<length> <key>=<value>\n", the length counting the whole record.
    std::size_t space = data.find(' ');
    if (space == 0 || space > 9 || space == std::string_view::npos) return false;
    std::size_t length = 0;
    for (char c : data.substr(0, space)) {
      if (c < '0' || c > '9') return false;
      length = length * 10 + std::size_t(c - '0');
    }
    if (length <= space + 2 || length > data.size() || data[length - 1] != '\n') return false;
    std::string_view record = data.substr(space + 1, length - space - 2);
    data.remove_prefix(length);
    std::size_t equals = record.find('=');
    if (equals == 0 || equals == std::string_view::npos) return false;
    std::string_view key = record.substr(0, equals), value = record.substr(equals + 1);
    if (key.starts_with("GNU.sparse.")) {
      into.sparse = true;
    } else if (key == "hdrcharset") {
      into.binaryNames = value == "BINARY";
    } else if (key == "path" || key == "linkpath") {
      auto& target = key == "path" ? into.path : into.linkpath;
      if (value.empty())
        target.reset();
      else
        target = std::string(value);
    } else if (key == "size") {
      if (value.empty()) {
        into.size.reset();
        continue;
      }
      if (value.size() > 18 || value.find_first_not_of("0123456789") != std::string_view::npos) return false;
      int64_t size = 0;
      for (char c : value) size = size * 10 + (c - '0');
      into.size = size;
    }
  }
  return true;
}

bool isValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t n = 0;
    uint32_t cp = 0, least = 0;
    if ((c & 0xE0) == 0xC0) {
      n = 1, cp = c & 0x1F, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2, cp = c & 0x0F, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3, cp = c & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (i + n >= text.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const auto t = static_cast<unsigned char>(text[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = cp << 6 | (t & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF have no UTF-16 form.
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
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

std::string memberKey(std::string_view name) {
  std::string key;
  while (!name.empty()) {
    std::size_t end = name.find_first_of("/\\");
    std::string_view part = name.substr(0, end);
    if (!part.empty() && part != ".") {
      if (!key.empty()) key += '\\';
      for (char c : part) key += c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
    }
    if (end == std::string_view::npos) break;
    name.remove_prefix(end + 1);
  }
  return key;
}

std::optional<std::string> symlinkTargetKey(std::string_view link, std::string_view target) {
  if (target.empty() || target.front() == '/' || target.front() == '\\' || target.find(':') != target.npos)
    return std::nullopt;
  std::vector<std::string_view> parts;
  auto split = [&parts](std::string_view path, bool dropLast) {
    std::vector<std::string_view> pieces;
    while (true) {
      std::size_t end = path.find_first_of("/\\");
      pieces.push_back(path.substr(0, end));
      if (end == std::string_view::npos) break;
      path.remove_prefix(end + 1);
    }
    if (dropLast) pieces.pop_back();
    for (std::string_view p : pieces) {
      if (p.empty() || p == ".") continue;
      if (p == "..") {
        if (parts.empty()) return false;
        parts.pop_back();
      } else {
        parts.push_back(p);
      }
    }
    return true;
  };
  // The link's own name ends in its file name; the target is relative to its directory.
  std::string_view dir = link;
  while (!dir.empty() && (dir.back() == '/' || dir.back() == '\\')) dir.remove_suffix(1);
  if (!split(dir, true) || !split(target, false) || parts.empty()) return std::nullopt;
  std::string joined;
  for (std::string_view p : parts) {
    if (!joined.empty()) joined += '\\';
    joined += p;
  }
  return memberKey(joined);
}

int untarProgress(int64_t position, int32_t total) {
  if (total <= 0 || position <= 0) return 100;
  float share = float(position) / float(total) * 100.0f;
  if (share >= 100.0f) return 200;
  return 100 + int(share);
}

}  // namespace shipkit::jre
