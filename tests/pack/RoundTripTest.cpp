// Installers built from manifests read back, through the launcher's reader, to what the
// manifest says: values, order, masking, the file table and the header.
#include <gtest/gtest.h>
#include <zlib.h>

#include "PackTestSupport.h"
#include "pack/ContainerWriter.h"

namespace shipkit::pack::test {
namespace {

using payload::ContainerReader;
using payload::MemorySource;

std::string magicBigEndian() {
  return "\xE8\xE4\x13\xD5";
}

TEST(PackRoundTrip, ConfigValuesAreOneBytePerCodePoint) {
  struct Case {
    const char* json;
    std::string bytes;
  };
  const Case cases[] = {
      {R"("i")", "i"},
      {R"("")", ""},  // present with an empty value, not absent
      {R"("\u00e4\u00ff")", "\xE4\xFF"},
      {R"("\u0001\u0000x")", std::string("\x01\0x", 3)},
      {R"("a;b\\c")", "a;b\\c"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    ScratchDir dir;
    Built built = buildWith(dir, std::string(R"({"config": {"10010": )") + c.json + "}}");
    ASSERT_TRUE(built.ok) << built.error;
    ReadBack r = readInstaller(built.bytes);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.config.count(10010), 1u);
    EXPECT_EQ(r.config[10010], c.bytes);
  }
}

TEST(PackRoundTrip, MessagesAreUtf16) {
  struct Case {
    const char* json;
    std::u16string text;
  };
  const Case cases[] = {
      {R"("Error")", u"Error"},
      {R"("")", u""},
      {R"("\u00fc\u20ac")", u"\u00fc\u20ac"},
      {R"("\ud83d\ude00")", u"\U0001F600"},  // a surrogate pair, four bytes
      {R"("a\nb")", u"a\nb"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    ScratchDir dir;
    Built built = buildWith(dir, std::string(R"({"messages": {"20016": )") + c.json + "}}");
    ASSERT_TRUE(built.ok) << built.error;
    ReadBack r = readInstaller(built.bytes);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.messages[20016], c.text);
  }
}

// Reads the ids of the configuration and message tables in stored order.
void storedIds(std::string_view installer, std::vector<int32_t>& config, std::vector<int32_t>& messages) {
  MemorySource src(installer);
  ContainerReader reader(src);
  payload::PeLayout pe;
  payload::ContainerHeader header;
  ASSERT_TRUE(payload::seekToContainer(reader, pe) && payload::readHeader(reader, header));
  for (auto* ids : {&config, &messages}) {
    int32_t count = 0, id = 0;
    ASSERT_TRUE(reader.readInt(count));
    for (int32_t i = 0; i < count; ++i) {
      std::string s;
      std::u16string w;
      ASSERT_TRUE(reader.readInt(id));
      ASSERT_TRUE(ids == &config ? reader.readString(s) : reader.readWString(w));
      ids->push_back(id);
    }
  }
}

TEST(PackRoundTrip, TablesAreInAscendingNumericIdOrder) {
  ScratchDir dir;
  Built built = buildWith(dir, R"({"defaultMessages": false,
    "config": {"10010": "", "107": "1", "2001": "i", "-5": "negative"},
    "messages": {"20016": "c", "999": "a", "1000": "b"}})");
  ASSERT_TRUE(built.ok) << built.error;
  std::vector<int32_t> config, messages;
  storedIds(built.bytes, config, messages);
  EXPECT_EQ(config, (std::vector<int32_t>{-5, 107, 2001, 2002, 2003, 10010}));
  EXPECT_EQ(messages, (std::vector<int32_t>{999, 1000, 20016}));
}

TEST(PackRoundTrip, LocalizedSetsKeepArrayOrderAndApplyLikeTheLauncher) {
  ScratchDir dir;
  Built built = buildWith(dir, R"({
    "messages": {"1000": "Error", "1001": "Base"},
    "localized": [
      {"key": "de_CH", "messages": {"1000": "CH"}},
      {"key": "de", "messages": {"1000": "DE", "999": "neu"}},
      {"key": "", "messages": {"1001": "all"}},
      {"key": "fr", "messages": {"1000": "FR"}}]})");
  ASSERT_TRUE(built.ok) << built.error;

  ReadBack stored = readInstaller(built.bytes);
  ASSERT_TRUE(stored.ok);
  std::vector<std::string> keys;
  for (const auto& s : stored.sets) keys.push_back(s.key);
  EXPECT_EQ(keys, (std::vector<std::string>{"de_CH", "de", "", "fr"}));
  ASSERT_EQ(stored.sets[1].messages.size(), 2u);
  EXPECT_EQ(stored.sets[1].messages[0].first, 999);  // numeric, not textual, order
  EXPECT_EQ(stored.sets[1].messages[1].first, 1000);

