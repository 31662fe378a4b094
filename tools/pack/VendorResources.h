#pragma once
// The resources a vendor gives an installer besides its splash images: the icon (from an
// .ico file), the version information (a VS_VERSIONINFO block) and the DPI awareness
// declared in the stub's application manifest.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pack/PeResources.h"

namespace shipkit::pack {

inline constexpr uint32_t kRtIcon = 3;
inline constexpr uint32_t kRtGroupIcon = 14;
inline constexpr uint32_t kRtVersion = 16;
inline constexpr uint32_t kRtManifest = 24;
inline constexpr uint32_t kStubIconGroup = 1001;  // the launcher's dialogs show this icon
inline constexpr uint32_t kVersionResource = 1;
inline constexpr uint32_t kManifestResource = 1;

// The images of an .ico file with their directory entries.
struct IconImage {
  std::string entry;  // the first 12 bytes of the file's directory entry: size, colours, planes,
                      // bit count and the image's byte count
  std::string bytes;  // a PNG stream or a DIB (BITMAPINFOHEADER, colours, XOR and AND masks)
};

// Reads an .ico file; `error` names what is wrong ("image 2 (offset 70, 300 bytes) ends past
// the end of the file (200 bytes)").
bool parseIcon(std::string_view file, std::vector<IconImage>& images, std::string& error);

// Replaces icon group 1001 and the images only it used with `images`, in the group's own
// language (neutral when the stub has no such group). New images take the lowest free icon ids.
void replaceIcon(ResourceDirectory& root, const std::vector<IconImage>& images);

struct VersionInfo {
  uint16_t fileVersion[4] = {};
  uint16_t productVersion[4] = {};
  std::vector<std::pair<std::u16string, std::u16string>> strings;  // key, value, in this order
};

// A version number "1", "1.2", "1.2.3" or "1.2.3.4", each part 0 to 65535; missing parts are 0.
bool parseVersionNumber(std::string_view text, uint16_t (&parts)[4], std::string& error);

// The VS_VERSIONINFO block: fixed file information (an application for Windows NT) and one
// string table in the neutral language, UTF-16 (block "000004b0").
std::string encodeVersionInfo(const VersionInfo& info);

// The application manifest with per-monitor DPI awareness ("PerMonitorV2, PerMonitor" and
// "true/pm") added to its windowsSettings, everything else kept as it is.
bool declareDpiAware(std::string_view manifest, std::string& out, std::string& error);

}  // namespace shipkit::pack
