// The downloaded archive against its pinned SHA-256, hashed by the real bcrypt.dll: accepted
// only when equal, deleted otherwise, every outcome in the log.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestFiles.h"
#include "core/Config.h"
#include "core/Log.h"
#include "jre/DownloadDigest.h"

using namespace shipkit;

namespace {


int countOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Known digests (FIPS 180-2 test vectors and the empty message).
const char kAbc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const char kMillionA[] = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
const char kEmpty[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

}  // namespace

TEST(DownloadDigest, PinnedArchiveIsKeptOnlyWhenItsSha256IsEqual) {
  std::string dir = std::filesystem::temp_directory_path().string() + "\\digest-" + wintest::uniqueNameA();
  ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  const std::string file = dir + "\\jre.tar.gz";
  std::string upperMillion = kMillionA;
  for (char& c : upperMillion) c = char(toupper(static_cast<unsigned char>(c)));
  struct Row {
    const char* name;
    std::string content;
    std::string pin;  // configuration entry 170
    bool accepted;
    std::string logged;  // expected once in the log, empty for nothing
  } rows[] = {
      {"no pin", "abc", "", true,
       "] Download not verified: no SHA-256 of the runtime archive is configured\r\n"},
      {"equal", "abc", kAbc, true, "] SHA-256 of " + file + " verified: " + kAbc + "\r\n"},
      // Many reads, an upper-case pin.
      {"equal over many reads", std::string(1000000, 'a'), upperMillion, true,
       "] SHA-256 of " + file + " verified: " + kMillionA + "\r\n"},
      {"empty file", "", kEmpty, true, "] SHA-256 of " + file + " verified: " + kEmpty + "\r\n"},
      {"different", "abc", kMillionA, false,
       "] ERROR: SHA-256 of " + file + " is " + kAbc + ", expected " + kMillionA + "\r\n"},
      {"one byte more", "abcd", kAbc, false, "] ERROR: SHA-256 of " + file + " is "},
      {"malformed pin", "abc", std::string(kAbc).substr(1), false,
       "] ERROR: The configured SHA-256 of the runtime archive is not 64 hex digits: the download is "
       "refused\r\n"},
  };
  const core::Tables saved = core::tables();
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    std::ofstream(file, std::ios::binary) << r.content;
    core::tables().config[170] = r.pin;
    std::size_t before = wintest::logText().size();
    const jre::RuntimeDigest pin = jre::configuredRuntimeDigest();
    EXPECT_EQ(jre::verifyDownload(pin, file.c_str()), r.accepted);
    std::string logged = wintest::logText().substr(before);
    EXPECT_EQ(countOf(logged, r.logged), 1) << logged;
    EXPECT_EQ(countOf(logged, "not verified"), r.pin.empty() ? 1 : 0) << logged;
    EXPECT_EQ(GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES, r.accepted)
        << "a refused archive is deleted, an accepted one kept";
    // A verified archive cannot be rewritten or replaced until it is released (after unpacking).
    const bool held = r.accepted && !r.pin.empty();
    HANDLE writer = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    const DWORD error = GetLastError();
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
    if (r.accepted) {
      EXPECT_EQ(writer == INVALID_HANDLE_VALUE && error == ERROR_SHARING_VIOLATION, held);
    }
    jre::releaseVerifiedArchive();
    if (r.accepted) {
      EXPECT_TRUE(DeleteFileA(file.c_str())) << "a released archive can be deleted";
    }
  }
  core::tables() = saved;
  wintest::removeTree(dir);
}
