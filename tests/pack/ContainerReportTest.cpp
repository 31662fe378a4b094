// The inspector's report, which end-to-end tests grep, and its verdicts on damaged
// installers.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <functional>

#include "PackTestSupport.h"
#include "pack/ContainerWriter.h"

namespace shipkit::pack::test {
namespace {

std::string hex32(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", v);
  return buf;
}

uint32_t zlibCrc(std::string_view bytes) {
  return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
}

CliRun inspect(const ScratchDir& dir, std::string_view installer) {
  writeFile(dir / "in.exe", installer);
  return runPack({"inspect", (dir / "in.exe").string()});
}

bool hasLine(const std::string& out, const std::string& line) {
  return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
}

TEST(PackInspect, ReportsEveryPartOfAnInstaller) {
  ScratchDir dir;
  Built built = buildWith(dir, R"({"defaultMessages": false, "config": {"107": "1"}, "messages": {"1000": "E"},
    "localized": [{"key": "de", "messages": {"1000": "F"}}],
    "files": [{"name": "a", "text": "xy"}, {"name": "sub\\b", "text": ""}],
    "trailer": {"text": "T"}})");
  ASSERT_TRUE(built.ok) << built.error;
  ASSERT_EQ(built.bytes.size(), 1655u);
  CliRun run = inspect(dir, built.bytes);
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.err, "");
  // Stub 0x600 bytes; header 20; configuration 38, messages 14, localized sets 24 bytes;
  // records of 8 + 2 and 8 + 0 bytes; magic and "T".
  EXPECT_EQ(run.out,
            "file size: 1655\n"
            "pe offset: 64\n"
            "sections: 2\n"
            "section 0: \".text\" raw offset 512 raw size 512\n"
            "section 1: \".data\" raw offset 1024 raw size 512\n"
            "optional header size: 240\n"
            "last section header: 368\n"
            "raw data size: 512\n"
            "raw data offset: 1024\n"
            "container start: 1536\n"
            "magic: 0xE8E413D5\n"
            "checksum flag: 1\n"
            "expected crc: " +
                hex32(zlibCrc(std::string_view(built.bytes).substr(1556))) +
                "\n"
                "checksummed length: 99\n"
                "checksum: match\n"
                "config count: 3\n"
                "config 107: \"1\"\n"
                "config 2002: \"2\"\n"
                "config 2003: \"a;sub\\\\b;\"\n"
                "message count: 1\n"
                "message 1000: \"E\"\n"
                "localized count: 1\n"
                "localized 0 key: \"de\"\n"
                "localized 0 message count: 1\n"
                "localized 0 message 1000: \"F\"\n"
                "file data position: 1632\n"
                "file count: 2\n"
                "file names: 2\n"
                "file 0: \"a\" length 2 record 1632\n"
                "file 1: \"sub\\\\b\" length 0 record 1642\n"
                "file data end: 1650\n"
                "unextracted position: 1650\n"
                "trailing data length: 5\n"
                "trailing magic: yes\n");
}

