// Feeds arbitrary bytes to the packer as a launcher stub that gets a splash image, an icon and
// version information: the PE walk and the resource tree reader must fail cleanly, never read
// or allocate past the input. What it writes must take a second image and another icon (whose
// group replaces the first one's and drops its images) the same way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "pack/StubResources.h"
#include "pack/VendorResources.h"

using namespace shipkit::pack;

namespace {

// An .ico with `count` images: a DIB of 40-byte header and eight colour bytes, then PNG heads.
std::vector<IconImage> icon(int count) {
  std::string f(6 + 16 * count, '\0');
  f[2] = 1, f[4] = static_cast<char>(count);
  for (int i = 0; i < count; ++i) {
    std::string image = i == 0 ? std::string("\x28\0\0\0", 4) + std::string(44, '\x22')
                               : std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) + std::string(i, 'p');
    std::size_t at = 6 + 16 * i;
    f[at] = f[at + 1] = static_cast<char>(16 << i);
    f[at + 8] = static_cast<char>(image.size());
    f[at + 12] = static_cast<char>(f.size() & 0xFF), f[at + 13] = static_cast<char>(f.size() >> 8);
    f += image;
  }
  std::vector<IconImage> images;
  std::string error;
  if (!parseIcon(f, images, error)) std::abort();
  return images;
}

std::string version() {
  VersionInfo info;
  std::string error;
  if (!parseVersionNumber("1.2.3.4", info.fileVersion, error) ||
      !parseVersionNumber("65535", info.productVersion, error))
    std::abort();
  info.strings = {{u"CompanyName", u"Gr\u00f6\u00dfe \U0001F600"}, {u"ProductName", u"x"}};
  return encodeVersionInfo(info);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static const std::vector<IconImage> first = icon(3), second = icon(1);
  static const std::string versionBlock = version();
  std::string_view stub(reinterpret_cast<const char*>(data), size);
  std::string once, twice, error;
  StubChanges changes;
  changes.resources = {{kRtRcdata, 10000, 0, "first"}, {kRtVersion, kVersionResource, 0, versionBlock}};
  changes.icon = &first;
  if (!changeResources(stub, changes, once, error)) return 0;
  changes.resources = {{kRtRcdata, 10002, 0, "second"}};
  changes.icon = &second;
  if (!changeResources(once, changes, twice, error)) {
    // Only the room for one more section header or the image's size limits may run out.
    if (error.rfind("no room for another section header", 0) != 0 &&
        error.rfind("the resources do not fit", 0) != 0)
      std::abort();
  }
  return 0;
}
