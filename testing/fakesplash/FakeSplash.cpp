// A stand-in for a Java runtime's bin\splashscreen.dll. Exports SplashInit, SplashLoadMemory,
// SplashClose and (unless built with FAKESPLASH_NO_SCALE) SplashSetScaleFactor.
//
// Every call appends one JSON line to the file that FAKESPLASH_REPORT names (when set):
//   {"function": "SplashInit"}
//   {"function": "SplashSetScaleFactor", "scale": 1.5}
//   {"function": "SplashLoadMemory", "bytes": N, "fnv1a64": "<16 hex digits>", "width": W,
//    "height": H, "result": 1}        width and height from a PNG's IHDR, 0 for other data
//   {"function": "SplashClose"}
// When FAKESPLASH_IMAGES names a directory, SplashLoadMemory also writes the bytes it was given
// to "image<n>.bin" there (n counts the loads of this process from 1) and adds "file": n.
// SplashLoadMemory returns 1.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string environment(const char* name) {
  char value[32768];
  DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

bool writeFile(const std::string& path, const void* data, std::size_t size, bool append) {
  HANDLE file = CreateFileA(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            append ? OPEN_ALWAYS : CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, data, DWORD(size), &written, nullptr) && written == size;
  CloseHandle(file);
  return ok;
}

void record(const std::string& line) {
  std::string report = environment("FAKESPLASH_REPORT");
  std::string text = line + "\n";
  if (!report.empty()) writeFile(report, text.data(), text.size(), true);
}

std::uint64_t fnv1a64(const unsigned char* data, std::size_t size) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 0x100000001b3ull;
  return hash;
}

std::uint32_t bigEndian32(const unsigned char* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// Width and height from a PNG's first chunk, which must be IHDR; 0, 0 for anything else.
void pngSize(const unsigned char* data, std::size_t size, std::uint32_t& width, std::uint32_t& height) {
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  width = height = 0;
  if (!data || size < 24 || std::memcmp(data, kSignature, 8) != 0 || std::memcmp(data + 12, "IHDR", 4) != 0)
    return;
  width = bigEndian32(data + 16);
  height = bigEndian32(data + 20);
}

int gLoads = 0;

}  // namespace

extern "C" __declspec(dllexport) void SplashInit() {
  record(R"({"function": "SplashInit"})");
}

extern "C" __declspec(dllexport) int SplashLoadMemory(void* data, int size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  const std::size_t n = bytes && size > 0 ? std::size_t(size) : 0;
  std::uint32_t width, height;
  pngSize(bytes, n, width, height);
  char line[256];
  std::snprintf(
      line, sizeof line,
      R"({"function": "SplashLoadMemory", "bytes": %d, "fnv1a64": "%016llx", "width": %u, "height": %u, "result": 1)",
      size, static_cast<unsigned long long>(fnv1a64(bytes, n)), width, height);
  std::string entry = line;
  ++gLoads;
  std::string images = environment("FAKESPLASH_IMAGES");
  if (!images.empty() && writeFile(images + "\\image" + std::to_string(gLoads) + ".bin", bytes, n, false))
    entry += ", \"file\": " + std::to_string(gLoads);
  record(entry + "}");
  return 1;
}

extern "C" __declspec(dllexport) void SplashClose() {
  record(R"({"function": "SplashClose"})");
}

#ifndef FAKESPLASH_NO_SCALE
extern "C" __declspec(dllexport) void SplashSetScaleFactor(float scale) {
  char line[128];
  std::snprintf(line, sizeof line, R"({"function": "SplashSetScaleFactor", "scale": %.6g})", double(scale));
  record(line);
}
#endif