  struct Case {
    const char* language;
    std::u16string m1000, m1001;
    bool has999;
  };
  const Case cases[] = {
      {"de_CH", u"DE", u"all", true},  // "de" is stored after "de_CH", so it wins
      {"de", u"DE", u"all", true},
      {"fr_FR", u"FR", u"all", false},
      {"en", u"Error", u"all", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language);
    ReadBack r = readInstaller(built.bytes, c.language);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.messages[1000], c.m1000);
    EXPECT_EQ(r.messages[1001], c.m1001);
    EXPECT_EQ(r.messages.count(999) == 1, c.has999);
  }
}

TEST(PackRoundTrip, FileContentIsMaskedWithX88) {
  ScratchDir dir;
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  writeFile(dir / "all.bin", all);
  Built built = buildWith(dir, R"({"files": [
    {"name": "all.bin", "source": "all.bin"},
    {"name": "empty.bin", "text": ""},
    {"name": "sub\\two.bin", "hex": "00 88"}]})");
  ASSERT_TRUE(built.ok) << built.error;
  ReadBack r = readInstaller(built.bytes);
  ASSERT_TRUE(r.ok);

  uint64_t record = r.fileDataPosition;
  ASSERT_EQ(le64(built.bytes, record), 256u);
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(static_cast<unsigned char>(built.bytes[record + 8 + i]), i ^ 0x88) << i;
  record += 8 + 256;
  EXPECT_EQ(le64(built.bytes, record), 0u);  // empty file: length 0, no content bytes
  record += 8;
  EXPECT_EQ(le64(built.bytes, record), 2u);
  EXPECT_EQ(built.bytes.substr(record + 8, 2), std::string("\x88\x00", 2));

  ASSERT_EQ(r.files.size(), 3u);
  EXPECT_EQ(r.files[0], (std::pair<std::string, std::string>{"all.bin", all}));
  EXPECT_EQ(r.files[1], (std::pair<std::string, std::string>{"empty.bin", ""}));
  EXPECT_EQ(r.files[2].first, "sub\\two.bin");
  EXPECT_EQ(r.files[2].second, std::string("\x00\x88", 2));
  EXPECT_EQ(r.config[2002], "3");
  EXPECT_EQ(r.config[2003], "all.bin;empty.bin;sub\\two.bin;");
}

TEST(PackRoundTrip, ExplicitFileTableEntriesWin) {
  ScratchDir dir;
  Built built = buildWith(dir, R"({"config": {"2002": "1"},
    "files": [{"name": "a", "text": "AAAA"}, {"name": "b", "text": "BB"}]})");
  ASSERT_TRUE(built.ok) << built.error;
  ReadBack r = readInstaller(built.bytes);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.config[2002], "1");
  EXPECT_EQ(r.config[2003], "a;b;");
  ASSERT_EQ(r.files.size(), 1u);
  // The undeclared record is still written: it is where the launcher stops reading.
  EXPECT_EQ(r.end, r.fileDataPosition + 8 + 4);
  EXPECT_EQ(r.remaining, std::string("\x02\0\0\0\0\0\0\0", 8) + "\xCA\xCA" + magicBigEndian());

  ScratchDir dir2;
  built = buildWith(dir2, R"({"config": {"2003": "x;y;z;"}, "files": [{"name": "a", "text": ""}]})");
  ASSERT_TRUE(built.ok) << built.error;
  r = readInstaller(built.bytes);
  EXPECT_EQ(r.config[2002], "1");
  EXPECT_EQ(r.config[2003], "x;y;z;");
}

TEST(PackRoundTrip, RemainingDataIsBigEndianMagicThenTrailer) {
  struct Case {
    const char* trailer;  // JSON, or nullptr for none
    std::string remaining;
  };
  const Case cases[] = {
      {nullptr, magicBigEndian()},
      {R"({"text": "JAVA"})", magicBigEndian() + "JAVA"},
      {R"({"hex": "88 00"})", magicBigEndian() + std::string("\x88\x00", 2)},  // not masked
      {R"({"source": "tail.bin"})", magicBigEndian() + std::string("\x00\x88t", 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.trailer ? c.trailer : "none");
    ScratchDir dir;
    writeFile(dir / "tail.bin", std::string("\x00\x88t", 3));
    std::string manifest = R"({"files": [{"name": "a", "text": "A"}])";
    if (c.trailer) manifest += std::string(R"(, "trailer": )") + c.trailer;
    Built built = buildWith(dir, manifest + "}");
    ASSERT_TRUE(built.ok) << built.error;
    ReadBack r = readInstaller(built.bytes);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.remaining, c.remaining);
  }
}

