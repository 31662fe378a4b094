// The shared container reader against damaged and hostile containers written with the
// packer's low-level writer: each fails with the launcher's reading step, never reads or
// allocates past the data, and treats counts of zero or less as empty tables.
#include <gtest/gtest.h>

#include <functional>

#include "AllocationProbe.h"
#include "PackTestSupport.h"
#include "pack/ContainerWriter.h"

namespace shipkit::pack::test {
namespace {

using payload::ReadFailure;

// A header (magic, flag, CRC, length) followed by what `body` writes, padded to at least
// 100 bytes so that every hostile length below is far larger than the container.
std::string container(const std::function<void(ContainerWriter&)>& body) {
  StringSink sink;
  ContainerWriter w(sink);
  w.uint32(payload::kContainerMagic);
  w.int32(1);
  w.uint32(0);
  w.int64(0);
  body(w);
  if (sink.bytes.size() < 100) sink.bytes.resize(100, '\0');
  return sink.bytes;
}

struct Outcome {
  bool ok;
  ReadFailure failure;
  payload::ConfigMap config;
  payload::MessageMap messages;
  std::vector<payload::LocalizedSet> sets;
  uint64_t position;
};

// Reads a container at offset 0 the way the launcher reads one after its PE headers.
Outcome readAll(std::string_view bytes) {
  payload::MemorySource src(bytes);
  payload::ContainerReader reader(src);
  payload::ContainerHeader header;
  Outcome o{};
  o.ok = payload::readHeader(reader, header) && payload::readConfigTable(reader, o.config) &&
         payload::readMessageTable(reader, o.messages) &&
         payload::readLocalizedSets(reader, "de_CH", o.messages, &o.sets);
  o.failure = reader.error().what;
  o.position = src.position();
  return o;
}

TEST(PackReader, HostileLengthsFailWithTheirReadingStep) {
  struct Case {
    const char* what;
    std::function<void(ContainerWriter&)> body;
    ReadFailure failure;
  };
  const Case cases[] = {
      {"message byte length 0x7FFFFFFF",
       [](ContainerWriter& w) { w.int32(0), w.int32(1), w.int32(1000), w.int32(0x7FFFFFFF); },
       ReadFailure::ReadWString},
      {"configuration length 0x7FFFFFFF",
       [](ContainerWriter& w) { w.int32(1), w.int32(107), w.int32(0x7FFFFFFF); }, ReadFailure::ReadString},
      {"negative configuration length", [](ContainerWriter& w) { w.int32(1), w.int32(107), w.int32(-1); },
       ReadFailure::ReadString},
      {"negative message length",
       [](ContainerWriter& w) { w.int32(0), w.int32(1), w.int32(1), w.int32(INT32_MIN); },
       ReadFailure::ReadWString},
      {"localized key length 0x7FFFFFFF",
       [](ContainerWriter& w) { w.int32(0), w.int32(0), w.int32(1), w.int32(0x7FFFFFFF); },
       ReadFailure::ReadString},
      {"2^31-1 configuration entries in 100 bytes", [](ContainerWriter& w) { w.int32(0x7FFFFFFF); },
       ReadFailure::ReadInt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string bytes = container(c.body);
    ASSERT_EQ(bytes.size(), 100u);
    AllocationProbe probe;
    Outcome o = readAll(bytes);
    std::size_t largest = probe.largest();
    EXPECT_FALSE(o.ok);
    EXPECT_EQ(o.failure, c.failure);
    EXPECT_LE(o.position, bytes.size());
    EXPECT_LT(largest, 4096u);
  }
}

TEST(PackReader, ALengthUpToTheLastByteIsReadAndOnePastFails) {
  // Header 20, three counts 12, key "de" 6, its count, id and length 12: 50 bytes, 50 left.
  for (int32_t length : {50, 51}) {
    SCOPED_TRACE(length);
    std::string bytes = container([&](ContainerWriter& w) {
      w.int32(0), w.int32(0), w.int32(1), w.string("de"), w.int32(1), w.int32(1000);
      w.int32(length);
    });
    ASSERT_EQ(bytes.size(), 100u);
    Outcome o = readAll(bytes);
    EXPECT_EQ(o.ok, length == 50);
    if (length == 50) {
      EXPECT_EQ(o.messages[1000].size(), 25u);  // "de" applies to "de_CH"
      EXPECT_EQ(o.position, 100u);
    } else {
      EXPECT_EQ(o.failure, ReadFailure::ReadWString);
    }
  }
}

TEST(PackReader, CountsOfZeroOrLessAreEmptyTables) {
  const int32_t counts[] = {0, -1, INT32_MIN};
  for (int32_t count : counts) {
    SCOPED_TRACE(count);
    StringSink sink;
    ContainerWriter w(sink);
    w.uint32(payload::kContainerMagic), w.int32(0), w.uint32(0), w.int64(0);
    w.int32(count), w.int32(count), w.int32(count);
    w.raw("tail");
    Outcome o = readAll(sink.bytes);
    EXPECT_TRUE(o.ok);
    EXPECT_TRUE(o.config.empty() && o.messages.empty() && o.sets.empty());
    EXPECT_EQ(o.position, 20u + 12u);  // the file data position follows the three counts
  }
}

TEST(PackReader, OddMessageLengthDropsTheLastByteButConsumesIt) {
  StringSink sink;
  ContainerWriter w(sink);
  w.uint32(payload::kContainerMagic), w.int32(0), w.uint32(0), w.int64(0);
  w.int32(0), w.int32(1), w.int32(5), w.int32(3), w.raw(std::string("A\0B", 3));
  w.int32(0);
  Outcome o = readAll(sink.bytes);
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.messages[5], u"A");
  EXPECT_EQ(o.position, sink.bytes.size());
}

TEST(PackReader, ShortHeadersFailWithTheFieldBeingRead) {
  std::string full = encodeHeader(payload::kContainerMagic, 1, 0, 0);
  struct Case {
    std::size_t keep;
    ReadFailure failure;
  };
  const Case cases[] = {
      {0, ReadFailure::ReadInt},   {3, ReadFailure::ReadInt},   {8, ReadFailure::ReadInt},
      {12, ReadFailure::ReadLong}, {19, ReadFailure::ReadLong}, {20, ReadFailure::ReadInt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keep);
    EXPECT_EQ(readAll(full.substr(0, c.keep)).failure, c.failure);
  }
  std::string wrongMagic = encodeHeader(0xD513E4E8, 1, 0, 0) + std::string(12, '\0');
  EXPECT_EQ(readAll(wrongMagic).failure, ReadFailure::Magic);
}

TEST(PackReader, ImageWithNothingAfterItsLastSectionFailsOnTheMagic) {
  std::string stub = makePe({});
  payload::MemorySource src(stub);
  payload::ContainerReader reader(src);
  payload::PeLayout pe;
  payload::ContainerHeader header;
  ASSERT_TRUE(payload::seekToContainer(reader, pe));
  EXPECT_EQ(pe.containerStart(), stub.size());
  EXPECT_FALSE(payload::readHeader(reader, header));
  EXPECT_EQ(reader.error().what, ReadFailure::ReadInt);  // not Magic: nothing could be read
}

}  // namespace
}  // namespace shipkit::pack::test
