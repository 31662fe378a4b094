// Feeds arbitrary bytes to the untar loop as a decompressed tar stream (read with the gz
// functions' semantics) and to the header rules. The loop must end, never read past the
// input, and only ever create names that stay below the target directory; the size rule
// must never yield a negative size.
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

struct CheckingOutput : TarOutput {
  std::size_t written = 0;
  void makeDirectory(const std::string& name) override {
    if (!isSafeMemberName(name)) std::abort();
  }
  bool openFile(const std::string& name) override {
    if (!isSafeMemberName(name) || name.size() >= kNameBuffer + 300) std::abort();
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
  void log(const std::string&, bool) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (size >= kHeaderRead) {
    std::string_view header = bytes.substr(0, kHeaderRead);
    if (auto s = parseTarSize(header); s && *s < 0) std::abort();
    (void)tarHeaderName(header);
  }
  MemoryTarInput input(bytes);
  CheckingOutput output;
  UntarResult r = untar(input, output, 4096);
  if (output.written > size) std::abort();
  (void)r;
  return 0;
}
