// The tar rules and the untar loop. Archives are made by GNU tar on the build machine (so
// those tests run only in the native build) and read through the in-memory input that
// behaves like zlib's gz functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "jre/GzTarInput.h"
#include "jre/MemoryTarInput.h"
#include "jre/TarFormat.h"
#include "jre/Untar.h"

using namespace shipkit::jre;

namespace {

std::string sizeHeader(std::string_view field) {
  std::string header(kHeaderRead, '\0');
  header.replace(124, field.size(), field);
  return header;
}

// The target directory in memory: what a run created, and what it logged.
struct RecordingOutput : TarOutput {
  std::set<std::string> directories;
  std::map<std::string, std::string> files;
  std::vector<std::string> lines;
  std::string refuseOpen;  // a name whose file cannot be created
  std::size_t writeLimit = SIZE_MAX;
  std::string current;
  std::vector<int64_t> positions;

  std::set<std::string> utf8Names;  // names given as UTF-8 (from pax headers)

  void makeDirectory(const MemberName& name) override { directories.insert(name.bytes); }
  bool openFile(const MemberName& name) override {
    if (name.bytes == refuseOpen) return false;
    current = name.bytes;
    files[name.bytes].clear();
    if (name.utf8) utf8Names.insert(name.bytes);
    return true;
  }
  bool copyFile(const MemberName& from, const MemberName& to) override {
    if (to.bytes == refuseOpen || !files.count(from.bytes)) return false;
    files[to.bytes] = files[from.bytes];
    return true;
  }
  bool write(const char* data, std::size_t length) override {
    std::string& f = files[current];
    if (f.size() + length > writeLimit) return false;
    f.append(data, length);
    return true;
  }
  bool closeFile() override { return true; }
  void progress(int64_t position, bool member) override {
    if (member) positions.push_back(position);
  }
  void log(const std::string& text, bool error, bool) override {
    lines.push_back((error ? "ERROR: " : "") + text);
  }
  bool logged(const std::string& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  bool loggedPart(const std::string& part) const {
    return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.find(part) != l.npos; });
  }
};

UntarResult run(std::string_view tar, RecordingOutput& out, std::size_t buffer = 32768) {
  MemoryTarInput in(tar);
  return untar(in, out, buffer);
}

}  // namespace

