#include "pack/ContainerWriter.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace shipkit::pack {

namespace {

template <typename T>
std::string littleEndian(T value) {
  auto v = static_cast<uint64_t>(value);
  std::string out(sizeof(T), '\0');
  for (std::size_t i = 0; i < sizeof(T); ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

uint32_t updateCrc(uint32_t crc, std::string_view bytes) {
  while (!bytes.empty()) {
    std::size_t n = std::min<std::size_t>(bytes.size(), 1u << 30);
    crc = static_cast<uint32_t>(
        ::crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(n)));
    bytes.remove_prefix(n);
  }
  return crc;
}

// Copies a payload file into the writer in chunks, so that a large runtime archive is
// never held in memory.
void writeFileData(ContainerWriter& w, const PayloadData& data, bool mask) {
  int fd = ::open(data.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    w.fail(data.field + ": cannot read \"" + data.path + "\": " + std::strerror(errno));
    return;
  }
  std::string chunk(1 << 20, '\0');
  uint64_t left = data.fileSize;
  while (w.ok()) {
    ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      w.fail(data.field + ": cannot read \"" + data.path + "\": " + std::strerror(errno));
    } else if (uint64_t(got) > left) {
      w.fail(data.field + ": \"" + data.path + "\" grew while it was being packed");
    } else if (got == 0) {
      if (left != 0) w.fail(data.field + ": \"" + data.path + "\" shrank while it was being packed");
      break;
    } else {
      std::string_view part(chunk.data(), static_cast<std::size_t>(got));
      mask ? w.masked(part) : w.raw(part);
      left -= uint64_t(got);
    }
  }
  ::close(fd);
}

void writeData(ContainerWriter& w, const PayloadData& data, bool mask) {
  if (!data.path.empty()) {
    writeFileData(w, data, mask);
  } else {
    mask ? w.masked(data.bytes) : w.raw(data.bytes);
  }
}

void writeCount(ContainerWriter& w, std::size_t count, const char* what) {
  if (count > INT32_MAX) w.fail(std::string("too many ") + what);
  w.int32(static_cast<int32_t>(count));
}

void writeMessages(ContainerWriter& w, const std::map<int32_t, std::u16string>& messages) {
  writeCount(w, messages.size(), "messages");
  for (const auto& [id, text] : messages) {
    w.int32(id);
    w.wstring(text);
  }
}

}  // namespace

void ContainerWriter::fail(std::string reason) {
  if (error_.empty()) error_ = reason.empty() ? "write failed" : std::move(reason);
}

void ContainerWriter::raw(std::string_view bytes) {
  if (!ok() || bytes.empty()) return;
  if (!sink_.write(bytes)) return fail(sink_.errorText());
  crc_ = updateCrc(crc_, bytes);
  written_ += bytes.size();
}

void ContainerWriter::int16(int16_t v) {
  raw(littleEndian(v));
}
void ContainerWriter::int32(int32_t v) {
  raw(littleEndian(v));
}
void ContainerWriter::uint32(uint32_t v) {
  raw(littleEndian(v));
}
void ContainerWriter::int64(int64_t v) {
  raw(littleEndian(v));
}

void ContainerWriter::masked(std::string_view bytes) {
  std::string buf(bytes);
  for (char& c : buf) c = static_cast<char>(c ^ static_cast<char>(payload::kFileMask));
  raw(buf);
}

void ContainerWriter::string(std::string_view bytes) {
  if (bytes.size() > INT32_MAX) return fail("string longer than 2 GiB");
  int32(static_cast<int32_t>(bytes.size()));
  raw(bytes);
}

void ContainerWriter::wstring(std::u16string_view text) {
  if (text.size() > INT32_MAX / 2) return fail("text longer than 2 GiB");
  std::string bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  int32(static_cast<int32_t>(bytes.size()));
  raw(bytes);
}

payload::ConfigMap effectiveConfig(const ContainerContent& content) {
  payload::ConfigMap config = content.config;
  if (!config.count(kFileCountId)) config[kFileCountId] = std::to_string(content.files.size());
  if (!config.count(kFileNamesId)) {
    std::string names;
    for (const auto& f : content.files) names += f.name + ";";
    config[kFileNamesId] = names;
  }
  return config;
}

std::string encodeHeader(uint32_t magic, int32_t checksumFlag, uint32_t crc, int64_t length) {
  return littleEndian(magic) + littleEndian(checksumFlag) + littleEndian(crc) + littleEndian(length);
}

namespace {

class CountingSink final : public ByteSink {
 public:
  bool write(std::string_view) override { return true; }
};

void writeTables(ContainerWriter& w, const ContainerContent& content) {
  payload::ConfigMap config = effectiveConfig(content);
  writeCount(w, config.size(), "configuration entries");
  for (const auto& [id, value] : config) {
    w.int32(id);
    w.string(value);
  }
  writeMessages(w, content.messages);
  writeCount(w, content.localized.size(), "localized sets");
  for (const auto& set : content.localized) {
    w.string(set.key);
    writeMessages(w, set.messages);
  }
}

}  // namespace

uint64_t fileRecordsEnd(const ContainerContent& content) {
  CountingSink counter;
  ContainerWriter w(counter);
  writeTables(w, content);
  uint64_t end = payload::kHeaderSize + w.written();
  for (const auto& file : content.files) end += 8 + file.data.size();
  return end;
}

bool unextractedPositionFits(uint64_t containerStart, const ContainerContent& content) {
  return content.files.empty() || containerStart + fileRecordsEnd(content) <= uint64_t(INT32_MAX);
}

void writeBody(ContainerWriter& w, const ContainerContent& content) {
  writeTables(w, content);
  for (const auto& file : content.files) {
    w.int64(static_cast<int64_t>(file.data.size()));
    writeData(w, file.data, true);
  }
  // The Java side expects the magic, big-endian, where the remaining data begins.
  w.raw("\xE8\xE4\x13\xD5");
  if (content.trailer) writeData(w, *content.trailer, false);
}

std::optional<std::string> buildContainer(const ContainerContent& content, std::string* error) {
  StringSink body;
  ContainerWriter w(body);
  writeBody(w, content);
  if (!w.ok()) {
    if (error) *error = w.error();
    return std::nullopt;
  }
  return encodeHeader(content.magic.value_or(payload::kContainerMagic), content.checksum ? 1 : 0,
                      content.crc.value_or(w.crc()),
                      content.checksummedLength.value_or(static_cast<int64_t>(w.written()))) +
         body.bytes;
}

}  // namespace shipkit::pack
