#pragma once
// The special-folder codes of FolderInfo.getSpecialFolder0: codes up to 1000 name a CSIDL
// value (one column for the user, one for all users), codes above 1000 a known-folder id.

#include <array>
#include <cstdint>

namespace shipkit::natives {

inline constexpr int kLastCsidlCode = 1000;
inline constexpr int kCsidlFlagCreate = 0x8000;  // CSIDL_FLAG_CREATE: create the folder if missing

// A GUID in its four fields, so that the table needs no Windows header.
struct FolderId {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::array<std::uint8_t, 8> data4;
  friend bool operator==(const FolderId&, const FolderId&) = default;
};

// The CSIDL of a code up to 1000; CSIDL_DESKTOP (0) for codes outside the table.
int csidlOfCode(int code, bool allUsers);

// The known folder of a code above 1000; FOLDERID_Profile for codes outside the table.
FolderId knownFolderOfCode(int code);

}  // namespace shipkit::natives