TEST(TarSizeField, ScannedAsTheLauncherReadsIt) {
  struct Row {
    std::string field;
    std::optional<int32_t> size;
  } rows[] = {
      {"00000001750 ", 1000},
      {"            ", 0},
      {"   17", 15},
      {"", 0},
      {"0000000", 0},
      {"17 3", 15},     // a space after the first digit ends the field
      {"1 7", 1},       //
      {"  0  12", 10},  // leading spaces and zeros mixed
      {"18", 16},       // no octal check: '8' adds 8
      {"17777777777", INT32_MAX},
      {"20000000000", std::nullopt},  // 2 GiB does not fit
      {"77777777777 ", std::nullopt},
      // base-256: a number as far as it fits, never negative
      {std::string("\x80\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00", 12), 65536},
      {std::string("\x80\x00\x00\x00\x00\x00\x00\x00\x7f\xff\xff\xff", 12), INT32_MAX},
      {std::string("\x80\x00\x00\x00\x00\x00\x00\x00\x80\x00\x00\x00", 12), std::nullopt},
      {std::string("\x80\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 12), std::nullopt},
      {std::string("\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff", 12), std::nullopt},  // -1
      {std::string("1\x80", 2), std::nullopt},
      {"!", std::nullopt},  // below '0': negative
      {"123456789012", std::nullopt},
  };
  for (const auto& row : rows)
    EXPECT_EQ(parseTarSize(sizeHeader(row.field)), row.size) << "[" << row.field << "]";
  EXPECT_EQ(parseTarSize(sizeHeader(std::string("1234\0"
                                                "7",
                                                6))),
            668);  // NUL ends it
  EXPECT_EQ(parseTarSize("short"), std::nullopt);
}

TEST(TarMemberName, OnlyNamesThatStayBelowTheTarget) {
  struct Row {
    std::string name;
    bool safe;
  } rows[] = {
      {"bin\\java.exe", true},
      {"bin/java.exe", true},
      {"bin\\", true},
      {".\\", true},
      {".\\bin\\server\\jvm.dll", true},
      {"a.b\\c..d\\...x", true},
      {"console.txt", true},
      {"com10", true},
      {"", false},
      {"\\", false},
      {"\\abs", false},
      {"/abs", false},
      {"..", false},
      {"..\\evil", false},
      {"a\\..\\..\\evil", false},
      {"a/../b", false},
      {"...\\x", false},
      {". .\\x", false},
      {"a\\\\b", false},
      {"a//", false},
      {"C:evil", false},
      {"C:\\evil", false},
      {"a\\b:stream", false},
      {"CON", false},
      {"con.txt", false},
      {"lib\\Aux.dll", false},
      {"nul  .x", false},
      {"COM1", false},
      {"lpt9.log", false},
      {"conout$", false},
      // Superscript digits: ANSI bytes (Windows-1252) and UTF-8 (pax names)
      {"COM\xB9", false},
      {"lib\\lpt\xB2.dll", false},
      {"com\xB3 .txt", false},
      {"COM\xC2\xB9", false},
      {"x\\LPT\xC2\xB3.log", false},
      {"COM\xB9\xB9", true},
      {"COM\xC2\xB4", true},  // acute accent, no digit
      {"COM\xB4", true},
      {std::string("a\nb"), false},
      {std::string("a\0b", 3), false},
  };
  for (const auto& row : rows) EXPECT_EQ(isSafeMemberName(row.name), row.safe) << "[" << row.name << "]";
}

TEST(TarHeaderName, FieldPrefixAndSeparators) {
  auto header = [](std::string_view name, std::string_view magic, std::string_view prefix) {
    std::string h(kHeaderRead, '\0');
    h.replace(0, name.size(), name);
    h.replace(257, magic.size(), magic);
    h.replace(345, prefix.size(), prefix);
    return h;
  };
  std::string hundred(100, 'n');
  struct Row {
    std::string header, name;
  } rows[] = {
      {header("bin/java.exe",
              std::string("ustar\0"
                          "00",
                          8),
              ""),
       "bin\\java.exe"},
      {header(hundred + "tail", std::string("ustar  \0", 8), ""), hundred},  // no NUL: all 100
      {header("java.exe",
              std::string("ustar\0"
                          "00",
                          8),
              "jre/bin"),
       "jre\\bin\\java.exe"},
      {header("java.exe", std::string("ustar  \0", 8), "jre/bin"), "java.exe"},  // GNU: no prefix
  };
  for (const auto& row : rows) EXPECT_EQ(tarHeaderName(row.header), row.name);
}

TEST(TarProgress, PositionsBetween100And200) {
  struct Row {
    int64_t position;
    int32_t total;
    int expected;
  } rows[] = {{0, 1000, 100},    {500, 1000, 150},  {999, 1000, 199},
              {1000, 1000, 200}, {5000, 1000, 200}, {1, 0, 100},
              {1, -5, 100},      {-1, 1000, 100},   {int64_t(3) << 31, INT32_MAX, 200},
              {1, 3, 133}};
  for (const auto& row : rows)
    EXPECT_EQ(untarProgress(row.position, row.total), row.expected) << row.position << "/" << row.total;
}

// Archives made by GNU tar in a scratch directory.
class GnuTar : public testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "GNU tar runs on the build machine; these cases run in the native build";
#else
    dir_ = std::filesystem::temp_directory_path() /
           ("shipkit-tar-" + std::to_string(::getpid()) + "-" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_ / "src");
#endif
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  void file(const std::string& name, const std::string& content) {
    std::filesystem::path p = dir_ / "src" / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
  }
  // The tar stream of `tar <options> -cf - <members>` run in the source directory.
  std::string tar(const std::string& options, const std::string& members) {
    std::string out = (dir_ / "out.tar").string();
    std::string cmd = "cd '" + (dir_ / "src").string() +
                      "' && tar --sort=name --owner=0 --group=0 --mtime=@0 " + options + " -cf '" + out +
                      "' " + members + " 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(out, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::filesystem::path dir_;
};

std::string pattern(std::size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (auto& c : s) c = char((seed = seed * 1103515245 + 12345) >> 16);
  return s;
}

TEST_F(GnuTar, FormatsAndMemberKinds) {
  std::string big = pattern(100000, 7);
  file("bin/java.exe", "exe");
  file("lib/rt.jar", big);
  file("empty.txt", "");
  file("lib/exact", std::string(1024, 'x'));
  std::string longDir(90, 'd');
  file(longDir + "/deep.txt", "long");
  std::filesystem::create_symlink("../lib/rt.jar", dir_ / "src" / "bin" / "link");
  std::filesystem::create_hard_link(dir_ / "src" / "bin" / "java.exe", dir_ / "src" / "hard.exe");
  struct Row {
    const char* options;
    const char* members;
    bool longNames;
  } rows[] = {
      {"--format=gnu", ". ", true},
      {"--format=oldgnu", "bin lib empty.txt hard.exe", false},
      {"--format=ustar", ". ", true},  // the long path goes to the prefix field
      {"--format=pax", "bin lib empty.txt hard.exe", false},
      {"--format=pax --pax-option=comment=global", "bin lib", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.options);
    for (std::size_t buffer : {std::size_t(1), std::size_t(511), std::size_t(32768)}) {
      RecordingOutput out;
      UntarResult r = run(tar(row.options, row.members), out, buffer);
      ASSERT_EQ(r.outcome, UntarOutcome::kSuccess) << testing::PrintToString(out.lines);
      EXPECT_EQ(out.files["bin\\java.exe"].size() + out.files[".\\bin\\java.exe"].size(), 3u);
      std::string rt =
          out.files.count("lib\\rt.jar") ? out.files["lib\\rt.jar"] : out.files[".\\lib\\rt.jar"];
      EXPECT_EQ(rt, big);
      // Links become copies of their targets; pax headers are read, never written.
      auto at = [&](const std::string& name) {
        return out.files.count(name) ? out.files[name] : out.files[".\\" + name];
      };
      EXPECT_EQ(at("bin\\link"), big);
      if (std::string(row.members).find("hard.exe") != std::string::npos || row.members[0] == '.') {
        EXPECT_EQ(at("hard.exe"), "exe");
      }
      for (const auto& [name, content] : out.files)
        EXPECT_EQ(name.find("PaxHeaders"), std::string::npos) << name;
      EXPECT_TRUE(out.logged("untaring JRE was successful"));
      if (row.longNames) {
        // GNU long names keep their forward slashes; the ustar prefix is converted.
        bool found =
            out.files.count("./" + longDir + "/deep.txt") || out.files.count(".\\" + longDir + "\\deep.txt");
        EXPECT_TRUE(found) << testing::PrintToString(out.lines);
      }
    }
  }
}

TEST_F(GnuTar, ArchivesThatWriteNoFileFail) {
  std::filesystem::create_directories(dir_ / "src" / "only" / "dirs");
  std::string dirs = tar("--format=gnu", "only");
  {
    RecordingOutput out;
    EXPECT_EQ(run(dirs, out).outcome, UntarOutcome::kFailed);
    EXPECT_TRUE(out.logged("ERROR: no magic number")) << testing::PrintToString(out.lines);
    EXPECT_EQ(out.directories, (std::set<std::string>{"only\\", "only\\dirs\\"}));
  }
  {
    // Without end blocks the stream ends short at the next header.
    RecordingOutput out;
    EXPECT_EQ(run(std::string_view(dirs).substr(0, 1024), out).outcome, UntarOutcome::kFailed);
    EXPECT_TRUE(out.logged("ERROR: unexpected eof")) << testing::PrintToString(out.lines);
  }
  {
    RecordingOutput out;
    EXPECT_EQ(run("", out).outcome, UntarOutcome::kFailed);
  }
}

// Cut anywhere before the end blocks, an archive fails in bounded time; the members read
// before the cut stay written. A cut right after a member is the end of the archive.
TEST_F(GnuTar, TruncatedInsideAMemberFails) {
  file("a.txt", pattern(700, 1));
  file("b/c.bin", pattern(1536, 2));
  file("z.txt", "");
  std::string full = tar("--format=gnu", "a.txt b z.txt");
  // Four headers, 1024 + 1536 bytes of data: the end blocks begin at 9 * 512.
  const std::size_t endBlocks = 9 * 512;
  ASSERT_GT(full.size(), endBlocks);
  // The ends of a.txt, b/, b/c.bin and z.txt.
  const std::map<std::size_t, std::size_t> memberEnds = {{1536, 1}, {2048, 1}, {4096, 2}, {4608, 3}};
  for (std::size_t block = 0; block <= endBlocks; block += 64) {
    for (std::size_t cut : {block, block + 1}) {
      if (cut > endBlocks) continue;
      RecordingOutput out;
      UntarResult r = run(std::string_view(full).substr(0, cut), out);
      auto end = memberEnds.find(cut);
      EXPECT_EQ(r.outcome, end == memberEnds.end() ? UntarOutcome::kFailed : UntarOutcome::kSuccess)
          << "cut at " << cut << ": " << testing::PrintToString(out.lines);
      if (end != memberEnds.end()) {
        EXPECT_EQ(out.files.size(), end->second) << "cut at " << cut;
      }
    }
  }
  RecordingOutput out;
  EXPECT_EQ(run(std::string_view(full).substr(0, 1000), out).outcome, UntarOutcome::kFailed);
  EXPECT_TRUE(out.logged("ERROR: sizes don't match: 488, 700")) << testing::PrintToString(out.lines);
  EXPECT_TRUE(out.logged("ERROR: extract file failed"));
  // A cut after the first end block loses nothing.
  RecordingOutput whole;
  EXPECT_EQ(run(std::string_view(full).substr(0, endBlocks + 512), whole).outcome, UntarOutcome::kSuccess);
  EXPECT_EQ(whole.files.size(), 3u);
}

TEST_F(GnuTar, HostileNamesAreRefusedBeforeAnythingIsWritten) {
  file("x", "payload");
  std::string longEscape = std::string(150, 'a') + "/../../../evil";
  const std::string names[] = {"../evil",   "/abs/evil",      "C:/evil",  "a//evil", "con.txt",
                               "lib/x:ads", "a/./../../evil", longEscape, "...",     "CON/x"};
  for (const auto& name : names) {
    RecordingOutput out;
    std::string archive = tar("--format=gnu -P --transform='s,^x$," + name + ",'", "x");
    UntarResult r = run(archive, out);
    EXPECT_EQ(r.outcome, UntarOutcome::kFailed) << name;
    EXPECT_TRUE(out.files.empty()) << name;
    bool refused = false;
    for (const auto& l : out.lines) refused |= l.rfind("ERROR: refusing member name ", 0) == 0;
    EXPECT_TRUE(refused) << name << ": " << testing::PrintToString(out.lines);
  }
  // A long name that does not fit the name buffer is refused before it is read.
  RecordingOutput out;
  std::string tooLong = std::string(6000, 'b');
  file("y", "payload");
  EXPECT_EQ(run(tar("--format=gnu --transform='s,^y$," + tooLong + ",'", "y"), out).outcome,
            UntarOutcome::kFailed);
  EXPECT_TRUE(out.logged("ERROR: long name too long")) << testing::PrintToString(out.lines);
  EXPECT_TRUE(out.files.empty());
}

TEST_F(GnuTar, WriteFailuresAndUncreatableFiles) {
  file("a.txt", pattern(5000, 3));
  std::string archive = tar("--format=gnu", "a.txt");
  {
    RecordingOutput out;
    out.refuseOpen = "a.txt";
    UntarResult r = run(archive, out);
    EXPECT_EQ(r.outcome, UntarOutcome::kCannotCreate);
    EXPECT_EQ(r.failedName.bytes, "a.txt");
  }
  {
    RecordingOutput out;
    out.writeLimit = 4096;
    EXPECT_EQ(run(archive, out).outcome, UntarOutcome::kFailed);
    EXPECT_TRUE(out.logged("ERROR: stream error")) << testing::PrintToString(out.lines);
    EXPECT_TRUE(out.logged("ERROR: untaring JRE was unsuccessful"));
  }
}

TEST(Untar, SizeFieldOutOfRangeIsCorrupt) {
  std::string block(512, '\0');
  block.replace(0, 5, "a.txt");
  block.replace(124, 12, "77777777777 ");
  block[156] = '0';
  block.replace(257, 6, std::string("ustar\0", 6));
  RecordingOutput out;
  EXPECT_EQ(run(block + std::string(1024, '\0'), out).outcome, UntarOutcome::kFailed);
  EXPECT_TRUE(out.logged("ERROR: size field out of range"));
  EXPECT_TRUE(out.files.empty());
}

// A stream error (what zlib reports for damaged data or a bad CRC) fails the run wherever it
// shows, also behind the end blocks where only the gzip trailer remains.
TEST_F(GnuTar, StreamErrorsAnywhereFail) {
  file("a.txt", pattern(3000, 4));
  std::string tar = this->tar("--format=gnu", "a.txt");
  struct FailingInput : MemoryTarInput {
    std::size_t failAt;
    std::size_t consumed = 0;
    FailingInput(std::string_view d, std::size_t at) : MemoryTarInput(d), failAt(at) {}
    int read(char* buffer, unsigned length) override {
      if (consumed + length > failAt) return -1;
      int n = MemoryTarInput::read(buffer, length);
      consumed = std::size_t(position());
      return n;
    }
  };
  struct Row {
    std::size_t failAt;
    std::string line;
  } rows[] = {{100, "ERROR: gzread failed"},
              {2000, "ERROR: extract file failed"},
              {tar.size() - 1, "ERROR: gzread failed"}};
  for (const auto& row : rows) {
    RecordingOutput out;
    FailingInput in(tar, row.failAt);
    EXPECT_EQ(untar(in, out, 1024).outcome, UntarOutcome::kFailed) << row.failAt;
    EXPECT_TRUE(out.logged(row.line)) << row.failAt << ": " << testing::PrintToString(out.lines);
    EXPECT_TRUE(out.logged("ERROR: untaring JRE was unsuccessful"));
  }
}

namespace {

// A member as hand-made blocks: header (GNU magic unless `pax`), data, padding.
std::string member(std::string_view name, char type, std::string_view data, std::string_view link = "",
                   bool pax = false) {
  std::string block(512, '\0');
  block.replace(0, name.size(), name);
  char size[13];
  std::snprintf(size, sizeof size, "%011o ", unsigned(data.size()));
  block.replace(124, 12, size);
  block[156] = type;
  block.replace(157, link.size(), link);
  block.replace(257, 8,
                pax ? std::string("ustar\0"
                                  "00",
                                  8)
                    : std::string("ustar  \0", 8));
  std::string padded(data);
  padded.resize((data.size() + 511) / 512 * 512, '\0');
  return block + padded;
}

// One pax record with its length counted.
std::string record(const std::string& key, const std::string& value) {
  std::string body = " " + key + "=" + value + "\n";
  std::size_t length = body.size() + 1;
  while (std::to_string(length).size() + body.size() != length) ++length;
  return std::to_string(length) + body;
}

std::string endBlocks() {
  return std::string(1024, '\0');
}

}  // namespace

TEST(TarPaxRecords, KeysTheLauncherUses) {
  struct Row {
    std::string data;
    bool ok;
    std::optional<std::string> path, linkpath;
    std::optional<int64_t> size;
    bool sparse = false, binary = false;
  } rows[] = {
      {record("path", "lib/\xC3\xBC.txt"), true, "lib/\xC3\xBC.txt", {}, {}},
      {record("path", "a") + record("path", "b=c d"), true, "b=c d", {}, {}},  // the last wins; '=' in value
      {record("path", "a") + record("path", ""), true, {}, {}, {}},            // empty: removed again
      {record("linkpath", "../t") + record("size", "70000"), true, {}, "../t", 70000},
      {record("size", "8589934592"), true, {}, {}, 8589934592},
      {record("mtime", "1.5") + record("SCHILY.xattr.a", std::string("\0\n", 2)), true, {}, {}, {}},
      {record("GNU.sparse.major", "1"), true, {}, {}, {}, true},
      {record("GNU.sparse.map", "0,1"), true, {}, {}, {}, true},
      {record("hdrcharset", "BINARY") + record("path", "\xFC"), true, "\xFC", {}, {}, false, true},
      {record("path", "a") + std::string(20, '\0'), true, "a", {}, {}},  // NUL padding ends the records
      {"", true, {}, {}, {}},
      {record("size", "12a"), false, {}, {}, {}},
      {record("size", "-1"), false, {}, {}, {}},
      {record("size", "1234567890123456789"), false, {}, {}, {}},
      {"9 path=ab\n", false, {}, {}, {}},  // length one too low
      {"11 path=a\n", false, {}, {}, {}},  // one too high
      {"8 =abcd\n", false, {}, {}, {}},    // empty key
      {"8 pathab\n", false, {}, {}, {}},   // no '='
      {"x path=a\n", false, {}, {}, {}},   // no length
      {" 8 path=a\n", false, {}, {}, {}},  //
      {"99999999999 path=a\n", false, {}, {}, {}},
      {"3 \n", false, {}, {}, {}},
      {record("path", "a").substr(0, 6), false, {}, {}, {}},  // cut
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.data));
    PaxHeader pax;
    ASSERT_EQ(parsePaxRecords(row.data, pax), row.ok);
    if (!row.ok) continue;
    EXPECT_EQ(pax.path, row.path);
    EXPECT_EQ(pax.linkpath, row.linkpath);
    EXPECT_EQ(pax.size, row.size);
    EXPECT_EQ(pax.sparse, row.sparse);
    EXPECT_EQ(pax.binaryNames, row.binary);
  }
}

