// Extraction of the payload files and the integrity check, end to end under Wine.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cstring>
#include <fstream>

#include "E2eSupport.h"

using namespace e2e;

namespace {

std::string bytesOf(const fs::path& p) {
  return Sandbox::readFile(p);
}

std::vector<std::string> onlyLog(const Sandbox& box) {
  auto logs = box.logs();
  EXPECT_EQ(logs.size(), 1u);
  return logs.empty() ? std::vector<std::string>{} : Sandbox::logLines(logs[0]);
}

json manifestWith(json files, json config = json::object()) {
  json m = Sandbox::baseManifest();
  m["files"] = std::move(files);
  for (auto& [k, v] : config.items()) m["config"][k] = v;
  return m;
}

std::string pattern(std::size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;  // fixed seed
  for (auto& c : s) c = char((x = x * 1103515245 + 12345) >> 16);
  return s;
}

}  // namespace

TEST(Extraction, FilesMaskingDirectoriesAndTheCount) {
  Sandbox box;
  json files = json::array({
      {{"name", "a.bin"}, {"hex", "00 88 ff 41"}},
      {{"name", "empty.bin"}, {"text", ""}},
      {{"name", "sub\\b.txt"}, {"text", "hello"}},
      {{"name", "c.txt"}, {"text", "beyond the count"}},
  });
  fs::path exe = box.build(manifestWith(files, {{"2002", "3"}}));
  RunResult r = box.run(exe, "-q -manual", {.env = {{"SHIPKIT_LOG", "yes"}}});
  ASSERT_EQ(r.exitCode, 83) << r.err;
  auto dirs = extractionDirs(box.temp());
  ASSERT_EQ(dirs.size(), 1u);
  const fs::path& d = dirs[0];
  EXPECT_EQ(bytesOf(d / "a.bin"), std::string("\x00\x88\xff\x41", 4));
  EXPECT_FALSE(fs::exists(d / "empty.bin")) << "a zero-length record makes no file";
  EXPECT_EQ(bytesOf(d / "sub" / "b.txt"), "hello");
  EXPECT_FALSE(fs::exists(d / "c.txt")) << "only the first N names are extracted";
  auto lines = onlyLog(box);
  EXPECT_TRUE(contains(lines, "Included files: 3"));
  std::string dir = winPath(d);
  EXPECT_TRUE(contains(lines, "extracting " + dir + "\\a.bin (size: 4)"));
  EXPECT_TRUE(contains(lines, "extracting " + dir + "\\empty.bin (size: 0)"));
  EXPECT_TRUE(contains(lines, "creating directory " + dir + "\\sub"));
  EXPECT_TRUE(contains(lines, "extracting files done"));
  EXPECT_TRUE(contains(lines, "Current working dir: " + dir));
}

TEST(Extraction, NoFilesLeavesTheDirectoryEmpty) {
  Sandbox box;
  fs::path exe = box.build(manifestWith(json::array({{{"name", "a.txt"}, {"text", "x"}}}), {{"2002", "0"}}));
  RunResult r = box.run(exe, "-q -manual");
  ASSERT_EQ(r.exitCode, 83);
  auto dirs = extractionDirs(box.temp());
  ASSERT_EQ(dirs.size(), 1u);
  EXPECT_TRUE(fs::is_empty(dirs[0]));
}

TEST(Extraction, TwoLevelNameCreatesOnlyTheFirstLevel) {
  Sandbox box;
  fs::path exe = box.build(manifestWith(json::array({{{"name", "one\\two\\f.txt"}, {"text", "x"}}})));
  RunResult r = box.run(exe, "-q -manual");
  // The file cannot be created: internal error 11, and the directory is removed.
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("An internal error occurred (error code: 11)"), std::string::npos) << r.err;
  EXPECT_TRUE(extractionDirs(box.temp()).empty());
}

