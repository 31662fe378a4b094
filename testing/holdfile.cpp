// Keeps a file open (sharing reading only, so that it cannot be deleted) for a while, for
// tests of deletion with retries.
//
//   holdfile.exe PATH MILLISECONDS READY
// Creates or opens PATH, then creates READY (so that a test knows the file is held), waits
// MILLISECONDS and ends. Exit code 0, or 1 when PATH cannot be opened.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  HANDLE ready =
      CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
  Sleep(DWORD(std::wcstoul(argv[2], nullptr, 10)));
  CloseHandle(file);
  return 0;
}
