// The floor under any untar under Wine: creates the files of a list ("size name" lines, names
// relative, '\' separated, directories before their files as "0 name\") in the current
// directory with nothing but CreateDirectoryA, CreateFileA, WriteFile and CloseHandle, and
// prints the milliseconds. No archive is read and nothing is logged.
//
//   bench_create_files.exe LIST
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  struct Entry {
    long long size;
    std::string name;
  };
  std::vector<Entry> entries;
  std::ifstream list(argv[1]);
  for (Entry e; list >> e.size && std::getline(list >> std::ws, e.name);) entries.push_back(e);
  std::vector<char> data(1 << 20, 'x');
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  for (const Entry& e : entries) {
    if (!e.name.empty() && e.name.back() == '\\') {
      CreateDirectoryA(e.name.c_str(), nullptr);
      continue;
    }
    HANDLE file = CreateFileA(e.name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    for (long long left = e.size; left > 0;) {
      DWORD chunk = DWORD(left < (long long)data.size() ? left : (long long)data.size()), written = 0;
      if (!WriteFile(file, data.data(), chunk, &written, nullptr) || written != chunk) return 1;
      left -= chunk;
    }
    CloseHandle(file);
  }
  QueryPerformanceCounter(&end);
  std::printf("%lld\n", (end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
  return 0;
}