TEST(TarLinks, SymbolicLinkTargetsResolvedInsideTheTree) {
  struct Row {
    std::string link, target;
    std::optional<std::string> key;
  } rows[] = {
      {"bin/soft.bin", "../lib/target.bin", "lib\\target.bin"},
      {"bin\\soft.bin", "target.bin", "bin\\target.bin"},
      {"./bin/soft.bin", "./x/../Y.BIN", "bin\\y.bin"},
      {"soft", "a//b/", "a\\b"},
      {"a/b/c/soft", "../../../top", "top"},
      {"a/b/c/soft", "../../../../above", std::nullopt},
      {"soft", "..", std::nullopt},
      {"a/soft", "..", std::nullopt},  // the root itself is no file
      {"soft", "/etc/passwd", std::nullopt},
      {"soft", "\\windows", std::nullopt},
      {"soft", "C:x", std::nullopt},
      {"soft", "", std::nullopt},
      {"a/soft", "../a/../../x", std::nullopt},  // leaves the tree on the way
  };
  for (const auto& row : rows)
    EXPECT_EQ(symlinkTargetKey(row.link, row.target), row.key) << row.link << " -> " << row.target;
  EXPECT_EQ(memberKey("./Lib//A.jar"), "lib\\a.jar");
  EXPECT_EQ(memberKey(".\\lib\\a.jar\\"), "lib\\a.jar");
}