TEST(Extraction, ContainerCutInsideAFileIsCorrupt) {
  Sandbox box;
  json files = json::array({{{"name", "big.bin"}, {"hex", ""}}});
  std::string content = pattern(10000);
  fs::path src = box.dir() / "big.src";
  std::ofstream(src, std::ios::binary) << content;
  files[0] = {{"name", "big.bin"}, {"source", src.string()}};
  json m = manifestWith(files, {{"155", "1"}});
  m["checksum"] = false;
  fs::path exe = box.build(m);
  fs::resize_file(exe, fs::file_size(exe) - 4 - 3000);  // the trailing magic, then 3000 content bytes
  RunResult r = box.run(exe, "-manual");
  EXPECT_EQ(r.exitCode, 1);
  ASSERT_EQ(r.dialogs.size(), 1u);
  EXPECT_EQ(r.dialogs[0],
            "shipkit Wizard|The installation file is corrupted. If it is a download please try it again.");
  auto lines = onlyLog(box);  // the fatal exit keeps the log
  bool readFailed = false;
  for (const auto& l : lines)
    readFailed |= l.rfind("ERROR: ReadFile failed 0 ", 0) == 0 && l.ends_with(" 7000");
  EXPECT_TRUE(readFailed) << testing::PrintToString(lines);
  bool failedToExtract = false;
  for (const auto& l : lines)
    failedToExtract |= l.rfind("ERROR: Failed to extract ", 0) == 0 && l.ends_with("big.bin");
  EXPECT_TRUE(failedToExtract);
  EXPECT_TRUE(extractionDirs(box.temp()).empty()) << "the fatal exit removes the extraction directory";
}

TEST(Extraction, CutLengthFieldIsAFatalReadLongOnTheConsole) {
  Sandbox box;
  json m =
      manifestWith(json::array({{{"name", "a.txt"}, {"text", "abc"}}, {{"name", "b.txt"}, {"text", "def"}}}));
  m["checksum"] = false;
  m.erase("trailer");
  fs::path exe = box.build(m);
  // Keep a.txt's record and 3 bytes of b.txt's length (the 4 magic bytes end the file).
  fs::resize_file(exe, fs::file_size(exe) - 4 - 3 - 5);
  RunResult r = box.run(exe, "-q -manual");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Internal Error: readLong"), std::string::npos) << r.err;
}

TEST(Extraction, NamesLeavingTheDirectoryAreRejected) {
  // The packer refuses such names, so a harmless name of the same length is patched in the
  // built file (without a checksum, as a hostile container would be).
  for (const char* name : {"..\\escaped.txt", "C:\\escaped.txt", "\\escaped.txt", "sub\\..\\..\\escaped.txt",
                           "CON.txt", "sub\\nul"}) {
    Sandbox box;
    std::string placeholder(std::strlen(name), 'q');
    json m = manifestWith(
        json::array({{{"name", "ok.txt"}, {"text", "fine"}}, {{"name", placeholder}, {"text", "evil"}}}),
        {{"155", "1"}});
    m["checksum"] = false;
    fs::path exe = box.build(m);
    std::string bytes = Sandbox::readFile(exe);
    std::size_t at = bytes.find(placeholder + ";");
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, placeholder.size(), name);
    std::ofstream(exe, std::ios::binary | std::ios::trunc) << bytes;
    RunResult r = box.run(exe, "-manual", {.env = {{"SHIPKIT_LOG", "yes"}}});
    EXPECT_EQ(r.exitCode, 1) << name;
    ASSERT_EQ(r.dialogs.size(), 1u) << name;
    EXPECT_EQ(r.dialogs[0].rfind("shipkit Wizard|The installation file is corrupted.", 0), 0u);
    EXPECT_FALSE(fs::exists(box.temp() / "escaped.txt")) << name;
    EXPECT_FALSE(fs::exists("/escaped.txt")) << name;
    auto lines = onlyLog(box);
    EXPECT_TRUE(contains(
        lines,
        std::string("ERROR: payload file name is not a plain file inside the extraction directory: ") + name))
        << testing::PrintToString(lines);
  }
}