TEST(PackRoundTrip, HeaderCrcCoversExactlyTheRestOfTheContainer) {
  const char* manifests[] = {
      R"({"files": [{"name": "a", "text": "A"}], "trailer": {"text": "end"}})",
      R"({"checksum": false, "messages": {"1": "x"}})",
      R"({})",
  };
  for (const char* manifest : manifests) {
    SCOPED_TRACE(manifest);
    ScratchDir dir;
    Built built = buildWith(dir, manifest);
    ASSERT_TRUE(built.ok) << built.error;
    ReadBack r = readInstaller(built.bytes);
    ASSERT_TRUE(r.ok);
    uint64_t range = r.pe.containerStart() + 20;
    ASSERT_EQ(uint64_t(r.header.checksummedLength), built.bytes.size() - range);
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(built.bytes.data() + range),
                      uInt(built.bytes.size() - range));
    EXPECT_EQ(r.header.expectedCrc, uint32_t(crc));
    bool checked = std::string(manifest).find("false") == std::string::npos;
    EXPECT_EQ(r.header.checksumFlag, checked ? 1 : 0);
  }
}

TEST(PackRoundTrip, HeaderOverridesAreWrittenAsGiven) {
  ScratchDir dir;
  Built built = buildWith(dir, R"({"header": {"crc": 4294967295, "length": -2}})");
  ASSERT_TRUE(built.ok) << built.error;
  uint64_t start = makePe({}).size();
  EXPECT_EQ(le32(built.bytes, start), payload::kContainerMagic);
  EXPECT_EQ(le32(built.bytes, start + 8), 0xFFFFFFFFu);
  EXPECT_EQ(le64(built.bytes, start + 12), uint64_t(-2));

  ScratchDir dir2;
  built = buildWith(dir2, R"({"header": {"magic": 305419896}})");
  ASSERT_TRUE(built.ok) << built.error;
  EXPECT_EQ(readInstaller(built.bytes).failure, payload::ReadFailure::Magic);
}

TEST(PackRoundTrip, OutputIsDeterministic) {
  // The same content twice, the second time with keys written in another order.
  const char* manifests[] = {
      R"({"config": {"107": "1", "2001": "i"}, "messages": {"1000": "E", "1": "x"},
          "files": [{"name": "big.bin", "source": "big.bin"}], "trailer": {"text": "t"}})",
      R"({"trailer": {"text": "t"}, "files": [{"source": "big.bin", "name": "big.bin"}],
          "messages": {"1": "x", "1000": "E"}, "config": {"2001": "i", "107": "1"}})",
  };
  std::string big(3 << 20, '\0');  // spans several read chunks
  uint32_t state = 12345;          // fixed seed
  for (char& c : big) c = static_cast<char>((state = state * 1103515245 + 12345) >> 24);
  std::vector<std::string> outputs;
  for (const char* manifest : manifests) {
    for (int again = 0; again < 2; ++again) {
      ScratchDir dir;
      writeFile(dir / "big.bin", big);
      Built built = buildWith(dir, manifest);
      ASSERT_TRUE(built.ok) << built.error;
      outputs.push_back(built.bytes);
    }
  }
  for (const auto& o : outputs) EXPECT_TRUE(o == outputs[0]);
  ReadBack r = readInstaller(outputs[0]);
  ASSERT_EQ(r.files.size(), 1u);
  EXPECT_TRUE(r.files[0].second == big);
}

}  // namespace
}  // namespace shipkit::pack::test

namespace shipkit::pack::test {
namespace {

// The position the launcher passes as a 32-bit number: where the file records end. Content
// that would put it past 2147483647 is refused before anything is written.
TEST(PackLimits, FileRecordsMustEndWithinTheSignedThirtyTwoBitRange) {
  ContainerContent small;
  small.files.push_back({"a", {.bytes = "AB"}});
  // Cross-check against a real build: the file records end where the remaining data begins.
  ScratchDir dir;
  Built built = buildWith(dir, R"({"defaultMessages": false, "files": [{"name": "a", "text": "AB"}],
                                   "trailer": {"text": "T"}})");
  ASSERT_TRUE(built.ok) << built.error;
  ReadBack r = readInstaller(built.bytes);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.pe.containerStart() + fileRecordsEnd(small), r.end);

  auto sized = [](std::vector<uint64_t> sizes) {
    ContainerContent c;
    for (uint64_t size : sizes) c.files.push_back({"f", {.path = "x", .fileSize = size}});
    return c;
  };
  const uint64_t overhead = fileRecordsEnd(sized({0}));
  struct Row {
    uint64_t containerStart;
    std::vector<uint64_t> sizes;
    bool fits;
  } rows[] = {
      {1000, {}, true},  // no files: the position is 0
      {1000, {INT32_MAX - 1000 - overhead}, true},
      {1000, {INT32_MAX - 1000 - overhead + 1}, false},
      {0, {uint64_t(3) << 30}, false},
      {0, {uint64_t(1) << 30, uint64_t(1) << 30}, false},  // the sum counts, not each file
      {uint64_t(INT32_MAX), {0}, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.containerStart);
    EXPECT_EQ(unextractedPositionFits(row.containerStart, sized(row.sizes)), row.fits);
  }
}

}  // namespace
}  // namespace shipkit::pack::test
