#pragma once
// Resources added to the launcher stub: its resource tree, with the new resources, is
// rewritten into a new section appended after every other section, and the resource data
// directory points there. The old resource section stays where it was, unreferenced, so
// that nothing else of the image moves. The launcher finds its container after the raw data
// of the last section in the table, which is then the new one.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace shipkit::pack {

struct NewResource {
  uint32_t type = 0;
  uint32_t id = 0;
  uint16_t language = 0;
  std::string bytes;
};

inline constexpr uint32_t kRtRcdata = 10;

struct IconImage;

// Everything the packer changes in the stub's resources.
struct StubChanges {
  std::vector<NewResource> resources;         // set as they are (splash images, version)
  const std::vector<IconImage>* icon = nullptr;  // replaces icon group 1001 and its images
  bool dpiAware = false;                      // declare per-monitor DPI awareness in manifest 1
};

// The stub with `resources` set (each replaces whatever that type and id held in any
// language). Fails when the stub's resource tree cannot be read or when there is no room
// for one more section header before the first section's data.
bool addResources(std::string_view stub, const std::vector<NewResource>& resources, std::string& out,
                  std::string& error);

// The same with every change of `changes`; the DPI awareness needs the stub's manifest.
bool changeResources(std::string_view stub, const StubChanges& changes, std::string& out, std::string& error);

}  // namespace shipkit::pack
