#include "pack/StubResources.h"

#include <algorithm>

#include "pack/LittleEndian.h"
#include "pack/PeResources.h"
#include "pack/VendorResources.h"

namespace shipkit::pack {

namespace {

using le::alignUp;
using le::get;
using le::put;

constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kMaxFileAlignment = 0x10000;
constexpr uint32_t kPageSize = 0x1000;
constexpr uint32_t kInitializedDataReadable = 0x40000040;  // INITIALIZED_DATA | MEM_READ
constexpr char kSectionName[8] = {'.', 'r', 's', 'r', 'c', '2', 0, 0};

bool powerOfTwo(uint32_t v) {
  return v != 0 && (v & (v - 1)) == 0;
}

// Where the optional header's fields and the section table are.
struct Headers {
  uint64_t coff = 0;         // COFF file header
  uint64_t optional = 0;     // optional header
  uint64_t directories = 0;  // data directory 0
  uint64_t table = 0;        // section table
  uint16_t count = 0;
  std::vector<ImageSection> sections;
};

bool readHeaders(std::string_view b, Headers& h, std::string& error) {
  if (b.size() < 64 || b.substr(0, 2) != "MZ") {
    error = "not a PE executable (no MZ header)";
    return false;
  }
  uint32_t pe = get(b, 60, 4);
  if (uint64_t(pe) + 24 > b.size() || b.substr(pe, 4) != std::string_view("PE\0\0", 4)) {
    error = "not a PE executable (no PE signature at offset " + std::to_string(pe) + ")";
    return false;
  }
  h.coff = uint64_t(pe) + 4;
  h.optional = h.coff + 20;
  h.count = static_cast<uint16_t>(get(b, h.coff + 2, 2));
  uint16_t optionalSize = static_cast<uint16_t>(get(b, h.coff + 16, 2));
  h.table = h.optional + optionalSize;
  if (h.table + h.count * kSectionHeaderSize > b.size()) {
    error = "the section table extends past the end of the file";
    return false;
  }
  uint16_t magic = optionalSize >= 2 ? static_cast<uint16_t>(get(b, h.optional, 2)) : 0;
  uint64_t countAt = magic == 0x20B ? 108 : magic == 0x10B ? 92 : 0;
  if (countAt == 0 || countAt + 4 + 8 * (kResourceDirectory + 1) > optionalSize ||
      get(b, h.optional + countAt, 4) <= kResourceDirectory) {
    error = "the optional header has no resource directory entry";
    return false;
  }
  h.directories = h.optional + countAt + 4;
  for (uint16_t i = 0; i < h.count; ++i) {
    uint64_t at = h.table + i * kSectionHeaderSize;
    h.sections.push_back({get(b, at + 12, 4), get(b, at + 8, 4), get(b, at + 20, 4), get(b, at + 16, 4)});
  }
  return true;
}

}  // namespace

bool addResources(std::string_view stub, const std::vector<NewResource>& resources, std::string& out,
                  std::string& error) {
  StubChanges changes;
  changes.resources = resources;
  return changeResources(stub, changes, out, error);
}

bool changeResources(std::string_view stub, const StubChanges& changes, std::string& out, std::string& error) {
  Headers h;
  if (!readHeaders(stub, h, error)) return false;
  uint32_t sectionAlignment = get(stub, h.optional + 32, 4), fileAlignment = get(stub, h.optional + 36, 4);
  uint32_t headersSize = get(stub, h.optional + 60, 4);
  // A file alignment beyond 64 KiB is invalid and would pad the output without bound.
  if (!powerOfTwo(sectionAlignment) || !powerOfTwo(fileAlignment) || fileAlignment > kMaxFileAlignment) {
    error = "the section alignment must be a power of two, the file alignment one up to 65536";
    return false;
  }
  // Below the page size the loader maps the file as it is, so every section's raw offset must
  // equal its RVA; the new section is placed by each alignment on its own.
  if (sectionAlignment < kPageSize) {
    error = "the section alignment (" + std::to_string(sectionAlignment) + ") is below the page size (" +
            std::to_string(kPageSize) + "): such an image needs raw offsets equal to RVAs, which the new " +
            "section cannot have";
    return false;
  }
  // The new section header goes right after the table; it must not cover anything.
  uint64_t tableEnd = h.table + h.count * kSectionHeaderSize;
  uint64_t firstData = headersSize;
  uint64_t rawEnd = headersSize, virtualEnd = 0;
  for (const ImageSection& s : h.sections) {
    if (s.rawSize != 0) {
      firstData = std::min<uint64_t>(firstData, s.rawOffset);
      rawEnd = std::max<uint64_t>(rawEnd, uint64_t(s.rawOffset) + s.rawSize);
    }
    // The loader takes a section's extent from VirtualSize, or SizeOfRawData when that is 0,
    // and wants the next section right after it.
    virtualEnd = std::max<uint64_t>(virtualEnd,
                                    uint64_t(s.virtualAddress) + (s.virtualSize ? s.virtualSize : s.rawSize));
  }
  if (rawEnd > stub.size()) {
    error = "a section's raw data ends at offset " + std::to_string(rawEnd) + " but the file has only " +
            std::to_string(stub.size()) + " bytes";
    return false;
  }
  if (h.count == UINT16_MAX || tableEnd + kSectionHeaderSize > firstData) {
    error = "no room for another section header: the section table ends at offset " +
            std::to_string(tableEnd) + " and the first section's data (or the end of the headers) is at " +
            std::to_string(firstData);
    return false;
  }
  if (stub.substr(tableEnd, kSectionHeaderSize).find_first_not_of('\0') != std::string_view::npos) {
    error = "no room for another section header: the bytes after the section table (offset " +
            std::to_string(tableEnd) + ") are in use";
    return false;
  }
  ResourceDirectory tree;
  uint32_t oldRva = get(stub, h.directories + 8 * kResourceDirectory, 4);
  uint32_t oldSize = get(stub, h.directories + 8 * kResourceDirectory + 4, 4);
  if (!readResourceTree(stub, h.sections, oldRva, oldSize, tree, error)) {
    error = "the resource tree cannot be read: " + error;
    return false;
  }
  for (const NewResource& r : changes.resources) setResource(tree, r.type, r.id, r.language, r.bytes);
  if (changes.icon) replaceIcon(tree, *changes.icon);
  if (changes.dpiAware) {
    const ResourceDirectory* manifests = findDirectory(tree, kRtManifest);
    const ResourceDirectory* languages = manifests ? findDirectory(*manifests, kManifestResource) : nullptr;
    if (!languages || languages->entries.size() != 1 || languages->entries[0].directory) {
      error = "the stub has no application manifest (resource 24, 1) in one language";
      return false;
    }
    std::string rewritten;
    if (!declareDpiAware(languages->entries[0].data.bytes, rewritten, error)) return false;
    setResource(tree, kRtManifest, kManifestResource, static_cast<uint16_t>(languages->entries[0].id),
                std::move(rewritten));
  }

  uint64_t rva = alignUp(virtualEnd, sectionAlignment);
  uint64_t rawOffset = alignUp(rawEnd, fileAlignment);
  std::string section = serializeResourceTree(tree, static_cast<uint32_t>(rva));
  uint64_t rawSize = alignUp(section.size(), fileAlignment);
  uint64_t imageSize = alignUp(rva + section.size(), sectionAlignment);
  if (imageSize > UINT32_MAX || rawOffset + rawSize > INT32_MAX) {
    error = "the resources do not fit: the image would exceed the PE size limits";
    return false;
  }
  out.assign(stub.substr(0, rawEnd));
  out.resize(rawOffset, '\0');
  out += section;
  out.resize(rawOffset + rawSize, '\0');

  uint64_t header = tableEnd;
  out.replace(header, sizeof kSectionName, kSectionName, sizeof kSectionName);
  put(out, header + 8, section.size(), 4);  // VirtualSize
  put(out, header + 12, rva, 4);
  put(out, header + 16, rawSize, 4);
  put(out, header + 20, rawOffset, 4);
  put(out, header + 36, kInitializedDataReadable, 4);
  put(out, h.coff + 2, h.count + 1u, 2);
  put(out, h.optional + 8, get(out, h.optional + 8, 4) + rawSize, 4);  // SizeOfInitializedData
  put(out, h.optional + 56, imageSize, 4);                             // SizeOfImage
  put(out, h.directories + 8 * kResourceDirectory, rva, 4);
  put(out, h.directories + 8 * kResourceDirectory + 4, section.size(), 4);
  return true;
}

}  // namespace shipkit::pack
