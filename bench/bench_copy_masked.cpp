// copyMasked by itself under Wine: splits FILE into four records and copies them unmasked
// into DIR, as extraction does, and prints the elapsed milliseconds. Separates the copy
// loop from the rest of a launcher run when bench/payload.sh shows a gap.
//   bench_copy_masked.exe FILE DIR
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "payload/Extract.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  HANDLE in = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (in == INVALID_HANDLE_VALUE) return 1;
  LARGE_INTEGER size{};
  GetFileSizeEx(in, &size);
  const int64_t part = size.QuadPart / 4;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 4; ++i) {
    std::string target = std::string(argv[2]) + "\\part" + std::to_string(i) + ".bin";
    HANDLE out =
        CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) return 1;
    if (shipkit::payload::copyMasked(in, out, part, true) != 0) return 1;
    CloseHandle(out);
  }
  std::printf("%.1f\n",
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  return 0;
}
