#pragma once
// File-system and naming helpers shared by the Windows tests.

#include <objbase.h>
#include <windows.h>

#include <string>

namespace wintest {

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

// Deletes a directory with everything below it; a missing directory is fine.
inline void removeTree(const std::string& path) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      std::string child = path + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        removeTree(child);
      else
        DeleteFileA(child.c_str());
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(path.c_str());
}

}  // namespace wintest