TEST(PackInspect, ChecksumVerdicts) {
  struct Case {
    const char* what;
    const char* manifest;
    std::function<void(std::string&)> damage;
    std::function<std::string(std::string_view range)> verdict;
  };
  auto none = [](std::string&) {};
  const Case cases[] = {
      {"intact", R"({"trailer": {"text": "T"}})", none,
       [](std::string_view) { return std::string("checksum: match"); }},
      {"last byte flipped", R"({"trailer": {"text": "T"}})", [](std::string& b) { b.back() ^= 1; },
       [](std::string_view range) {
         std::string intact(range);
         intact.back() ^= 1;
         return "checksum: MISMATCH computed " + hex32(zlibCrc(range)) + " expected " +
                hex32(zlibCrc(intact));
       }},
      {"flag 0", R"({"checksum": false, "header": {"crc": 1}})", none,
       [](std::string_view) { return std::string("checksum: not checked (flag 0)"); }},
      {"length past the end", R"({"header": {"length": 1000}})", none,
       [](std::string_view range) {
         return "checksum: TRUNCATED need 1000 bytes, " + std::to_string(range.size()) + " available";
       }},
      {"empty range, CRC 0", R"({"header": {"length": 0, "crc": 0}})", none,
       [](std::string_view) { return std::string("checksum: match"); }},
      {"empty range, CRC 5", R"({"header": {"length": 0, "crc": 5}})", none,
       [](std::string_view) {
         return std::string("checksum: MISMATCH computed 0x00000000 expected 0x00000005");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    // The container's tables as written: no default messages.
    Built built = buildWith(dir, R"({"defaultMessages": false, )" + std::string(c.manifest).substr(1));
    ASSERT_TRUE(built.ok) << built.error;
    c.damage(built.bytes);
    CliRun run = inspect(dir, built.bytes);
    EXPECT_EQ(run.code, 0);
    std::string line = c.verdict(std::string_view(built.bytes).substr(0x600 + 20));
    EXPECT_TRUE(hasLine(run.out, line)) << line << "\n" << run.out;
  }
}

TEST(PackInspect, FileTableFollowsEntry2002AsTheLauncherReadsIt) {
  // Two records of 8 + 1 bytes each; the file data position is computed from the output.
  struct Case {
    const char* count;
    std::vector<std::string> fileLines;
    int unextractedRecords;  // -1: the launcher reports 0
  };
  const Case cases[] = {
      {"2", {"file 0: \"a\" length 1", "file 1: \"b\" length 1"}, 2},
      {"1", {"file 0: \"a\" length 1"}, 1},
      {" 7x", {"file 0: \"a\" length 1", "file 1: \"b\" length 1"}, 2},  // names run out
      {"0", {}, -1},
      {"-3", {}, 0},
      {"0x10", {}, -1},  // decimal only: 0
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    ScratchDir dir;
    Built built = buildWith(dir, std::string(R"({"config": {"2002": ")") + c.count +
                                     R"("}, "files": [{"name": "a", "text": "A"},
                                                      {"name": "b", "text": "B"}]})");
    ASSERT_TRUE(built.ok) << built.error;
    CliRun run = inspect(dir, built.bytes);
    ASSERT_EQ(run.code, 0) << run.err;
    uint64_t data = readInstaller(built.bytes).fileDataPosition;
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = run.out.find("\nfile ", at)) != std::string::npos; ++at)
      lines += std::isdigit(static_cast<unsigned char>(run.out[at + 6])) ? 1 : 0;
    EXPECT_EQ(lines, c.fileLines.size());
    for (std::size_t i = 0; i < c.fileLines.size(); ++i)
      EXPECT_TRUE(hasLine(run.out, c.fileLines[i] + " record " + std::to_string(data + 9 * i))) << run.out;
    uint64_t end = data + 9 * std::max(c.unextractedRecords, 0);
    EXPECT_TRUE(hasLine(run.out, "file data end: " + std::to_string(end))) << run.out;
    EXPECT_TRUE(
        hasLine(run.out, "unextracted position: " + std::to_string(c.unextractedRecords < 0 ? 0 : end)))
        << run.out;
    EXPECT_TRUE(hasLine(run.out, "trailing data length: " + std::to_string(built.bytes.size() - end)));
  }
}

