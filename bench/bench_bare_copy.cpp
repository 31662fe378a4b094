// The floor Wine sets under extraction: the read-unmask-write copy of bench/payload_ref.cpp
// done with nothing but CreateFileA, ReadFile, WriteFile and CloseHandle in 256 KiB chunks.
// Prints the elapsed milliseconds (files opened and closed included, process start-up not).
//   bench_bare_copy.exe [-always] [-preset] [-chunk BYTES] DST SRC...
// Targets are created with CREATE_NEW. -always creates them with CREATE_ALWAYS instead, which
// Wine carries out as a truncation to zero: on ext4 that makes the last close of the file
// start the write-back of all its data (delayed allocation's replace-by-truncate guard).
// -preset gives each target its final size (SetFilePointerEx, SetEndOfFile) before the first
// write, to see what that step costs under Wine. -chunk sets the size of the reads and writes
// (default 256 KiB, as extraction; 1048576 shows what writes of 1 MiB cost).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  int first = 1;
  bool always = false, preset = false;
  unsigned long chunk = 256 << 10;
  for (; first < argc && argv[first][0] == '-'; ++first) {
    if (std::strcmp(argv[first], "-always") == 0)
      always = true;
    else if (std::strcmp(argv[first], "-preset") == 0)
      preset = true;
    else if (std::strcmp(argv[first], "-chunk") == 0 && first + 1 < argc)
      chunk = std::strtoul(argv[++first], nullptr, 0);
    else
      return 2;
  }
  if (argc < first + 2) return 2;
  // Whole 8-byte words, so that the unmasking costs what it costs in extraction (vector code).
  std::vector<unsigned long long> words((chunk + 7) / 8);
  unsigned char* buffer = reinterpret_cast<unsigned char*>(words.data());
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
      if (!ReadFile(in, buffer, DWORD(chunk), &got, nullptr)) return 1;
      if (got == 0) break;
      for (DWORD j = 0; j < (got + 7) / 8; ++j) words[j] ^= 0x8888888888888888ULL;
      if (!WriteFile(out, buffer, got, &wrote, nullptr) || wrote != got) return 1;
    }
    CloseHandle(in);
    CloseHandle(out);
  }
  QueryPerformanceCounter(&end);
  std::printf("%.1f\n", double(end.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart));
  return 0;
}
