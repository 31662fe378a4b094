// Native references for the payload benchmark: the same work as the launcher, without Wine.
//   payload_ref crc FILE            zlib crc32 over the file in 1 MiB reads
//   payload_ref copy DST SRC...     read, XOR 0x88, write each file in 1 MiB chunks
// Prints the elapsed milliseconds.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::vector<unsigned char> buffer(1 << 20);
  auto start = std::chrono::steady_clock::now();
  if (std::strcmp(argv[1], "crc") == 0) {
    FILE* f = std::fopen(argv[2], "rb");
    if (!f) return 1;
    uLong crc = crc32(0, nullptr, 0);
    while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), f))
      crc = crc32(crc, buffer.data(), uInt(n));
    std::fclose(f);
    std::fprintf(stderr, "crc %08lx\n", crc);
  } else {
    for (int i = 3; i < argc; ++i) {
      FILE* in = std::fopen(argv[i], "rb");
      std::string name = argv[i];
      std::string target = std::string(argv[2]) + "/" + name.substr(name.find_last_of('/') + 1);
      FILE* out = std::fopen(target.c_str(), "wb");
      if (!in || !out) return 1;
      while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), in)) {
        for (std::size_t j = 0; j < n; ++j) buffer[j] ^= 0x88;
        std::fwrite(buffer.data(), 1, n, out);
      }
      std::fclose(in);
      std::fclose(out);
    }
  }
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.1f\n", ms);
  return 0;
}
