#pragma once
// The payload container appended to the launcher executable, read without any Windows
// dependency so that the launcher, the packer's inspector, the unit tests and the fuzzer
// share one parser.
//
// Layout (all integers little-endian), starting at the end of the raw data of the last
// section in the executable's section table:
//   uint32 magic 0xE8E413D5 | int32 checksum flag | uint32 CRC-32 | int64 checksummed length L
//   int32 C, C x { int32 id, int32 n, n bytes ANSI }             configuration entries
//   int32 M, M x { int32 id, int32 b, b bytes UTF-16LE }         messages
//   int32 K, K x { int32 k, k bytes key, int32 m, m messages }   localized message sets
//   payload file records { int64 F, F bytes XOR 0x88 } ...        (file data position)
//   remaining data for the Java side                               (unextracted position)
// The checksum covers the L bytes after the 20-byte header.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/ConfigTables.h"

namespace shipkit::payload {

inline constexpr uint32_t kContainerMagic = 0xE8E413D5u;
inline constexpr std::size_t kHeaderSize = 20;
inline constexpr uint8_t kFileMask = 0x88;

// A positioned source of bytes: the launcher's own file, or memory.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to n bytes at the current position and advances; returns the count read.
  // A failing read returns 0 and sets lastError().
  virtual std::size_t read(void* dst, std::size_t n) = 0;
  virtual bool seek(uint64_t position) = 0;
  virtual uint64_t position() const = 0;
  // Total length of the source; lengths read from the container are checked against it
  // before anything is allocated.
  virtual uint64_t size() const = 0;
  virtual uint32_t lastError() const { return 0; }
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  std::size_t read(void* dst, std::size_t n) override;
  bool seek(uint64_t position) override;
  uint64_t position() const override { return pos_; }
  uint64_t size() const override { return bytes_.size(); }

 private:
  std::string_view bytes_;
  uint64_t pos_ = 0;
};

// Which reading step failed; each has its own fatal text in the launcher.
enum class ReadFailure { None, ReadLong, ReadInt, ReadShort, ReadString, ReadWString, Magic };

struct ReadError {
  ReadFailure what = ReadFailure::None;
  uint32_t lastError = 0;
  uint32_t bytesRead = 0;  // of the failed primitive read
};

// "Internal Error: readInt" and its siblings.
std::string_view fatalTextFor(ReadFailure what);

// The reading primitives over a source. The first failure sticks: later calls fail too.
class ContainerReader {
 public:
  explicit ContainerReader(ByteSource& source) : src_(source) {}
  bool readLong(int64_t& out);
  bool readInt(int32_t& out);
  bool readShort(int16_t& out);
  bool readString(std::string& out);
  bool readWString(std::u16string& out);
  bool failed() const { return error_.what != ReadFailure::None; }
  const ReadError& error() const { return error_; }
  void fail(ReadFailure what) { error_ = {what, 0, 0}; }
  ByteSource& source() { return src_; }

 private:
  bool readExact(void* dst, std::size_t n, ReadFailure what);
  bool readBlob(std::size_t n, ReadFailure what, std::string& out);
  ByteSource& src_;
  ReadError error_;
};

struct PeLayout {
  int32_t peOffset = 0;
  int16_t sectionCount = 0;
  int16_t optionalHeaderSize = 0;
  int64_t lastSectionHeader = 0;  // H + S + 40N - 16
  uint32_t rawDataSize = 0;
  uint32_t rawDataOffset = 0;
  uint64_t containerStart() const { return uint64_t(rawDataOffset) + rawDataSize; }
};

// Walks the executable's PE headers and leaves the source at the container start.
bool seekToContainer(ContainerReader& reader, PeLayout& layout);

struct ContainerHeader {
  uint32_t magic = 0;
  int32_t checksumFlag = 0;
  uint32_t expectedCrc = 0;
  int64_t checksummedLength = 0;
};

// Reads the 20-byte header; fails with Magic on a wrong magic number.
bool readHeader(ContainerReader& reader, ContainerHeader& header);

using ConfigMap = core::ConfigMap;
using MessageMap = core::MessageMap;

// Reads a counted table of configuration entries or messages; later ids replace earlier ones.
bool readConfigTable(ContainerReader& reader, ConfigMap& config);
bool readMessageTable(ContainerReader& reader, MessageMap& messages);

struct LocalizedSet {
  std::string key;
  std::vector<std::pair<int32_t, std::u16string>> messages;  // in stored order
};

// A set applies when its key is a byte prefix of the user's language key ("de" applies
// to "de_CH"; an empty key applies to every language).
bool setKeyMatches(std::string_view setKey, std::string_view languageKey);

// Reads the localized sets, applying matching ones to `messages` in stored order.
// When `all` is given every set is also recorded there (the inspector lists them).
bool readLocalizedSets(ContainerReader& reader, std::string_view languageKey, MessageMap& messages,
                       std::vector<LocalizedSet>* all = nullptr);

// Splits a ";"-terminated name list (configuration entry 2003); empty names are skipped.
std::vector<std::string> splitNames(std::string_view list, std::size_t limit = SIZE_MAX);

}  // namespace shipkit::payload
