// Feeds arbitrary bytes to the deletion mode's list-file reader and walks the result
// through the deletion passes with effects that resist at random (from the input). None
// may crash, hang or read past its input; every entry tried must be a line of the file.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "cleanup/DeletionList.h"

namespace {

using namespace shipkit::cleanup;

struct Effects : DeletionEffects {
  std::set<std::wstring> lines;
  std::string_view noise;
  std::size_t at = 0;
  bool pick() { return noise.empty() ? false : (noise[at++ % noise.size()] & 1) != 0; }
  void check(const std::wstring& path) {
    if (path.empty() || !lines.count(path)) __builtin_trap();
  }
  void waitForSemaphoreRelease(const std::wstring& name) override { check(name); }
  RemoveResult deleteFile(const std::wstring& p) override {
    check(p);
    return pick() ? RemoveResult::kResists : RemoveResult::kRemoved;
  }
  RemoveResult removeDirectory(const std::wstring& p) override {
    check(p);
    return pick() ? RemoveResult::kResists : RemoveResult::kMissing;
  }
  bool scheduleAtReboot(const std::wstring& p) override {
    check(p);
    return pick();
  }
  void pause() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto lines = splitListFile(bytes);
  std::size_t units = 0;
  for (const auto& l : lines) {
    units += l.size();
    if (l.find(L'\0') != std::wstring::npos) __builtin_trap();
  }
  if (units > size / 2) __builtin_trap();  // reading never invents text
  Effects fx;
  fx.lines.insert(lines.begin(), lines.end());
  fx.noise = bytes;
  DeletionOutcome out = runDeletionPasses(lines, fx, 5);
  if (out.passes < 0 || out.passes > 5) __builtin_trap();
  if (out.question.size() + out.failure.size() > units + lines.size()) __builtin_trap();
  return 0;
}
