// The floor Wine sets under extraction: the read-unmask-write copy of bench/payload_ref.cpp done
// with nothing but CreateFileA, ReadFile, WriteFile and CloseHandle in 1 MiB chunks. Prints the
// elapsed milliseconds (files opened and closed included, start-up of the process not).
//   bench_bare_copy.exe [-always] [-preset] DST SRC...
// Targets are created with CREATE_NEW. -always creates them with CREATE_ALWAYS instead, which
// Wine carries out as a truncation to zero: on ext4 that makes the last close of the file
// start the write-back of all its data (delayed allocation's replace-by-truncate guard).
// -preset gives each target its final size (SetFilePointerEx, SetEndOfFile) before the first
// write, to see what that step costs under Wine.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  int first = 1;
  bool always = false, preset = false;
  for (; first < argc && argv[first][0] == '-'; ++first) {
    if (std::strcmp(argv[first], "-always") == 0)
      always = true;
    else if (std::strcmp(argv[first], "-preset") == 0)
      preset = true;
    else
      return 2;
  }
  if (argc < first + 2) return 2;
  std::vector<unsigned char> buffer(1 << 20);
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  for (int i = first + 1; i < argc; ++i) {
    std::string name = argv[i];
    std::string target = std::string(argv[first]) + "\\" + name.substr(name.find_last_of("\\/") + 1);
    HANDLE in = CreateFileA(argv[i], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE out = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, always ? CREATE_ALWAYS : CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE) return 1;
    if (preset) {
      LARGE_INTEGER size{}, zero{};
      GetFileSizeEx(in, &size);
      SetFilePointerEx(out, size, nullptr, FILE_BEGIN);
      SetEndOfFile(out);
      SetFilePointerEx(out, zero, nullptr, FILE_BEGIN);
    }
    for (;;) {
      DWORD got = 0, wrote = 0;
      if (!ReadFile(in, buffer.data(), DWORD(buffer.size()), &got, nullptr)) return 1;
      if (got == 0) break;
      for (DWORD j = 0; j < got; ++j) buffer[j] ^= 0x88;
      if (!WriteFile(out, buffer.data(), got, &wrote, nullptr) || wrote != got) return 1;
    }
    CloseHandle(in);
    CloseHandle(out);
  }
  QueryPerformanceCounter(&end);
  std::printf("%.1f\n", double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart));
  return 0;
}
