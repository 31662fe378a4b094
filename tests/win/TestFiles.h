#pragma once
// File-system and naming helpers shared by the Windows tests.

#include <objbase.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/Log.h"
#include "win/LateBound.h"

namespace wintest {

// The whole diagnostic log of this process so far ("" without one).
inline std::string logText() {
  auto path = shipkit::core::getLogPath();
  if (!path) return {};
  std::ifstream in(std::filesystem::path(*path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A name no other test run uses: a fresh GUID without braces. Process ids are no good for
// this under Wine, which hands the same ids out again within seconds.
inline std::wstring uniqueName() {
  GUID guid{};
  wchar_t text[40] = {};
  if (CoCreateGuid(&guid) != S_OK || StringFromGUID2(guid, text, 40) == 0) return L"no-guid";
  std::wstring name(text);
  return name.substr(1, name.size() - 2);
}

inline std::string uniqueNameA() {
  std::wstring wide = uniqueName();
  return std::string(wide.begin(), wide.end());
}

// Runs a Linux program through its Z: path with Unix path arguments; Wine cannot wait on
// its process, so the caller polls for the result.
inline bool startUnixProgram(const std::wstring& program, const std::vector<std::wstring>& paths) {
  using UnixName = char*(CDECL*)(const wchar_t*);
  auto unixName = shipkit::win::procAddress<UnixName>(GetModuleHandleW(L"kernel32.dll"),
                                                      "wine_get_unix_file_name");
  if (!unixName) return false;
  std::wstring command = program;
  for (const std::wstring& path : paths) {
    char* name = unixName(path.c_str());
    if (!name) return false;
    command += L" \"" + std::wstring(name, name + strlen(name)) + L"\"";
    HeapFree(GetProcessHeap(), 0, name);
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return false;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

// Polls (10 s at most) until the path's attributes are valid (`present`) or invalid.
inline DWORD awaitPath(const std::wstring& path, bool present) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  for (int i = 0; i < 500 && (attributes != INVALID_FILE_ATTRIBUTES) != present; ++i) {
    Sleep(20);
    attributes = GetFileAttributesW(path.c_str());
  }
  return attributes;
}

// Makes `link` a directory link to `target` as Wine 8 really shows one: a Unix symbolic link
// made by ln on the Linux side (CreateSymbolicLinkW answers TRUE there and creates nothing).
// Returns the link's attributes as Windows reports them (INVALID_FILE_ATTRIBUTES when no
// link appeared within 10 s).
inline DWORD makeDirectoryLink(const std::wstring& link, const std::wstring& target) {
  if (!startUnixProgram(L"Z:\\bin\\ln -s", {target, link})) return INVALID_FILE_ATTRIBUTES;
  return awaitPath(link, true);
}

// Removes such a link on the Linux side (no Windows function removes the link itself under
// Wine 8); true when it is gone.
inline bool unlinkDirectoryLink(const std::wstring& link) {
  if (GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
  return startUnixProgram(L"Z:\\bin\\rm -f", {link}) && awaitPath(link, false) == INVALID_FILE_ATTRIBUTES;
}

// Whether this system opens a link itself when asked to (Windows) rather than its target
// (Wine 8 ignores FILE_FLAG_OPEN_REPARSE_POINT).
inline bool opensLinkItself(const std::wstring& link) {
  HANDLE h =
      CreateFileW(link.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILE_ATTRIBUTE_TAG_INFO info{};
  const bool itself = GetFileInformationByHandleEx(h, FileAttributeTagInfo, &info, sizeof info) &&
                      (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  CloseHandle(h);
  return itself;
}

// Deletes a directory with everything below it; a missing directory is fine.
inline void removeTree(const std::string& path) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      std::string child = path + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        unlinkDirectoryLink(std::wstring(child.begin(), child.end()));  // never what it points to
      else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        removeTree(child);
      else
        DeleteFileA(child.c_str());
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(path.c_str());
}

}  // namespace wintest
