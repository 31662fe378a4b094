#include "payload/ContainerFormat.h"

#include <algorithm>
#include <cstring>

namespace shipkit::payload {

std::size_t MemorySource::read(void* dst, std::size_t n) {
  if (pos_ >= bytes_.size()) return 0;
  std::size_t count = std::min<uint64_t>(n, bytes_.size() - pos_);
  std::memcpy(dst, bytes_.data() + pos_, count);
  pos_ += count;
  return count;
}

bool MemorySource::seek(uint64_t position) {
  pos_ = position;  // past the end is allowed, as for files; reads then return 0
  return true;
}

std::string_view fatalTextFor(ReadFailure what) {
  switch (what) {
    case ReadFailure::ReadLong:
      return "Internal Error: readLong";
    case ReadFailure::ReadInt:
      return "Internal Error: readInt";
    case ReadFailure::ReadShort:
      return "Internal Error: readShort";
    case ReadFailure::ReadString:
      return "Internal Error: readString";
    case ReadFailure::ReadWString:
      return "Internal Error: readWString";
    case ReadFailure::Magic:
      return "Internal Error: magic";
    case ReadFailure::None:
      break;
  }
  return "";
}

namespace {
template <typename T>
T littleEndian(const unsigned char* p) {
  uint64_t v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) v |= uint64_t(p[i]) << (8 * i);
  return static_cast<T>(v);
}
}  // namespace

bool ContainerReader::readExact(void* dst, std::size_t n, ReadFailure what) {
  if (failed()) return false;
  std::size_t got = 0;
  auto* out = static_cast<unsigned char*>(dst);
  while (got < n) {
    std::size_t r = src_.read(out + got, n - got);
    if (r == 0) break;
    got += r;
  }
  if (got == n) return true;
  error_ = {what, src_.lastError(), static_cast<uint32_t>(got)};
  return false;
}

bool ContainerReader::readLong(int64_t& out) {
  unsigned char b[8];
  if (!readExact(b, sizeof b, ReadFailure::ReadLong)) return false;
  out = littleEndian<int64_t>(b);
  return true;
}

bool ContainerReader::readInt(int32_t& out) {
  unsigned char b[4];
  if (!readExact(b, sizeof b, ReadFailure::ReadInt)) return false;
  out = littleEndian<int32_t>(b);
  return true;
}

bool ContainerReader::readShort(int16_t& out) {
  unsigned char b[2];
  if (!readExact(b, sizeof b, ReadFailure::ReadShort)) return false;
  out = littleEndian<int16_t>(b);
  return true;
}

// A length from the file is trusted only as far as the bytes that remain: a damaged or
// hostile length ends as a short read without allocating more than the file could hold.
bool ContainerReader::readBlob(std::size_t n, ReadFailure what, std::string& out) {
  if (failed()) return false;
  uint64_t pos = src_.position(), size = src_.size();
  uint64_t remaining = pos < size ? size - pos : 0;
  if (n > remaining) {
    error_ = {what, src_.lastError(), static_cast<uint32_t>(remaining)};
    return false;
  }
  out.resize(n);
  return readExact(out.data(), n, what);
}

bool ContainerReader::readString(std::string& out) {
  int32_t n = 0;
  if (!readInt(n)) return false;
  if (n < 0) {
    error_ = {ReadFailure::ReadString, 0, 0};
    return false;
  }
  return readBlob(static_cast<std::size_t>(n), ReadFailure::ReadString, out);
}

bool ContainerReader::readWString(std::u16string& out) {
  int32_t b = 0;
  if (!readInt(b)) return false;
  if (b < 0) {
    error_ = {ReadFailure::ReadWString, 0, 0};
    return false;
  }
  std::string raw;
  if (!readBlob(static_cast<std::size_t>(b), ReadFailure::ReadWString, raw)) return false;
  out.resize(raw.size() / 2);  // an odd trailing byte is read but not part of the text
  for (std::size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(raw[2 * i]) |
                                   (static_cast<unsigned char>(raw[2 * i + 1]) << 8));
  return true;
}

bool seekToContainer(ContainerReader& reader, PeLayout& layout) {
  ByteSource& src = reader.source();
  src.seek(60);
  if (!reader.readInt(layout.peOffset)) return false;
  src.seek(uint64_t(uint32_t(layout.peOffset)) + 6);
  if (!reader.readShort(layout.sectionCount)) return false;
  src.seek(uint64_t(uint32_t(layout.peOffset)) + 20);
  if (!reader.readShort(layout.optionalHeaderSize)) return false;
  int64_t sizeField =
      int64_t(layout.peOffset) + layout.optionalHeaderSize + 40 * int64_t(layout.sectionCount);
  layout.lastSectionHeader = sizeField - 16;
  int32_t rawSize = 0, rawOffset = 0;
  src.seek(uint64_t(sizeField));
  if (!reader.readInt(rawSize) || !reader.readInt(rawOffset)) return false;
  layout.rawDataSize = uint32_t(rawSize);
  layout.rawDataOffset = uint32_t(rawOffset);
  src.seek(layout.containerStart());
  return true;
}

bool readHeader(ContainerReader& reader, ContainerHeader& header) {
  int32_t magic = 0, flag = 0, crc = 0;
  if (!reader.readInt(magic)) return false;
  header.magic = uint32_t(magic);
  if (header.magic != kContainerMagic) {
    reader.fail(ReadFailure::Magic);
    return false;
  }
  if (!reader.readInt(flag) || !reader.readInt(crc) || !reader.readLong(header.checksummedLength))
    return false;
  header.checksumFlag = flag;
  header.expectedCrc = uint32_t(crc);
  return true;
}

bool readConfigTable(ContainerReader& reader, ConfigMap& config) {
  int32_t count = 0;
  if (!reader.readInt(count)) return false;
  for (int32_t i = 0; i < count; ++i) {
    int32_t id = 0;
    std::string value;
    if (!reader.readInt(id) || !reader.readString(value)) return false;
    config[id] = std::move(value);
  }
  return true;
}

bool readMessageTable(ContainerReader& reader, MessageMap& messages) {
  int32_t count = 0;
  if (!reader.readInt(count)) return false;
  for (int32_t i = 0; i < count; ++i) {
    int32_t id = 0;
    std::u16string text;
    if (!reader.readInt(id) || !reader.readWString(text)) return false;
    messages[id] = std::move(text);
  }
  return true;
}

bool setKeyMatches(std::string_view setKey, std::string_view languageKey) {
  return languageKey.substr(0, setKey.size()) == setKey;
}

bool readLocalizedSets(ContainerReader& reader, std::string_view languageKey, MessageMap& messages,
                       std::vector<LocalizedSet>* all) {
  int32_t sets = 0;
  if (!reader.readInt(sets)) return false;
  for (int32_t s = 0; s < sets; ++s) {
    LocalizedSet set;
    int32_t count = 0;
    if (!reader.readString(set.key) || !reader.readInt(count)) return false;
    bool applies = setKeyMatches(set.key, languageKey);
    for (int32_t i = 0; i < count; ++i) {
      int32_t id = 0;
      std::u16string text;
      if (!reader.readInt(id) || !reader.readWString(text)) return false;
      if (all) set.messages.emplace_back(id, text);
      if (applies) messages[id] = std::move(text);
    }
    if (all) all->push_back(std::move(set));
  }
  return true;
}

std::vector<std::string> splitNames(std::string_view list, std::size_t limit) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start < list.size() && names.size() < limit) {
    std::size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    if (end > start) names.emplace_back(list.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

}  // namespace shipkit::payload
