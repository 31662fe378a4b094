#pragma once
// The subset of the tar format that shipped runtime archives use: 512-byte blocks, of which
// a header's first 500 bytes are read (name, size, typeflag, magic, prefix), and the rules
// that keep every member inside the target directory.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace shipkit::jre {

inline constexpr std::size_t kTarBlock = 512;
// The part of a header block that is read; the remaining 12 bytes are skipped.
inline constexpr std::size_t kHeaderRead = 500;
// Member names (the header's field or a long name) live in a buffer of this many bytes.
inline constexpr std::size_t kNameBuffer = 6000;

inline constexpr char kTypeRegular = '0';
inline constexpr char kTypeDirectory = '5';
inline constexpr char kTypeLongName = 'L';

// The header's size field (12 characters at offset 124): leading spaces and '0' skipped, a
// space after the first digit or a NUL ends it, every other character adds as an octal
// digit. None when the value leaves the signed 32-bit range at any step or a byte has its
// high bit set (the binary form of a larger size): a corrupt header.
std::optional<int32_t> parseTarSize(std::string_view header);

char tarTypeflag(std::string_view header);

// Whether the 5 bytes at offset 257 are "ustar" (POSIX "ustar\0" and GNU "ustar " alike).
bool hasTarMagic(std::string_view header);

// The member name of a header: the POSIX prefix (only in a POSIX "ustar\0" "00" header),
// a '/' and the name field, each up to its first NUL or its full width, '/' turned into '\'.
std::string tarHeaderName(std::string_view header);

// Whether a member name stays below the target directory when created relative to it:
// no "..", no part of dots and spaces only (other than "."), no empty part except one
// trailing separator, no leading separator, no ':' (drive letters, streams), no DOS device
// name as a part, no control characters.
bool isSafeMemberName(std::string_view name);

// The progress bar position of the untar step: 100 + position / total * 100 in single
// precision, truncated; kept within 100..200, and 100 when the total is unknown (<= 0).
int untarProgress(int64_t position, int32_t total);

}  // namespace shipkit::jre
