#pragma once
// Writes payload containers: explicit little-endian primitives over a byte sink (tests use
// them to build deliberately damaged containers), and the complete container from a
// content description (the packer and round-trip tests).

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "payload/ContainerFormat.h"

namespace shipkit::pack {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Returns false on failure; the sink keeps the reason for errorText().
  virtual bool write(std::string_view bytes) = 0;
  virtual std::string errorText() const { return "write failed"; }
};

class StringSink final : public ByteSink {
 public:
  bool write(std::string_view b) override {
    bytes.append(b);
    return true;
  }
  std::string bytes;
};

// Little-endian primitives with a running CRC-32 and byte count over everything written.
// The first failure sticks: later writes do nothing and error() keeps the first reason.
class ContainerWriter {
 public:
  explicit ContainerWriter(ByteSink& sink) : sink_(sink) {}
  void int16(int16_t v);
  void int32(int32_t v);
  void uint32(uint32_t v);
  void int64(int64_t v);
  void raw(std::string_view bytes);
  void masked(std::string_view bytes);     // every byte XOR 0x88, as payload file content
  void string(std::string_view bytes);     // int32 byte length, then the bytes
  void wstring(std::u16string_view text);  // int32 byte length, then UTF-16LE

  uint64_t written() const { return written_; }
  uint32_t crc() const { return crc_; }
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  void fail(std::string reason);

 private:
  ByteSink& sink_;
  uint64_t written_ = 0;
  uint32_t crc_ = 0;
  std::string error_;
};

// Bytes of a payload file or of the trailing data: inline, or a file read while writing.
struct PayloadData {
  std::string bytes;      // inline content
  std::string path;       // when non-empty, the content is this file's
  uint64_t fileSize = 0;  // size seen when the file was checked; it must not change
  std::string field;      // names the data in errors ("files[2].source")
  uint64_t size() const { return path.empty() ? bytes.size() : fileSize; }
};

struct FileEntry {
  std::string name;
  PayloadData data;
};

struct LocalizedMessages {
  std::string key;
  std::map<int32_t, std::u16string> messages;
};

struct ContainerContent {
  bool checksum = true;
  payload::ConfigMap config;
  payload::MessageMap messages;
  std::vector<LocalizedMessages> localized;  // stored in this order
  std::vector<FileEntry> files;
  std::optional<PayloadData> trailer;
  // Header fields forced to a given value, for installers that are damaged on purpose.
  std::optional<uint32_t> magic;
  std::optional<uint32_t> crc;
  std::optional<int64_t> checksummedLength;
};

inline constexpr int32_t kFileCountId = 2002;
inline constexpr int32_t kFileNamesId = 2003;

// The configuration as stored: entries 2002 and 2003 generated from the files unless the
// content sets them itself.
payload::ConfigMap effectiveConfig(const ContainerContent& content);

// The 20-byte header.
std::string encodeHeader(uint32_t magic, int32_t checksumFlag, uint32_t crc, int64_t length);

// Everything after the header: tables, file records, then the remaining data (the magic
// big-endian and the trailer).
void writeBody(ContainerWriter& writer, const ContainerContent& content);

// Where the file records end, counted in bytes from the container's first header byte. The
// launcher hands the Java side this position (plus the container's start) as a 32-bit number.
uint64_t fileRecordsEnd(const ContainerContent& content);

// Whether an installer whose container starts at `containerStart` can say where its file
// records end: the position must fit a signed 32-bit number (with no files it is 0).
bool unextractedPositionFits(uint64_t containerStart, const ContainerContent& content);

// Header and body in memory; nullopt with `error` set when a file source fails.
std::optional<std::string> buildContainer(const ContainerContent& content, std::string* error = nullptr);

}  // namespace shipkit::pack
