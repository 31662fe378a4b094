// Feeds arbitrary bytes to the container reader: once as a whole executable (PE walk, then
// the container where the last section ends) and once as a bare container at offset 0.
// The reader must fail cleanly, never read or allocate past the input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "payload/ContainerFormat.h"

namespace {

using namespace shipkit::payload;

void readTablesAndFiles(ContainerReader& reader) {
  ContainerHeader header;
  ConfigMap config;
  MessageMap messages;
  std::vector<LocalizedSet> sets;
  if (!readHeader(reader, header) || !readConfigTable(reader, config) ||
      !readMessageTable(reader, messages) || !readLocalizedSets(reader, "de_CH", messages, &sets))
    return;
  // Walk the file records as the extraction does, without copying their content.
  ByteSource& src = reader.source();
  for (const auto& name : splitNames(config[2003], 64)) {
    (void)name;
    int64_t length = 0;
    if (!reader.readLong(length)) return;
    if (length > 0) {
      if (uint64_t(length) > src.size() - std::min(src.size(), src.position())) return;
      src.seek(src.position() + uint64_t(length));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  {
    MemorySource src(bytes);
    ContainerReader reader(src);
    PeLayout layout;
    if (seekToContainer(reader, layout)) readTablesAndFiles(reader);
  }
  {
    MemorySource src(bytes);
    ContainerReader reader(src);
    readTablesAndFiles(reader);
  }
  return 0;
}