TEST(PackInspect, ValuesAreQuotedAndEscaped) {
  StringSink sink;
  ContainerWriter w(sink);
  w.raw(makePe({}));
  w.raw(encodeHeader(payload::kContainerMagic, 0, 0, 0));
  w.int32(1), w.int32(7), w.string("\x01\"\\\xE9 ok");
  w.int32(2);
  w.int32(1), w.raw(std::string("\x06\0\0\0\x00\xD8\x41\x00\x09\x00", 10));  // lone surrogate
  w.int32(2), w.wstring(u"\u00fc\U0001F600\n");
  w.int32(0);
  ScratchDir dir;
  CliRun run = inspect(dir, sink.bytes);
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(hasLine(run.out, R"(config 7: "\x01\"\\\xE9 ok")")) << run.out;
  EXPECT_TRUE(hasLine(run.out, R"(message 1: "\uD800A\t")")) << run.out;
  EXPECT_TRUE(hasLine(run.out, "message 2: \"\u00fc\U0001F600\\n\"")) << run.out;
  EXPECT_TRUE(hasLine(run.out, "trailing magic: no")) << run.out;
}

TEST(PackInspect, DamagedInstallersExitWithOneNamingTheFailedRead) {
  using Body = std::function<void(ContainerWriter&)>;
  auto header = [](ContainerWriter& w) { w.raw(encodeHeader(payload::kContainerMagic, 0, 0, 0)); };
  auto names = [](ContainerWriter& w, const char* count, const char* list) {
    w.int32(2), w.int32(2002), w.string(count), w.int32(2003), w.string(list);
    w.int32(0), w.int32(0);
  };
  struct Case {
    const char* what;
    Body body;
    std::string error;
  };
  const Case cases[] = {
      {"nothing after the image", [](ContainerWriter&) {}, "container header: Internal Error: readInt"},
      {"wrong magic", [](ContainerWriter& w) { w.raw(encodeHeader(0x12345678, 0, 0, 0)); },
       "container header: Internal Error: magic"},
      {"header cut in the length",
       [](ContainerWriter& w) { w.raw(encodeHeader(payload::kContainerMagic, 0, 0, 0).substr(0, 15)); },
       "container header: Internal Error: readLong"},
      {"configuration value past the end",
       [&](ContainerWriter& w) { header(w), w.int32(1), w.int32(1), w.int32(1000); },
       "configuration table: Internal Error: readString"},
      {"message length 0x7FFFFFFF",
       [&](ContainerWriter& w) {
         header(w), w.int32(0), w.int32(1), w.int32(1000), w.int32(0x7FFFFFFF);
         w.raw(std::string(60, 'x'));
       },
       "message table: Internal Error: readWString"},
      {"localized sets cut", [&](ContainerWriter& w) { header(w), w.int32(0), w.int32(0), w.int32(1); },
       "localized sets: Internal Error: readInt"},
      {"file content cut",
       [&](ContainerWriter& w) { header(w), names(w, "1", "a.bin;"), w.int64(10), w.raw("abc"); },
       "file 0 \"a.bin\": content truncated (length 10, 3 bytes remain)"},
      {"second record missing",
       [&](ContainerWriter& w) { header(w), names(w, "2", "a;b;"), w.int64(1), w.raw("a"), w.int32(0); },
       "file 1 \"b\": Internal Error: readLong"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StringSink sink;
    ContainerWriter w(sink);
    w.raw(makePe({}));
    c.body(w);
    ScratchDir dir;
    CliRun run = inspect(dir, sink.bytes);
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, "shipkit-pack: inspect: " + c.error + "\n");
    EXPECT_TRUE(hasLine(run.out, "container start: 1536")) << run.out;  // the report so far
  }
}

TEST(PackInspect, UnreadableFilesExitWithOne) {
  ScratchDir dir;
  writeFile(dir / "tiny.exe", "MZ");
  const std::pair<std::string, std::string> cases[] = {
      {"missing.exe", "cannot read \"" + (dir / "missing.exe").string() + "\": No such file or directory"},
      {"", "cannot read \"" + dir.path().string() + "/\": not a regular file"},
      {"tiny.exe", "PE headers: Internal Error: readInt"},
  };
  for (const auto& [name, error] : cases) {
    SCOPED_TRACE(name);
    CliRun run = runPack({"inspect", (dir / name).string()});
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, "shipkit-pack: inspect: " + error + "\n");
  }
}

}  // namespace
}  // namespace shipkit::pack::test