TEST(Extraction, FullDiskShowsNotEnoughSpace) {
  Sandbox box;
  fs::path full = box.dir() / "full";
  fs::create_directories(full);
  if (::mount("tmpfs", full.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "needs root to mount a small tmpfs as a full disk";
  struct Unmount {
    fs::path p;
    ~Unmount() { ::umount2(p.c_str(), MNT_DETACH); }
  } unmount{full};
  std::string content = pattern(256 * 1024);
  fs::path src = box.dir() / "big.src";
  std::ofstream(src, std::ios::binary) << content;
  json m = manifestWith(json::array({{{"name", "big.bin"}, {"source", src.string()}}}), {{"155", "1"}});
  RunResult r = box.run(box.build(m), "-manual -temp " + winPath(full), {.env = {{"SHIPKIT_LOG", "yes"}}});
  EXPECT_EQ(r.exitCode, 1);
  ASSERT_EQ(r.dialogs.size(), 1u);
  EXPECT_EQ(r.dialogs[0], "shipkit Wizard|Not Enough Disk Space");
  auto lines = onlyLog(box);
  bool writeFailed = false;
  for (const auto& l : lines) writeFailed |= l.rfind("ERROR: WriteFile failed ", 0) == 0;
  EXPECT_TRUE(writeFailed) << testing::PrintToString(lines);
  EXPECT_TRUE(extractionDirs(full).empty());
}

struct IntegrityCase {
  const char* name;
  bool checksum;
  json header;            // forced header fields
  std::string arguments;  // besides "-manual"
  int flipAt;             // byte to flip, counted back from the end (0: none)
  int cut;                // bytes cut from the end
  std::string expect;     // "pass", "corrupt" or "internal34"
};

void PrintTo(const IntegrityCase& c, std::ostream* os) {
  *os << c.name;
}

class Integrity : public testing::TestWithParam<IntegrityCase> {};

TEST_P(Integrity, Verdict) {
  const IntegrityCase& c = GetParam();
  Sandbox box;
  json m = manifestWith(json::array({{{"name", "data.bin"}, {"text", "payload bytes 0123456789"}}}),
                        {{"155", "1"}, {"157", "1"}});
  m["checksum"] = c.checksum;
  if (!c.header.is_null()) m["header"] = c.header;
  fs::path exe = box.build(m);
  if (c.flipAt) {
    std::fstream f(exe, std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(-c.flipAt, std::ios::end);
    char b = 0;
    f.read(&b, 1);
    f.seekp(-c.flipAt, std::ios::end);
    b ^= 0x01;
    f.write(&b, 1);
  }
  if (c.cut) fs::resize_file(exe, fs::file_size(exe) - c.cut);
  RunResult r = box.run(exe, "-manual " + c.arguments,
                        {.env = {{"SHIPKIT_LOG", "yes"}, {"SHIPKIT_DOWNLOAD_POLICY", "3,0,1,0"}}});
  if (c.expect == "pass") {
    // Past the check the run ends at the runtime step (a download from no location).
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.dialogs.empty()) << r.dialogs[0];
    EXPECT_NE(r.err.find("Error downloading the Java(TM) Runtime Environment."), std::string::npos) << r.err;
  } else if (c.expect == "corrupt") {
    EXPECT_EQ(r.exitCode, 1);
    ASSERT_EQ(r.dialogs.size(), 1u);
    EXPECT_EQ(r.dialogs[0],
              "shipkit Wizard|The installation file is corrupted. If it is a download please try it again.");
    EXPECT_TRUE(extractionDirs(box.temp()).empty()) << "nothing is extracted from a corrupt installer";
  } else {
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("An internal error occurred (error code: 34)"), std::string::npos) << r.err;
    bool logged = false;
    for (const auto& l : onlyLog(box)) logged |= l.rfind("ERROR: check ReadFile failed 0 ", 0) == 0;
    EXPECT_TRUE(logged);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Integrity,
    testing::Values(
        IntegrityCase{"intact", true, nullptr, "", 0, 0, "pass"},
        IntegrityCase{"flag0_bad_crc", false, {{"crc", 12345}}, "", 0, 0, "pass"},
        IntegrityCase{"nocheck_bad_crc", true, {{"crc", 12345}}, "-nocheck", 0, 0, "pass"},
        IntegrityCase{"bad_crc", true, {{"crc", 12345}}, "", 0, 0, "corrupt"},
        IntegrityCase{"flipped_trailing_byte", true, nullptr, "", 3, 0, "corrupt"},
        // The 4 trailing magic bytes, then the masked file data.
        IntegrityCase{"flipped_file_byte", true, nullptr, "", 4 + 5, 0, "corrupt"},
        IntegrityCase{"shorter_than_length", true, nullptr, "", 0, 5, "internal34"},
        IntegrityCase{"zero_length_zero_crc", true, {{"length", 0}, {"crc", 0}}, "", 0, 0, "pass"},
        IntegrityCase{"zero_length_other_crc", true, {{"length", 0}, {"crc", 7}}, "", 0, 0, "corrupt"}),
    [](const testing::TestParamInfo<IntegrityCase>& info) { return std::string(info.param.name); });
