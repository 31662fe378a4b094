#include <gtest/gtest.h>

#include "payload/ContainerFormat.h"

using namespace shipkit::payload;

namespace {

// Little-endian building blocks for hand-made containers.
struct Bytes {
  std::string data;
  Bytes& i32(int32_t v) {
    for (int i = 0; i < 4; ++i) data += char((uint32_t(v) >> (8 * i)) & 0xFF);
    return *this;
  }
  Bytes& i16(int16_t v) {
    for (int i = 0; i < 2; ++i) data += char((uint16_t(v) >> (8 * i)) & 0xFF);
    return *this;
  }
  Bytes& i64(int64_t v) {
    for (int i = 0; i < 8; ++i) data += char((uint64_t(v) >> (8 * i)) & 0xFF);
    return *this;
  }
  Bytes& raw(std::string_view s) {
    data += s;
    return *this;
  }
  Bytes& str(std::string_view s) { return i32(int32_t(s.size())).raw(s); }
  Bytes& wstr(std::u16string_view s) {
    i32(int32_t(s.size() * 2));
    for (char16_t c : s) data += char(c & 0xFF), data += char(c >> 8);
    return *this;
  }
};

}  // namespace

TEST(ContainerReader, PrimitivesAndShortReads) {
  Bytes b;
  b.i64(-2).i32(0x12345678).i16(-3).str("abc").wstr(u"h\u00e9");
  MemorySource src(b.data);
  ContainerReader r(src);
  int64_t l = 0;
  int32_t i = 0;
  int16_t s = 0;
  std::string text;
  std::u16string wide;
  ASSERT_TRUE(r.readLong(l));
  ASSERT_TRUE(r.readInt(i));
  ASSERT_TRUE(r.readShort(s));
  ASSERT_TRUE(r.readString(text));
  ASSERT_TRUE(r.readWString(wide));
  EXPECT_EQ(l, -2);
  EXPECT_EQ(i, 0x12345678);
  EXPECT_EQ(s, -3);
  EXPECT_EQ(text, "abc");
  EXPECT_EQ(wide, u"h\u00e9");
  EXPECT_FALSE(r.readInt(i));
  EXPECT_EQ(r.error().what, ReadFailure::ReadInt);
  EXPECT_EQ(r.error().bytesRead, 0u);
  // Failures stick.
  EXPECT_FALSE(r.readLong(l));
  EXPECT_EQ(r.error().what, ReadFailure::ReadInt);
}

TEST(ContainerReader, EachPrimitiveReportsItsOwnFailure) {
  struct Row {
    std::string bytes;
    int which;  // 0 long, 1 int, 2 short, 3 string, 4 wstring
    ReadFailure expected;
    uint32_t bytesRead;
  } rows[] = {
      {"1234567", 0, ReadFailure::ReadLong, 7},
      {"123", 1, ReadFailure::ReadInt, 3},
      {"1", 2, ReadFailure::ReadShort, 1},
      {Bytes().i32(5).raw("abcd").data, 3, ReadFailure::ReadString, 4},
      {Bytes().i32(4).raw("abc").data, 4, ReadFailure::ReadWString, 3},
      // The length itself is an int: a short length is a readInt failure.
      {"ab", 3, ReadFailure::ReadInt, 2},
      // Negative lengths are damage, not empty strings.
      {Bytes().i32(-1).data, 3, ReadFailure::ReadString, 0},
      {Bytes().i32(-2).data, 4, ReadFailure::ReadWString, 0},
  };
  for (const auto& row : rows) {
    MemorySource src(row.bytes);
    ContainerReader r(src);
    int64_t l;
    int32_t i;
    int16_t s;
    std::string t;
    std::u16string w;
    bool ok = row.which == 0   ? r.readLong(l)
              : row.which == 1 ? r.readInt(i)
              : row.which == 2 ? r.readShort(s)
              : row.which == 3 ? r.readString(t)
                               : r.readWString(w);
    EXPECT_FALSE(ok);
    EXPECT_EQ(r.error().what, row.expected) << "row " << row.which;
    EXPECT_EQ(r.error().bytesRead, row.bytesRead) << "row " << row.which;
    EXPECT_FALSE(fatalTextFor(r.error().what).empty());
  }
}

TEST(ContainerReader, HostileLengthFailsWithoutAllocating) {
  // A 2 GiB length in a tiny container must fail as a short read, not try to allocate.
  std::string bytes = Bytes().i32(0x7FFFFFFF).raw("tiny").data;
  MemorySource src(bytes);
  ContainerReader r(src);
  std::u16string w;
  EXPECT_FALSE(r.readWString(w));
  EXPECT_EQ(r.error().what, ReadFailure::ReadWString);
  EXPECT_TRUE(w.empty());
  MemorySource src2(bytes);
  ContainerReader r2(src2);
  std::string s;
  EXPECT_FALSE(r2.readString(s));
  EXPECT_EQ(r2.error().what, ReadFailure::ReadString);
}

TEST(ContainerReader, OddWideLengthDropsTheLastByte) {
  std::string bytes = Bytes().i32(3).data + std::string("a\0b", 3);
  MemorySource src(bytes);
  ContainerReader r(src);
  std::u16string w;
  ASSERT_TRUE(r.readWString(w));
  EXPECT_EQ(w, u"a");
  EXPECT_EQ(src.position(), 7u);
}

