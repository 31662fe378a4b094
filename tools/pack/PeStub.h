#pragma once
// The launcher stub as a PE image: where its container must start, and the stub bytes
// that precede the container in an installer.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace shipkit::pack {

struct SectionInfo {
  std::string name;
  uint32_t rawSize = 0;
  uint32_t rawOffset = 0;
};

struct StubLayout {
  uint32_t peOffset = 0;
  uint16_t optionalHeaderSize = 0;
  uint64_t lastSectionHeader = 0;     // file offset of the last section header
  std::vector<SectionInfo> sections;  // in section-table order
  // PointerToRawData + SizeOfRawData of the last section in the table: the launcher looks
  // for its container there, whatever the order of the sections' data.
  uint64_t containerStart = 0;
};

// Validates the stub and computes its layout. A section whose raw data extends past the
// container start would be overwritten; that is an error unless `allowSectionCut`.
bool analyzeStub(std::string_view stub, StubLayout& layout, std::string& error, bool allowSectionCut = false);

// The stub cut at the container start, with the COFF symbol table reference and the
// certificate directory cleared: a symbol table or signature would no longer be there.
std::string prepareStub(std::string_view stub, const StubLayout& layout);

}  // namespace shipkit::pack
