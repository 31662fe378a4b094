#include "natives/shell/FolderCodes.h"

namespace shipkit::natives {

namespace {

struct CsidlRow {
  int code;
  int user;
  int allUsers;
};

constexpr CsidlRow kCsidlRows[] = {
    {1, 16, 25},   // CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY
    {2, 11, 22},   // CSIDL_STARTMENU, CSIDL_COMMON_STARTMENU
    {3, 2, 23},    // CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS
    {4, 7, 24},    // CSIDL_STARTUP, CSIDL_COMMON_STARTUP
    {5, 9, 9},     // CSIDL_SENDTO
    {6, 20, 20},   // CSIDL_FONTS
    {7, 26, 35},   // CSIDL_APPDATA, CSIDL_COMMON_APPDATA
    {8, 5, 46},    // CSIDL_PERSONAL, CSIDL_COMMON_DOCUMENTS
    {9, 21, 45},   // CSIDL_TEMPLATES, CSIDL_COMMON_TEMPLATES
    {10, 6, 31},   // CSIDL_FAVORITES, CSIDL_COMMON_FAVORITES
    {11, 28, 28},  // CSIDL_LOCAL_APPDATA
};

constexpr int kCsidlDesktop = 0;

constexpr FolderId kDownloads{0x374DE290, 0x123F, 0x4565, {0x91, 0x64, 0x39, 0xC4, 0x92, 0x5E, 0x46, 0x7B}};
constexpr FolderId kUserProgramFiles{
    0x5CD7AEE2, 0x2219, 0x4A67, {0xB8, 0x5D, 0x6C, 0x9C, 0xE1, 0x56, 0x60, 0xCB}};
constexpr FolderId kUserProgramFilesCommon{
    0xBCBD3057, 0xCA5C, 0x4622, {0xB4, 0x2D, 0xBC, 0x56, 0xDB, 0x0A, 0xE5, 0x16}};
constexpr FolderId kProfile{0x5E6C858F, 0x0E22, 0x4760, {0x9A, 0xFE, 0xEA, 0x33, 0x17, 0xB6, 0x71, 0x73}};

}  // namespace

int csidlOfCode(int code, bool allUsers) {
  for (const CsidlRow& row : kCsidlRows) {
    if (row.code == code) return allUsers ? row.allUsers : row.user;
  }
  return kCsidlDesktop;
}

FolderId knownFolderOfCode(int code) {
  switch (code) {
    case 1001:
      return kDownloads;
    case 1002:
      return kUserProgramFiles;
    case 1003:
      return kUserProgramFilesCommon;
    default:
      return kProfile;
  }
}

}  // namespace shipkit::natives
