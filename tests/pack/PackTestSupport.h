#pragma once
// Helpers for the packer tests: synthetic PE stubs, scratch directories, and an
// independent walk of a built installer with the container reader's primitives.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "payload/ContainerFormat.h"

namespace shipkit::pack::test {

struct SectionShape {
  std::string name;
  uint32_t rawOffset = 0;
  uint32_t rawSize = 0;
};

struct PeShape {
  std::vector<SectionShape> sections = {{".text", 0x200, 0x200}, {".data", 0x400, 0x200}};
  bool pe32Plus = true;
  uint32_t symbolTable = 0, symbolCount = 0;            // COFF header fields
  uint32_t certificateOffset = 0, certificateSize = 0;  // data directory 4
  std::string tail;  // bytes appended after the image (symbol table, overlay, signature)
};

inline constexpr uint32_t kPeOffset = 64;

// A minimal PE image: MZ header, PE signature, COFF header, an optional header with 16
// data directories, the section table; each section's raw data is filled with a byte
// derived from its index so that tests can tell the sections apart.
std::string makePe(const PeShape& shape);

uint32_t le32(std::string_view bytes, uint64_t at);
uint64_t le64(std::string_view bytes, uint64_t at);

// Offset of the optional header's data directory `index` in an image made by makePe.
uint64_t dataDirectoryOffset(const PeShape& shape, int index);

std::string readFile(const std::filesystem::path& path);

// The launcher stub the build made.
inline const std::filesystem::path kStub = std::filesystem::path(SHIPKIT_OUT_DIR) / "launcher.exe";

// A text as one single-quoted shell word.
inline std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}
void writeFile(const std::filesystem::path& path, std::string_view bytes);

// A fresh directory under the system's temporary directory, removed with its contents.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }
  std::vector<std::string> entries() const;  // sorted file names

 private:
  std::filesystem::path path_;
};

// What the launcher would read from an installer for one language key.
struct ReadBack {
  bool ok = false;
  payload::ReadFailure failure = payload::ReadFailure::None;
  payload::PeLayout pe;
  payload::ContainerHeader header;
  payload::ConfigMap config;
  payload::MessageMap messages;  // with matching localized sets applied
  std::vector<payload::LocalizedSet> sets;
  uint64_t fileDataPosition = 0;
  std::vector<std::pair<std::string, std::string>> files;  // name, unmasked content
  uint64_t end = 0;                                        // after the last record read
  std::string remaining;                                   // from `end` to the end of the file
};

// Writes `manifest` as manifest.json and `stub` as stub.exe into `dir`, builds out.exe
// through the packer's build entry point and returns its bytes (empty with `error` set on
// failure).
struct Built {
  bool ok = false;
  std::string error;
  std::string bytes;
};
Built buildWith(const ScratchDir& dir, std::string_view manifest, std::string_view stub);
Built buildWith(const ScratchDir& dir, std::string_view manifest);

ReadBack readInstaller(std::string_view bytes, std::string_view languageKey = "en");

// shipkit-pack's command line, run in-process.
struct CliRun {
  int code = -1;
  std::string out, err;
};
CliRun runPack(const std::vector<std::string>& args);

}  // namespace shipkit::pack::test
