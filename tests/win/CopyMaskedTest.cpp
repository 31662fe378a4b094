// The chunked, unmasking copy of payload files against Wine's real files: lengths around the
// vector width and the chunk size, copies without unmasking, short sources and failing writes.
#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include <string>
#include <vector>

#include "TestFiles.h"
#include "payload/Extract.h"

using namespace shipkit::payload;

namespace {

constexpr int64_t kMiB = 1 << 20;
constexpr int64_t kChunk = 256 << 10;  // the copy's chunk

std::vector<unsigned char> pattern(int64_t size) {
  std::vector<unsigned char> data(static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = (unsigned char)(i * 131 + i / 4093 + 7);
  return data;
}

class CopyMasked : public testing::Test {
 protected:
  void SetUp() override {
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    GUID guid;
    ASSERT_EQ(CoCreateGuid(&guid), S_OK);
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    root_ = std::string(tmp) + "skt_copy_" + std::string(text + 1, text + 37);
    wintest::removeTree(root_);
    ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr));
  }
  void TearDown() override { wintest::removeTree(root_); }

  std::string path(const char* name) const { return root_ + "\\" + name; }

  HANDLE open(const char* name, DWORD access, DWORD disposition) const {
    return CreateFileA(path(name).c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  void write(const char* name, const std::vector<unsigned char>& bytes) const {
    HANDLE file = open(name, GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD wrote = 0;
    ASSERT_TRUE(WriteFile(file, bytes.data(), DWORD(bytes.size()), &wrote, nullptr));
    ASSERT_EQ(wrote, bytes.size());
    CloseHandle(file);
  }

  std::vector<unsigned char> read(const char* name) const {
    HANDLE file = open(name, GENERIC_READ, OPEN_EXISTING);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size{};
    GetFileSizeEx(file, &size);
    std::vector<unsigned char> bytes(std::size_t(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty()) ReadFile(file, bytes.data(), DWORD(bytes.size()), &got, nullptr);
    bytes.resize(got);
    CloseHandle(file);
    return bytes;
  }

  std::string root_;
};

struct CopyCase {
  int64_t length;
  bool unmask;
};

// The source holds the record's bytes followed by bytes of the next record, which the copy
// must leave unread; every byte arrives, unmasked when asked, whatever the length.
TEST_F(CopyMasked, CopiesExactlyTheRecordAtEveryLength) {
  const CopyCase cases[] = {
      {1, true},
      {15, true},
      {63, true},
      {64, true},
      {65, true},
      {129, true},
      {kChunk - 1, true},
      {kChunk, true},
      {kChunk + 1, true},
      {kMiB - 1, true},
      {kMiB, true},
      {kMiB + 1, true},
      {3 * kMiB + 17, true},
      {65, false},
      {3 * kMiB + 17, false},
  };
  for (const CopyCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "length " << c.length << (c.unmask ? " unmasked" : " as stored"));
    const std::vector<unsigned char> plain = pattern(c.length);
    std::vector<unsigned char> stored = plain;
    if (c.unmask)
      for (auto& b : stored) b ^= 0x88;
    std::vector<unsigned char> source = stored;
    source.insert(source.end(), {0x88, 0x00, 0x55});  // the next record
    write("source.bin", source);
    HANDLE in = open("source.bin", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = open("target.bin", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(in, INVALID_HANDLE_VALUE);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    EXPECT_EQ(copyMasked(in, out, c.length, c.unmask), kExtractOk);
    LARGE_INTEGER zero{}, at{};
    SetFilePointerEx(in, zero, &at, FILE_CURRENT);
    EXPECT_EQ(at.QuadPart, c.length) << "the copy read past its record";
    CloseHandle(in);
    CloseHandle(out);
    EXPECT_TRUE(read("target.bin") == plain);
  }
}

// A source that ends inside the record is a read failure; what was read is written.
TEST_F(CopyMasked, ShortSourceIsAReadFailure) {
  const struct {
    int64_t available, length;
  } cases[] = {{0, 1}, {10, 11}, {kMiB, kMiB + 1}, {kMiB + 5, 2 * kMiB}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.available << " of " << c.length);
    std::vector<unsigned char> stored = pattern(c.available);
    write("source.bin", stored);
    HANDLE in = open("source.bin", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = open("target.bin", GENERIC_WRITE, CREATE_ALWAYS);
    EXPECT_EQ(copyMasked(in, out, c.length, false), kExtractReadFailed);
    CloseHandle(in);
    CloseHandle(out);
    EXPECT_TRUE(read("target.bin") == stored);
  }
}

// A target that refuses writes (here: opened for reading only) is a write failure.
TEST_F(CopyMasked, RefusedWriteIsAWriteFailure) {
  write("source.bin", pattern(100));
  write("target.bin", {});
  HANDLE in = open("source.bin", GENERIC_READ, OPEN_EXISTING);
  HANDLE out = open("target.bin", GENERIC_READ, OPEN_EXISTING);
  EXPECT_EQ(copyMasked(in, out, 100, true), kExtractWriteFailed);
  CloseHandle(in);
  CloseHandle(out);
  EXPECT_TRUE(read("target.bin").empty());
}

}  // namespace