TEST(ContainerTables, LaterIdsReplaceAndNegativeCountsAreEmpty) {
  Bytes b;
  b.i32(3).i32(7).str("one").i32(7).str("two").i32(9).str("");
  b.i32(-5);  // messages: none
  b.i32(0);   // sets: none
  MemorySource src(b.data);
  ContainerReader r(src);
  ConfigMap config;
  MessageMap messages;
  ASSERT_TRUE(readConfigTable(r, config));
  ASSERT_TRUE(readMessageTable(r, messages));
  ASSERT_TRUE(readLocalizedSets(r, "en", messages));
  EXPECT_EQ(config.at(7), "two");
  ASSERT_TRUE(config.count(9));
  EXPECT_EQ(config.at(9), "");
  EXPECT_TRUE(messages.empty());
}

TEST(ContainerTables, LocalizedSetsApplyByPrefixInStoredOrder) {
  Bytes b;
  b.i32(3);
  b.str("de").i32(2).i32(1000).wstr(u"Fehler").i32(20013).wstr(u"Assistent");
  b.str("fr").i32(1).i32(1000).wstr(u"Erreur");
  b.str("de_CH").i32(2).i32(1000).wstr(u"Fehler CH").i32(555).wstr(u"neu");
  struct Row {
    const char* key;
    std::u16string m1000;
    std::u16string m20013;
    bool has555;
  } rows[] = {
      {"de_CH", u"Fehler CH", u"Assistent", true}, {"de", u"Fehler", u"Assistent", false},
      {"de_DE", u"Fehler", u"Assistent", false},   {"fr_FR", u"Erreur", u"Wizard", false},
      {"en", u"Error", u"Wizard", false},
      // "de_CH" is not a prefix of "de".
  };
  for (const auto& row : rows) {
    MemorySource src(b.data);
    ContainerReader r(src);
    MessageMap messages{{1000, u"Error"}, {20013, u"Wizard"}};
    std::vector<LocalizedSet> all;
    ASSERT_TRUE(readLocalizedSets(r, row.key, messages, &all));
    EXPECT_EQ(messages[1000], row.m1000) << row.key;
    EXPECT_EQ(messages[20013], row.m20013) << row.key;
    EXPECT_EQ(messages.count(555) != 0, row.has555) << row.key;
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[2].key, "de_CH");
    EXPECT_EQ(src.position(), b.data.size());
  }
  EXPECT_TRUE(setKeyMatches("", "xx"));
  EXPECT_FALSE(setKeyMatches("de_CH", "de"));
}

TEST(ContainerLocation, LastSectionInTableOrderDecides) {
  // A minimal PE: e_lfanew at 60, PE header at 64, optional header size 16, two sections;
  // the last listed section is not the one with the highest file offset.
  Bytes pe;
  pe.raw(std::string(60, 'M')).i32(64);
  pe.raw(std::string_view("PE\0\0", 4)).i16(0x8664).i16(2).raw(std::string(12, '\0')).i16(16).i16(0);
  pe.raw(std::string(16, '\0'));
  auto section = [&](uint32_t rawSize, uint32_t rawOffset) {
    pe.raw(std::string(16, '\0')).i32(int32_t(rawSize)).i32(int32_t(rawOffset)).raw(std::string(16, '\0'));
  };
  section(0x100, 0x400);  // highest offset
  section(0x80, 0x200);   // last in the table
  pe.data.resize(0x280, '\0');
  pe.i32(int32_t(kContainerMagic));
  MemorySource src(pe.data);
  ContainerReader r(src);
  PeLayout layout;
  ASSERT_TRUE(seekToContainer(r, layout));
  EXPECT_EQ(layout.sectionCount, 2);
  EXPECT_EQ(layout.optionalHeaderSize, 16);
  EXPECT_EQ(layout.lastSectionHeader, 64 + 16 + 80 - 16);
  EXPECT_EQ(layout.containerStart(), 0x280u);
  int32_t magic = 0;
  ASSERT_TRUE(r.readInt(magic));
  EXPECT_EQ(uint32_t(magic), kContainerMagic);
}

TEST(ContainerHeader, WrongMagicAndNothingAppended) {
  std::string wrong = Bytes().i32(0x12345678).i32(0).i32(0).i64(0).data;
  MemorySource src(wrong);
  ContainerReader r(src);
  ContainerHeader h;
  EXPECT_FALSE(readHeader(r, h));
  EXPECT_EQ(r.error().what, ReadFailure::Magic);
  EXPECT_EQ(fatalTextFor(ReadFailure::Magic), "Internal Error: magic");

  MemorySource empty("");
  ContainerReader r2(empty);
  EXPECT_FALSE(readHeader(r2, h));
  EXPECT_EQ(r2.error().what, ReadFailure::ReadInt);
  EXPECT_EQ(fatalTextFor(ReadFailure::ReadInt), "Internal Error: readInt");
}

TEST(PayloadNames, SplitSkipsEmptyNamesAndHonoursTheLimit) {
  EXPECT_EQ(splitNames("a;b;;c;"), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(splitNames("a;b;c;", 2), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(splitNames(";;"), std::vector<std::string>{});
  EXPECT_EQ(splitNames("last"), std::vector<std::string>{"last"});
  EXPECT_EQ(splitNames("a;b", 0), std::vector<std::string>{});
}
