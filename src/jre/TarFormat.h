#pragma once
// The tar format as runtime archives use it: 512-byte blocks; ustar, GNU and pax headers
// (name, size, typeflag, link name, magic, prefix, GNU long names, pax records); and the rules
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
inline constexpr char kTypeLongLink = 'K';
inline constexpr char kTypeHardLink = '1';
inline constexpr char kTypeSymlink = '2';
inline constexpr char kTypePax = 'x';
inline constexpr char kTypePaxGlobal = 'g';
inline constexpr char kTypeSparse = 'S';
// Extended header data read into memory at most: paths, times and a few attributes take far
// less; more is a damaged or hostile archive.
inline constexpr int32_t kPaxLimit = 1 << 20;

// The header's size field (12 characters at offset 124): leading spaces and '0' skipped, a
// space after the first digit or a NUL ends it, every other character adds as an octal
// digit. The base-256 form (first byte 0x80, big-endian value in the other 11 bytes) is read
// as a number. None when the value leaves the signed 32-bit range at any step, is negative
// (first byte 0xFF) or another byte has its high bit set: a size the launcher cannot hold.
std::optional<int32_t> parseTarSize(std::string_view header);
// Whether the size field is in the base-256 form.
bool hasBinarySize(std::string_view header);

// The link name field (100 characters at offset 157), up to its first NUL, as stored.
std::string tarLinkName(std::string_view header);

// Whether a block is all zero bytes (the end of an archive).
bool isZeroBlock(std::string_view block);

// What a pax extended header ('x') says about the next member. Records with an empty value
// remove the key again; keys the launcher does not use are ignored.
struct PaxHeader {
  std::optional<std::string> path, linkpath;  // UTF-8 unless binaryNames
  std::optional<int64_t> size;
  bool sparse = false;       // a GNU.sparse.* key: the member's data is a sparse map
  bool binaryNames = false;  // hdrcharset=BINARY: names are bytes as stored
};
// Merges the records ("<length> <key>=<value>\n") of an extended header's data into `into`;
// false when a record is malformed.
bool parsePaxRecords(std::string_view data, PaxHeader& into);

bool isValidUtf8(std::string_view text);

char tarTypeflag(std::string_view header);

// Whether the 5 bytes at offset 257 are "ustar" (POSIX "ustar\0" and GNU "ustar " alike).
bool hasTarMagic(std::string_view header);

// The member name of a header: the POSIX prefix (only in a POSIX "ustar\0" "00" header),
// a '/' and the name field, each up to its first NUL or its full width, '/' turned into '\'.
std::string tarHeaderName(std::string_view header);

// Whether a member name stays below the target directory when created relative to it:
// no "..", no part of dots and spaces only (other than "."), no empty part except one
// trailing separator, no leading separator, no ':' (drive letters, streams), no DOS device
// name as a part (COM¹ and the like included, in the ANSI code page and in UTF-8), no
// control characters.
bool isSafeMemberName(std::string_view name);

// The name under which a member's file is known for links: parts split at '/' and '\', "."
// and empty parts dropped, ASCII letters in lower case (Windows file names ignore case).
std::string memberKey(std::string_view name);

// The key of the member a symbolic link named `link` points at with `target` (relative to
// the link's directory), or none when the target is absolute or leaves the tree.
std::optional<std::string> symlinkTargetKey(std::string_view link, std::string_view target);

// The progress bar position of the untar step: 100 + position / total * 100 in single
// precision, truncated; kept within 100..200, and 100 when the total is unknown (<= 0).
int untarProgress(int64_t position, int32_t total);

}  // namespace shipkit::jre
