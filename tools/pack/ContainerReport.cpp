#include "pack/ContainerReport.h"

#include <zlib.h>

#include <cstdio>

#include "core/ConfigValue.h"
#include "jre/DownloadRules.h"
#include "pack/ContainerWriter.h"
#include "pack/DefaultMessages.h"
#include "pack/FileSource.h"
#include "pack/Text.h"

namespace shipkit::pack {

namespace {

using payload::ByteSource;
using payload::ContainerReader;

std::string hex32(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

// " (default)" after a text that is the packer's default for its id and language.
const char* defaultMark(std::string_view key, int32_t id, const std::u16string& text) {
  const std::u16string* fallback = defaultMessage(key, id);
  return fallback && *fallback == text ? " (default)" : "";
}

bool failed(const ContainerReader& reader, const std::string& step, std::string& error) {
  error = step + ": " + std::string(payload::fatalTextFor(reader.error().what));
  return false;
}

// Lists the section table for the reader of the output; the launcher itself needs only
// the last entry, so a table that cannot be read completely is not an error here.
void printSections(ByteSource& src, const payload::PeLayout& pe, std::ostream& out) {
  int count = pe.sectionCount;
  out << "sections: " << count << "\n";
  int64_t table = pe.lastSectionHeader - 40 * int64_t(count - 1);
  for (int i = 0; i < count && table >= 0; ++i) {
    unsigned char h[40];
    src.seek(uint64_t(table) + 40 * uint64_t(i));
    std::size_t got = 0;
    while (got < sizeof h) {
      std::size_t r = src.read(h + got, sizeof h - got);
      if (r == 0) break;
      got += r;
    }
    if (got < sizeof h) break;
    auto le32 = [&](int at) {
      return uint32_t(h[at]) | uint32_t(h[at + 1]) << 8 | uint32_t(h[at + 2]) << 16 |
             uint32_t(h[at + 3]) << 24;
    };
    std::string name(reinterpret_cast<const char*>(h), 8);
    name = name.substr(0, name.find('\0'));
    out << "section " << i << ": " << quoteBytes(name) << " raw offset " << le32(20) << " raw size "
        << le32(16) << "\n";
  }
}

// The launcher's check: CRC-32 over the L bytes after the header.
void printChecksum(ByteSource& src, const payload::ContainerHeader& h, uint64_t rangeStart,
                   std::ostream& out) {
  if (h.checksumFlag == 0) {
    out << "checksum: not checked (flag 0)\n";
    return;
  }
  uint64_t length = h.checksummedLength > 0 ? uint64_t(h.checksummedLength) : 0;
  uint64_t available = src.size() > rangeStart ? src.size() - rangeStart : 0;
  if (length > available) {
    out << "checksum: TRUNCATED need " << length << " bytes, " << available << " available\n";
    return;
  }
  src.seek(rangeStart);
  uLong crc = ::crc32(0, nullptr, 0);
  std::string chunk(1 << 20, '\0');
  for (uint64_t done = 0; done < length;) {
    std::size_t want = std::size_t(std::min<uint64_t>(chunk.size(), length - done));
    std::size_t got = src.read(chunk.data(), want);
    if (got == 0) {
      out << "checksum: TRUNCATED need " << length << " bytes, " << done << " available\n";
      return;
    }
    crc = ::crc32(crc, reinterpret_cast<const Bytef*>(chunk.data()), uInt(got));
    done += got;
  }
  if (uint32_t(crc) == h.expectedCrc) {
    out << "checksum: match\n";
  } else {
    out << "checksum: MISMATCH computed " << hex32(uint32_t(crc)) << " expected " << hex32(h.expectedCrc)
        << "\n";
  }
}

// The stored count of the table that starts at the current position.
bool peekCount(ContainerReader& reader, int32_t& count) {
  uint64_t at = reader.source().position();
  if (!reader.readInt(count)) return false;
  reader.source().seek(at);
  return true;
}

// The runtime download as the launcher will do it: where from, and whether what it fetches is
// checked against a SHA-256.
void printDownload(const payload::ConfigMap& config, std::ostream& out) {
  auto entry = [&](int32_t id) { return config.count(id) ? config.at(id) : std::string(); };
  const std::string location = entry(150), digest = entry(170);
  if (location.empty() && digest.empty()) return;
  out << "download location: " << quoteBytes(location) << "\n";
  jre::RuntimeDigest pin = jre::parseRuntimeDigest(digest);
  switch (pin.state) {
    case jre::RuntimeDigest::State::Absent:
      out << "download sha256: none (not verified)\n";
      break;
    case jre::RuntimeDigest::State::Pinned:
      out << "download sha256: " << jre::digestHex(pin.value) << "\n";
      break;
    case jre::RuntimeDigest::State::Malformed:
      out << "download sha256: MALFORMED " << quoteBytes(digest) << " (every download fails)\n";
      break;
  }
}

}  // namespace

bool inspectInstaller(ByteSource& src, std::ostream& out, std::string& error) {
  ContainerReader reader(src);
  out << "file size: " << src.size() << "\n";

  payload::PeLayout pe;
  if (!payload::seekToContainer(reader, pe)) return failed(reader, "PE headers", error);
  out << "pe offset: " << pe.peOffset << "\n";
  printSections(src, pe, out);
  out << "optional header size: " << pe.optionalHeaderSize << "\n"
      << "last section header: " << pe.lastSectionHeader << "\n"
      << "raw data size: " << pe.rawDataSize << "\n"
      << "raw data offset: " << pe.rawDataOffset << "\n"
      << "container start: " << pe.containerStart() << "\n";

  src.seek(pe.containerStart());
  payload::ContainerHeader header;
  if (!payload::readHeader(reader, header)) {
    if (reader.error().what == payload::ReadFailure::Magic) out << "magic: " << hex32(header.magic) << "\n";
    return failed(reader, "container header", error);
  }
  out << "magic: " << hex32(header.magic) << "\n"
      << "checksum flag: " << header.checksumFlag << "\n"
      << "expected crc: " << hex32(header.expectedCrc) << "\n"
      << "checksummed length: " << header.checksummedLength << "\n";
  uint64_t tables = pe.containerStart() + payload::kHeaderSize;
  printChecksum(src, header, tables, out);
  src.seek(tables);

  int32_t count = 0;
  payload::ConfigMap config;
  if (!peekCount(reader, count) || !payload::readConfigTable(reader, config))
    return failed(reader, "configuration table", error);
  out << "config count: " << count << "\n";
  for (const auto& [id, value] : config) out << "config " << id << ": " << quoteBytes(value) << "\n";
  printDownload(config, out);

  payload::MessageMap messages;
  if (!peekCount(reader, count) || !payload::readMessageTable(reader, messages))
    return failed(reader, "message table", error);
  out << "message count: " << count << "\n";
  for (const auto& [id, text] : messages)
    out << "message " << id << ": " << quoteUtf16(text) << defaultMark("", id, text) << "\n";

  std::vector<payload::LocalizedSet> sets;
  payload::MessageMap applied;
  if (!peekCount(reader, count) || !payload::readLocalizedSets(reader, "", applied, &sets))
    return failed(reader, "localized sets", error);
  out << "localized count: " << count << "\n";
  for (std::size_t i = 0; i < sets.size(); ++i) {
    out << "localized " << i << " key: " << quoteBytes(sets[i].key) << "\n"
        << "localized " << i << " message count: " << sets[i].messages.size() << "\n";
    for (const auto& [id, text] : sets[i].messages)
      out << "localized " << i << " message " << id << ": " << quoteUtf16(text)
          << defaultMark(sets[i].key, id, text) << "\n";
  }

  uint64_t dataPosition = src.position();
  out << "file data position: " << dataPosition << "\n";
  auto entry = [&](int32_t id) { return config.count(id) ? config[id] : std::string(); };
  int32_t fileCount = core::parseConfigInt(entry(kFileCountId));
  std::vector<std::string> names = payload::splitNames(entry(kFileNamesId));
  out << "file count: " << fileCount << "\n"
      << "file names: " << names.size() << "\n";
  names.resize(std::min<std::size_t>(names.size(), fileCount > 0 ? fileCount : 0));
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string step = "file " + std::to_string(i) + " " + quoteBytes(names[i]);
    uint64_t record = src.position();
    int64_t length = 0;
    if (!reader.readLong(length)) return failed(reader, step, error);
    out << "file " << i << ": " << quoteBytes(names[i]) << " length " << length << " record " << record
        << "\n";
    uint64_t remaining = src.size() - std::min(src.size(), src.position());
    if (length > 0 && uint64_t(length) > remaining) {
      error = step + ": content truncated (length " + std::to_string(length) + ", " +
              std::to_string(remaining) + " bytes remain)";
      return false;
    }
    if (length > 0) src.seek(src.position() + uint64_t(length));
  }

  uint64_t end = src.position();
  out << "file data end: " << end << "\n"
      << "unextracted position: " << (fileCount == 0 ? 0 : end) << "\n"
      << "trailing data length: " << src.size() - std::min(src.size(), end) << "\n";
  unsigned char magic[4] = {};
  std::size_t got = src.read(magic, sizeof magic);
  bool bigEndianMagic =
      got == 4 && magic[0] == 0xE8 && magic[1] == 0xE4 && magic[2] == 0x13 && magic[3] == 0xD5;
  out << "trailing magic: " << (bigEndianMagic ? "yes" : "no") << "\n";
  return true;
}

bool inspectFile(const std::filesystem::path& path, std::ostream& out, std::string& error) {
  FileSource source(path);
  if (!source.isOpen()) {
    error = source.openError();
    return false;
  }
  return inspectInstaller(source, out, error);
}

}  // namespace shipkit::pack
