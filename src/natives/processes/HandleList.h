#pragma once
// The system's list of open handles as the native system interface answers it, read without
// Windows: the basic form (information class 16: 16-bit process ids and handle values) and
// the extended form (class 64: full-width ids and values), and which entries name open files.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace shipkit::natives {

enum class HandleListForm {
  Basic,     // count (32 bits), entries of 24 bytes from offset 8
  Extended,  // count (64 bits), reserved (64 bits), entries of 40 bytes from offset 16
};

struct HandleEntry {
  // Basic form: the entry's first 32 bits (process id and creator back-trace index), so that
  // it equals a process id only when that id is below 65536 and the index is 0.
  std::uint64_t processId = 0;
  std::uint64_t value = 0;
  std::uint32_t grantedAccess = 0;

  bool operator==(const HandleEntry&) const = default;
};

// The entries the list holds; none when the data is shorter than the count it states.
std::optional<std::vector<HandleEntry>> parseHandleList(std::span<const std::uint8_t> data,
                                                        HandleListForm form);

// Whether the name of a handle of this file type (GetFileType) may be asked for: disk files
// only. A name query on a pipe or a character device waits while a synchronous read on it is
// in progress (a thread reading from an anonymous pipe end would block the listing for ever);
// those handles, and handles of unknown or remote type, are skipped as nameless ones are.
inline constexpr std::uint32_t kFileTypeDisk = 0x0001;  // FILE_TYPE_DISK
bool nameMayBeQueried(std::uint32_t fileType);

// An entry is listed when the object's type is exactly "File" and its name is not empty.
bool isOpenFile(std::wstring_view typeName, std::wstring_view objectName);

// The next size of the query buffer after the system said it was too small (it starts at
// 65536 bytes and doubles); 0 once the next size would pass 1 GiB (the query then fails).
inline constexpr std::size_t kFirstHandleQueryBytes = 65536;
std::size_t nextHandleQueryBytes(std::size_t current);

}  // namespace shipkit::natives
