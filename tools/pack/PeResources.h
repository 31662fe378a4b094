#pragma once
// The resource tree of a PE image: read from the image's resource data directory, changed,
// and serialized into the bytes of a resource section placed at a given RVA.
//
// A tree is directories of entries; an entry is named (a UTF-16 string) or numbered, and
// leads to a subdirectory or to data. Windows searches the named entries of a directory,
// then the numbered ones, each by binary search: named entries come first, numbered ones
// ascend. Entries read from an image keep their order and every field; data bytes are kept
// byte for byte.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace shipkit::pack {

struct ResourceDirectory;

struct ResourceData {
  std::string bytes;
  uint32_t codePage = 0;
  uint32_t reserved = 0;
};

struct ResourceEntry {
  bool named = false;
  std::u16string name;                           // when named
  uint32_t id = 0;                               // otherwise
  std::unique_ptr<ResourceDirectory> directory;  // a subdirectory, or else `data`
  ResourceData data;
};

struct ResourceDirectory {
  uint32_t characteristics = 0;
  uint32_t timeDateStamp = 0;
  uint16_t majorVersion = 0;
  uint16_t minorVersion = 0;
  std::vector<ResourceEntry> entries;  // named first, then numbered
};

// A section as the resource reader needs it to turn RVAs into file offsets.
struct ImageSection {
  uint32_t virtualAddress = 0;
  uint32_t virtualSize = 0;
  uint32_t rawOffset = 0;
  uint32_t rawSize = 0;
};

// Reads the tree at `rva` (`size` bytes). A damaged tree (offsets outside the image, more
// than three levels, loops) is an error, never a partial result.
bool readResourceTree(std::string_view image, const std::vector<ImageSection>& sections, uint32_t rva,
                      uint32_t size, ResourceDirectory& root, std::string& error);

// Sets type `type`, numbered resource `id`, to the single language `language` holding
// `bytes`: whatever that resource held before (in any language) is replaced.
void setResource(ResourceDirectory& root, uint32_t type, uint32_t id, uint16_t language, std::string bytes);

// The subdirectory of numbered entry `id` of `dir`, or null.
const ResourceDirectory* findDirectory(const ResourceDirectory& dir, uint32_t id);

// Removes type `type`'s numbered resource `id` in every language, and the type when it is
// left empty.
void removeResource(ResourceDirectory& root, uint32_t type, uint32_t id);

// The bytes of a resource section at `sectionRva`: directories, names, data entries, then
// the data, each data block aligned to 8 bytes.
std::string serializeResourceTree(const ResourceDirectory& root, uint32_t sectionRva);

}  // namespace shipkit::pack
