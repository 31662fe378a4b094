// Feeds arbitrary bytes to the untar loop as a decompressed tar stream (read with the gz
// functions' semantics) and to the header rules. The loop must end, never read past the
// input, and only ever create names that stay below the target directory; the size rule
// must never yield a negative size.
//
// Whether a name stays below the target is decided by an oracle of its own, which resolves
// the name the way Windows does rather than asking the launcher's name rule: '\' and '/'
// separate; a run of them counts once; "." stays, ".." goes up; a part loses its trailing
// dots and spaces (so "...", ".. " and the like are counted as ".."); a leading separator,
// a drive or stream colon, and a device name (CON, COM1, COM¹, ... in any part, also with an
// extension) leave the tree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "jre/MemoryTarInput.h"
#include "jre/TarFormat.h"
#include "jre/Untar.h"

namespace {

using namespace shipkit::jre;

std::string upperAscii(std::string_view s) {
  std::string out;
  for (char c : s) out += c >= 'a' && c <= 'z' ? char(c - 32) : c;
  return out;
}

bool windowsDevice(std::string_view part) {
  std::string base = upperAscii(part.substr(0, part.find('.')));
  while (!base.empty() && (base.back() == ' ' || base.back() == '.')) base.pop_back();
  for (const char* d : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (base == d) return true;
  if (base.size() < 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) return false;
  std::string_view n = std::string_view(base).substr(3);
  // 1-9, and the superscripts 1, 2, 3 as ANSI bytes (Windows-1252) or UTF-8.
  return (n.size() == 1 && ((n[0] >= '1' && n[0] <= '9') || n == "\xB9" || n == "\xB2" || n == "\xB3")) ||
         n == "\xC2\xB9" || n == "\xC2\xB2" || n == "\xC2\xB3";
}

// Whether `name`, resolved part by part, never goes above the target directory.
bool staysBelowRoot(std::string_view name) {
  if (name.empty()) return false;
  if (name.front() == '\\' || name.front() == '/') return false;
  if (name.find(':') != std::string_view::npos) return false;
  int depth = 0;
  while (true) {
    std::size_t end = name.find_first_of("\\/");
    std::string_view part = name.substr(0, end);
    std::string_view trimmed = part;
    while (!trimmed.empty() && (trimmed.back() == '.' || trimmed.back() == ' ')) trimmed.remove_suffix(1);
    // A part of dots and spaces only, other than ".", may go up once trimmed.
    if (!part.empty() && part != "." && trimmed.empty()) {
      if (--depth < 0) return false;
    } else if (!part.empty() && part != ".") {
      if (windowsDevice(part)) return false;
      ++depth;
    }
    if (end == std::string_view::npos) return true;
    name.remove_prefix(end + 1);
  }
}

void check(const MemberName& name) {
  if (!staysBelowRoot(name.bytes) || name.bytes.size() >= kNameBuffer + 300) std::abort();
}

struct CheckingOutput : TarOutput {
  std::size_t written = 0;
  void makeDirectory(const MemberName& name) override { check(name); }
  bool openFile(const MemberName& name) override {
    check(name);
    return true;
  }
  bool copyFile(const MemberName& from, const MemberName& to) override {
    check(from);
    check(to);
    return true;
  }
  bool write(const char*, std::size_t length) override {
    written += length;
    return true;
  }
  bool closeFile() override { return true; }
  void progress(int64_t position, bool) override {
    int p = untarProgress(position, 1 << 20);
    if (p < 100 || p > 200) std::abort();
  }
  void log(const std::string&, bool, bool) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (size >= kHeaderRead) {
    std::string_view header = bytes.substr(0, kHeaderRead);
    if (auto s = parseTarSize(header); s && *s < 0) std::abort();
    (void)tarHeaderName(header);
    PaxHeader pax;
    if (parsePaxRecords(bytes, pax) && pax.size && *pax.size < 0) std::abort();
  }
  MemoryTarInput input(bytes);
  CheckingOutput output;
  UntarResult r = untar(input, output, 4096);
  if (output.written > size) std::abort();
  (void)r;
  return 0;
}
