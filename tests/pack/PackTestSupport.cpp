#include "PackTestSupport.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "pack/Cli.h"
#include "pack/Packer.h"

namespace shipkit::pack::test {

namespace {

void put(std::string& b, uint64_t at, uint64_t value, int width) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint16_t optionalHeaderSize(const PeShape& shape) {
  return shape.pe32Plus ? 240 : 224;
}

}  // namespace

uint64_t dataDirectoryOffset(const PeShape& shape, int index) {
  return kPeOffset + 24 + (shape.pe32Plus ? 112 : 96) + 8 * uint64_t(index);
}

std::string makePe(const PeShape& shape) {
  uint64_t table = kPeOffset + 24 + optionalHeaderSize(shape);
  uint64_t size = table + 40 * shape.sections.size();
  for (const auto& s : shape.sections) size = std::max<uint64_t>(size, s.rawOffset + s.rawSize);
  std::string b(size, '\0');
  b[0] = 'M', b[1] = 'Z';
  put(b, 60, kPeOffset, 4);
  b.replace(kPeOffset, 4, std::string("PE\0\0", 4));
  put(b, kPeOffset + 4, 0x8664, 2);  // machine
  put(b, kPeOffset + 6, shape.sections.size(), 2);
  put(b, kPeOffset + 12, shape.symbolTable, 4);
  put(b, kPeOffset + 16, shape.symbolCount, 4);
  put(b, kPeOffset + 20, optionalHeaderSize(shape), 2);
  uint64_t opt = kPeOffset + 24;
  put(b, opt, shape.pe32Plus ? 0x20B : 0x10B, 2);
  put(b, opt + (shape.pe32Plus ? 108 : 92), 16, 4);  // NumberOfRvaAndSizes
  for (int d = 0; d < 16; ++d) {                     // recognisable values in every directory
    put(b, dataDirectoryOffset(shape, d), 0x1000 * (d + 1), 4);
    put(b, dataDirectoryOffset(shape, d) + 4, 0x10 * (d + 1), 4);
  }
  put(b, dataDirectoryOffset(shape, 4), shape.certificateOffset, 4);
  put(b, dataDirectoryOffset(shape, 4) + 4, shape.certificateSize, 4);
  for (std::size_t i = 0; i < shape.sections.size(); ++i) {
    const auto& s = shape.sections[i];
    uint64_t at = table + 40 * i;
    b.replace(at, std::min<std::size_t>(8, s.name.size()), s.name.substr(0, 8));
    put(b, at + 8, s.rawSize, 4);  // VirtualSize
    put(b, at + 16, s.rawSize, 4);
    put(b, at + 20, s.rawOffset, 4);
    std::fill_n(b.begin() + s.rawOffset, s.rawSize, static_cast<char>(0x51 + i));
  }
  return b + shape.tail;
}

uint32_t le32(std::string_view b, uint64_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t(static_cast<unsigned char>(b.at(at + i))) << (8 * i);
  return v;
}

uint64_t le64(std::string_view b, uint64_t at) {
  return le32(b, at) | uint64_t(le32(b, at + 4)) << 32;
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

ScratchDir::ScratchDir() {
  static int counter = 0;
  path_ = std::filesystem::temp_directory_path() /
          ("shipkit-pack-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> ScratchDir::entries() const {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(path_))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

Built buildWith(const ScratchDir& dir, std::string_view manifest, std::string_view stub) {
  writeFile(dir / "manifest.json", manifest);
  writeFile(dir / "stub.exe", stub);
  BuildOptions options{dir / "manifest.json", dir / "stub.exe", dir / "out.exe"};
  Built built;
  BuildSummary summary;
  built.ok = buildInstaller(options, summary, built.error);
  if (built.ok) built.bytes = readFile(dir / "out.exe");
  return built;
}

Built buildWith(const ScratchDir& dir, std::string_view manifest) {
  return buildWith(dir, manifest, makePe({}));
}

ReadBack readInstaller(std::string_view bytes, std::string_view languageKey) {
  ReadBack r;
  payload::MemorySource src(bytes);
  payload::ContainerReader reader(src);
  bool ok = payload::seekToContainer(reader, r.pe) && payload::readHeader(reader, r.header) &&
            payload::readConfigTable(reader, r.config) && payload::readMessageTable(reader, r.messages) &&
            payload::readLocalizedSets(reader, languageKey, r.messages, &r.sets);
  if (ok) {
    r.fileDataPosition = src.position();
    long count = r.config.count(2002) ? std::stol(r.config[2002]) : 0;
    for (const auto& name : payload::splitNames(r.config[2003], count > 0 ? count : 0)) {
      int64_t length = 0;
      if (!(ok = reader.readLong(length))) break;
      std::string content;
      if (length > 0) {
        content.resize(length);
        if (!(ok = src.read(content.data(), length) == std::size_t(length))) break;
        for (char& c : content) c = static_cast<char>(c ^ 0x88);
      }
      r.files.emplace_back(name, content);
    }
  }
  r.ok = ok;
  r.failure = reader.error().what;
  r.end = src.position();
  if (ok && r.end <= bytes.size()) r.remaining = std::string(bytes.substr(r.end));
  return r;
}

CliRun runPack(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  CliRun run;
  run.code = runCli(args, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

}  // namespace shipkit::pack::test
