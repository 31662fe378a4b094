#include "pack/PeStub.h"

#include "pack/LittleEndian.h"

namespace shipkit::pack {

namespace {

using le::get;

constexpr uint64_t kSectionHeaderSize = 40;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kCertificateDirectory = 4;

void clear(std::string& b, uint64_t at, uint64_t n) {
  b.replace(at, n, n, '\0');
}

// Offset of the certificate directory entry within the optional header, or 0 when the
// optional header has none.
uint64_t certificateEntry(std::string_view b, const StubLayout& layout) {
  uint64_t opt = uint64_t(layout.peOffset) + 24;
  if (layout.optionalHeaderSize < 2) return 0;
  uint16_t magic = static_cast<uint16_t>(get(b, opt, 2));
  uint64_t countAt = magic == kPe32Magic ? 92 : magic == kPe32PlusMagic ? 108 : 0;
  if (countAt == 0 || countAt + 4 > layout.optionalHeaderSize) return 0;
  uint64_t entry = countAt + 4 + 8 * kCertificateDirectory;
  if (get(b, opt + countAt, 4) <= kCertificateDirectory || entry + 8 > layout.optionalHeaderSize) return 0;
  return opt + entry;
}

}  // namespace

bool analyzeStub(std::string_view stub, StubLayout& layout, std::string& error, bool allowSectionCut) {
  layout = {};
  if (stub.size() < 64 || stub.substr(0, 2) != "MZ") {
    error = "not a PE executable (no MZ header)";
    return false;
  }
  layout.peOffset = get(stub, 60, 4);
  if (uint64_t(layout.peOffset) + 24 > stub.size() ||
      stub.substr(layout.peOffset, 4) != std::string_view("PE\0\0", 4)) {
    error = "not a PE executable (no PE signature at offset " + std::to_string(layout.peOffset) + ")";
    return false;
  }
  uint16_t count = static_cast<uint16_t>(get(stub, layout.peOffset + 6, 2));
  layout.optionalHeaderSize = static_cast<uint16_t>(get(stub, layout.peOffset + 20, 2));
  if (count == 0) {
    error = "the PE image has no sections";
    return false;
  }
  uint64_t table = uint64_t(layout.peOffset) + 24 + layout.optionalHeaderSize;
  if (table + count * kSectionHeaderSize > stub.size()) {
    error = "the section table (" + std::to_string(count) + " sections at offset " + std::to_string(table) +
            ") extends past the end of the file";
    return false;
  }
  for (uint16_t i = 0; i < count; ++i) {
    uint64_t at = table + i * kSectionHeaderSize;
    std::string_view name = stub.substr(at, 8);
    name = name.substr(0, name.find('\0'));
    layout.sections.push_back({std::string(name), get(stub, at + 16, 4), get(stub, at + 20, 4)});
  }
  layout.lastSectionHeader = table + (count - 1) * kSectionHeaderSize;
  const SectionInfo& last = layout.sections.back();
  layout.containerStart = uint64_t(last.rawOffset) + last.rawSize;
  if (layout.containerStart > stub.size()) {
    error = "the last section (" + last.name + ") ends at offset " + std::to_string(layout.containerStart) +
            " but the file has only " + std::to_string(stub.size()) + " bytes";
    return false;
  }
  uint64_t headersEnd = table + count * kSectionHeaderSize;
  if (layout.containerStart < headersEnd) {
    error = "the last section (" + last.name + ") ends at offset " + std::to_string(layout.containerStart) +
            ", inside the PE headers (which end at " + std::to_string(headersEnd) + ")";
    return false;
  }
  if (layout.containerStart > INT32_MAX) {
    error = "the container would start beyond 2 GiB";
    return false;
  }
  for (const SectionInfo& s : layout.sections) {
    if (!allowSectionCut && s.rawSize != 0 && uint64_t(s.rawOffset) + s.rawSize > layout.containerStart) {
      error = "section " + s.name + " has raw data up to offset " +
              std::to_string(uint64_t(s.rawOffset) + s.rawSize) +
              ", past the end of the last section in the table (" + std::to_string(layout.containerStart) +
              "); the container would overwrite it";
      return false;
    }
  }
  return true;
}

std::string prepareStub(std::string_view stub, const StubLayout& layout) {
  std::string out(stub.substr(0, layout.containerStart));
  clear(out, uint64_t(layout.peOffset) + 12, 8);  // PointerToSymbolTable, NumberOfSymbols
  if (uint64_t entry = certificateEntry(out, layout)) clear(out, entry, 8);
  return out;
}

}  // namespace shipkit::pack