// Members written by hand, for kinds and header forms the tools of the build machine do not
// all write: each row is an archive, the files it leaves and a line it must log.
TEST(Untar, MemberKinds) {
  const std::string big("\x80\0\0\0\0\0\0\0\x80\0\0\0", 12);  // 2^31
  std::string hugeHeader = member("huge.bin", '0', "");
  hugeHeader.replace(124, 12, big);
  using Files = std::map<std::string, std::string>;
  struct Row {
    const char* name;
    std::string archive;
    UntarOutcome outcome;
    Files files;
    std::string line;
  } rows[] = {
      {"old-style regular file (NUL)", member("old.txt", '\0', std::string(600, 'o')) + endBlocks(),
       UntarOutcome::kSuccess, Files{{"old.txt", std::string(600, 'o')}}, "extracting old.txt (size 600)"},
      {"contiguous file", member("c.txt", '7', "c") + endBlocks(), UntarOutcome::kSuccess,
       Files{{"c.txt", "c"}}, "extracting c.txt (size 1)"},
      {"FIFO skipped with a line", member("fifo", '6', "") + member("a", '0', "a") + endBlocks(),
       UntarOutcome::kSuccess, Files{{"a", "a"}}, "skipping FIFO fifo"},
      {"devices skipped", member("c", '3', "") + member("b", '4', "") + member("a", '0', "a") + endBlocks(),
       UntarOutcome::kSuccess, Files{{"a", "a"}}, "skipping block device b"},
      {"unknown type skipped with its data",
       member("v", 'V', std::string(700, 'v')) + member("a", '0', "a") + endBlocks(), UntarOutcome::kSuccess,
       Files{{"a", "a"}}, "skipping v of member type 'V'"},
      {"hard link copies", member("a", '0', "data") + member("b/h", '1', "", "a") + endBlocks(),
       UntarOutcome::kSuccess, Files{{"a", "data"}, {"b\\h", "data"}}, "extracting b\\h (copy of a)"},
      {"GNU K long link name",
       member("././@LongLink", 'L', std::string(120, 'n')) + member("x", '0', "long") +
           member("././@LongLink", 'K', std::string(120, 'n')) + member("h", '1', "", "ignored") +
           endBlocks(),
       UntarOutcome::kSuccess, Files{{std::string(120, 'n'), "long"}, {"h", "long"}},
       "extracting h (copy of " + std::string(120, 'n') + ")"},
      {"hard link to nothing written", member("a", '0', "a") + member("h", '1', "", "missing") + endBlocks(),
       UntarOutcome::kFailed, Files{{"a", "a"}},
       "ERROR: hard link h: its target missing is not a file written before it"},
      {"hard link out of the tree", member("a", '0', "a") + member("h", '1', "", "../a") + endBlocks(),
       UntarOutcome::kFailed, Files{{"a", "a"}}, "ERROR: refusing link target ../a of h"},
      {"symbolic link before its target", member("s", '2', "", "d/a") + member("d/a", '0', "a") + endBlocks(),
       UntarOutcome::kSuccess, Files{{"d\\a", "a"}, {"s", "a"}}, "extracting s (copy of d\\a)"},
      {"link chain: hard link to a symbolic link",
       member("s", '2', "", "a") + member("h", '1', "", "s") + member("a", '0', "a") + endBlocks(),
       UntarOutcome::kSuccess, Files{{"a", "a"}, {"s", "a"}, {"h", "a"}}, "extracting h (copy of a)"},
      {"symbolic links to symbolic links",
       member("d/s1", '2', "", "../s2") + member("s2", '2', "", "d/a") + member("d/a", '0', "a") +
           endBlocks(),
       UntarOutcome::kSuccess, Files{{"d\\a", "a"}, {"d\\s1", "a"}, {"s2", "a"}},
       "extracting d\\s1 (copy of d\\a)"},
      {"symbolic link loop skipped",
       member("s", '2', "", "t") + member("t", '2', "", "s") + member("a", '0', "a") + endBlocks(),
       UntarOutcome::kSuccess, Files{{"a", "a"}}, "skipping symbolic link t -> s"},
      {"symbolic link out of the tree",
       member("s", '2', "", "../../etc/passwd") + member("a", '0', "a") + endBlocks(), UntarOutcome::kSuccess,
       Files{{"a", "a"}}, "skipping symbolic link s -> ../../etc/passwd"},
      {"symbolic link replaced by a later file",
       member("s", '2', "", "a") + member("a", '0', "a") + member("s", '0', "s") + endBlocks(),
       UntarOutcome::kSuccess, Files{{"a", "a"}, {"s", "s"}}, "extracting s (size 1)"},
      {"symbolic link under a device name",
       member("COM\xB9", '2', "", "a") + member("a", '0', "a") + endBlocks(), UntarOutcome::kFailed, Files{},
       "ERROR: refusing member name COM\xB9"},
      {"pax path, linkpath and size",
       member("PaxHeaders/x", 'x', record("path", "lib/\xC3\xBC.txt") + record("size", "3")) +
           member("short", '0', "abc") + member("PaxHeaders/h", 'x', record("linkpath", "lib/\xC3\xBC.txt")) +
           member("h", '1', "", "ignored") + endBlocks(),
       UntarOutcome::kSuccess, Files{{"lib\\\xC3\xBC.txt", "abc"}, {"h", "abc"}},
       "extracting lib\\\xC3\xBC.txt (size 3)"},
      {"pax global header ignored",
       member("g", 'g', record("path", "global")) + member("a", '0', "a", "", true) + endBlocks(),
       UntarOutcome::kSuccess, Files{{"a", "a"}}, "extracting a (size 1)"},
      {"pax path not UTF-8", member("P", 'x', record("path", "a\xFF")) + member("a", '0', "a") + endBlocks(),
       UntarOutcome::kFailed, Files{}, "ERROR: refusing member name a\xFF"},
      {"pax path with a UTF-8 device name",
       member("P", 'x', record("path", "COM\xC2\xB2.txt")) + member("a", '0', "a") + endBlocks(),
       UntarOutcome::kFailed, Files{}, "ERROR: refusing member name COM\xC2\xB2.txt"},
      {"pax path escaping", member("P", 'x', record("path", "../x")) + member("a", '0', "a") + endBlocks(),
       UntarOutcome::kFailed, Files{}, "ERROR: refusing member name ..\\x"},
      {"pax size beyond 2 GiB",
       member("a", '0', "a") + member("P", 'x', record("size", "2147483648")) + member("b", '0', "") +
           endBlocks(),
       UntarOutcome::kFailed, Files{{"a", "a"}}, "ERROR: member b: its size 2147483648 is beyond 2 GiB"},
      {"base-256 size beyond 2 GiB", member("a", '0', "a") + hugeHeader + endBlocks(), UntarOutcome::kFailed,
       Files{{"a", "a"}}, "ERROR: member huge.bin: its size (base-256 field) is beyond 2 GiB"},
      {"GNU sparse member",
       member("a", '0', "a") + member("s.bin", 'S', "") + member("z", '0', "z") + endBlocks(),
       UntarOutcome::kFailed, Files{{"a", "a"}},
       "ERROR: member s.bin is a sparse file, which cannot be unpacked"},
      {"pax sparse keys",
       member("P", 'x', record("GNU.sparse.size", "9")) + member("s", '0', "") + endBlocks(),
       UntarOutcome::kFailed, Files{}, "ERROR: member s is a sparse file, which cannot be unpacked"},
      {"malformed pax header", member("P", 'x', "5 x\n") + member("a", '0', "a") + endBlocks(),
       UntarOutcome::kFailed, Files{}, "ERROR: malformed extended header"},
      {"long name with no member after it",
       member("a", '0', "a") + member("././@LongLink", 'L', "x") + endBlocks(), UntarOutcome::kFailed,
       Files{{"a", "a"}}, "ERROR: the archive ends after a long name or an extended header"},
      {"stray block before the end blocks", member("a", '0', "a") + std::string(512, 'x') + endBlocks(),
       UntarOutcome::kFailed, Files{{"a", "a"}},
       "ERROR: damaged archive: the block at offset 1024 is neither a member header nor an end block"},
      {"end of data right after a member", member("a", '0', "a"), UntarOutcome::kSuccess, Files{{"a", "a"}},
       "untaring JRE was successful"},
      {"one end block", member("a", '0', "a") + std::string(512, '\0'), UntarOutcome::kSuccess,
       Files{{"a", "a"}}, "untaring JRE was successful"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RecordingOutput out;
    EXPECT_EQ(run(row.archive, out).outcome, row.outcome) << testing::PrintToString(out.lines);
    EXPECT_EQ(out.files, row.files);
    EXPECT_TRUE(out.logged(row.line)) << testing::PrintToString(out.lines);
    EXPECT_TRUE(out.logged(row.outcome == UntarOutcome::kSuccess ? "untaring JRE was successful"
                                                                 : "ERROR: untaring JRE was unsuccessful"));
  }
  // Pax names are handed over as UTF-8, so that they are created through the wide functions.
  RecordingOutput out;
  for (const auto& row : rows)
    if (std::string_view(row.name) == "pax path, linkpath and size") run(row.archive, out);
  EXPECT_EQ(out.utf8Names, std::set<std::string>{"lib\\\xC3\xBC.txt"});
}

// Archives that the tools of the build machine make from a runtime-shaped tree, read from
// their files through zlib as the launcher reads them.
class RuntimeArchives : public testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "the archiving tools run on the build machine; these cases run in the native build";
#else
    dir_ = std::filesystem::temp_directory_path() /
           ("shipkit-archives-" + std::to_string(::getpid()) + "-" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
#endif
  }
  // Runs testing/runtime_archives.py in the scratch directory.
  void make(const std::string& args) {
    std::string cmd =
        "cd '" + dir_.string() + "' && python3 '" + SHIPKIT_TESTING_DIR + "/runtime_archives.py' " + args;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
  void TearDown() override {
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  UntarResult unpack(const std::filesystem::path& archive, RecordingOutput& out) {
    gzFile file = gzopen(archive.string().c_str(), "rb");
    EXPECT_NE(file, nullptr) << archive;
    if (!file) return {};
    GzTarInput in(file);
    UntarResult r = untar(in, out, 32768);
    gzclose(file);
    return r;
  }
  // Names as the target directory sees them: '\' separated, no "." part, no trailing separator.
  static std::string normal(std::string name) {
    std::replace(name.begin(), name.end(), '/', '\\');
    if (name.rfind(".\\", 0) == 0) name.erase(0, 2);
    while (!name.empty() && name.back() == '\\') name.pop_back();
    return name;
  }
  std::filesystem::path dir_;
};

// Every tool's archive unpacks to exactly the tree: the same files with the same bytes, the
// same directories (ustar cannot hold the long file name; only pax holds the UTF-8 name).
TEST_F(RuntimeArchives, EveryToolsArchiveUnpacksToExactlyTheTree) {
  make("tree tree formats");
  const std::filesystem::path tree = dir_ / "tree";
  const std::string longFile = std::string(116, 'L') + ".txt", unicodeFile =
                                                                   "\xC3\xBCn\xC3\xAF"
                                                                   "code-\xC3\xA9.txt";
  struct Row {
    const char* format;
    bool longFile, unicodeFile;
  } rows[] = {{"gnutar-gnu", true, false},  {"gnutar-oldgnu", true, false}, {"gnutar-ustar", false, false},
              {"gnutar-posix", true, true}, {"python-gnu", true, false},    {"python-ustar", false, false},
              {"python-pax", true, true},   {"bsdtar", true, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.format);
    std::map<std::string, std::string> files;
    std::set<std::string> dirs;
    for (const auto& e : std::filesystem::recursive_directory_iterator(tree)) {
      std::string rel = normal(std::filesystem::relative(e.path(), tree).string());
      if ((rel == longFile && !row.longFile) || (rel == unicodeFile && !row.unicodeFile)) continue;
      if (e.is_directory()) {
        dirs.insert(rel);
      } else {
        std::ifstream in(e.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        files[rel] = bytes.str();
      }
    }
    ASSERT_GE(files.size(), 5u);
    RecordingOutput out;
    ASSERT_EQ(unpack(dir_ / "formats" / (std::string(row.format) + ".tar.gz"), out).outcome,
              UntarOutcome::kSuccess)
        << testing::PrintToString(out.lines);
    std::map<std::string, std::string> gotFiles;
    for (const auto& [name, content] : out.files) gotFiles[normal(name)] = content;
    std::set<std::string> gotDirs;
    for (const auto& name : out.directories) gotDirs.insert(normal(name));
    EXPECT_EQ(gotFiles, files);
    EXPECT_EQ(gotDirs, dirs);
    EXPECT_EQ(out.utf8Names.count(unicodeFile), row.unicodeFile ? 1u : 0u);
    EXPECT_TRUE(out.logged("untaring JRE was successful"));
  }
}

// Links become copies of files of the tree; what cannot be copied is skipped with a line.
TEST_F(RuntimeArchives, LinksAreCopiesFifosAndOtherLinksAreSkipped) {
  make("links links-tree links");
  for (const char* tool : {"gnutar", "python-pax", "bsdtar"}) {
    SCOPED_TRACE(tool);
    RecordingOutput out;
    ASSERT_EQ(unpack(dir_ / "links" / (std::string(tool) + ".tar.gz"), out).outcome, UntarOutcome::kSuccess)
        << testing::PrintToString(out.lines);
    const std::string content = "linked content\n";
    EXPECT_EQ(out.files,
              (std::map<std::string, std::string>{
                  {"lib\\target.bin", content}, {"lib\\hard.bin", content}, {"bin\\soft.bin", content}}));
    for (const char* line : {"skipping FIFO lib\\pipe", "skipping symbolic link bin\\dirlink -> ../lib",
                             "skipping symbolic link bin\\dangling -> missing.bin"})
      EXPECT_TRUE(out.logged(line)) << line << ": " << testing::PrintToString(out.lines);
  }
}

// Archives whose content cannot be written correctly, or whose stream is damaged, fail with
// a line that says why.
TEST_F(RuntimeArchives, DamagedArchivesFailSayingWhy) {
  make("bad all bad-trees bad");
  struct Row {
    const char* kind;
    std::string part;  // of a line logged (the gzip stream's failures name the file)
  } rows[] = {
      {"sparse-gnu", "ERROR: member lib\\sparse.bin is a sparse file, which cannot be unpacked"},
      {"sparse-pax", "sparse.bin is a sparse file, which cannot be unpacked"},
      {"stray-block", "is neither a member header nor an end block"},
      {"cut-trailer", "cut-trailer.tar.gz: unexpected end of file"},
      {"flipped-byte-cut", "flipped-byte-cut.tar.gz: unexpected end of file"},
      {"flipped-byte", "flipped-byte.tar.gz: incorrect data check"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.kind);
    RecordingOutput out;
    EXPECT_EQ(unpack(dir_ / "bad" / (std::string(row.kind) + ".tar.gz"), out).outcome, UntarOutcome::kFailed);
    EXPECT_TRUE(out.loggedPart(row.part)) << testing::PrintToString(out.lines);
    EXPECT_TRUE(out.logged("ERROR: untaring JRE was unsuccessful"));
    EXPECT_FALSE(out.logged("untaring JRE was successful"));
  }
}
