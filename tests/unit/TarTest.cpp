// The tar rules and the untar loop. Archives are made by GNU tar on the build machine (so
// those tests run only in the native build) and read through the in-memory input that
// behaves like zlib's gz functions.
#include <gtest/gtest.h>

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

  void makeDirectory(const std::string& name) override { directories.insert(name); }
  bool openFile(const std::string& name) override {
    if (name == refuseOpen) return false;
    current = name;
    files[name];
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
  void log(const std::string& text, bool error) override { lines.push_back((error ? "ERROR: " : "") + text); }
  bool logged(const std::string& line) const {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
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
      {std::string("\x80\x00\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00", 12), std::nullopt},  // base-256
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
      // Links and pax headers are skipped with their data; only regular files are written.
      for (const auto& [name, content] : out.files) {
        EXPECT_EQ(name.find("link"), std::string::npos) << name;
        EXPECT_EQ(name.find("hard.exe"), std::string::npos) << name;
        EXPECT_EQ(name.find("PaxHeaders"), std::string::npos) << name;
      }
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
// before the cut stay written.
TEST_F(GnuTar, TruncatedAtAnyOffsetFails) {
  file("a.txt", pattern(700, 1));
  file("b/c.bin", pattern(1536, 2));
  file("z.txt", "");
  std::string full = tar("--format=gnu", "a.txt b z.txt");
  // Four headers, 1024 + 1536 bytes of data: the end blocks begin at 9 * 512.
  const std::size_t endBlocks = 9 * 512;
  ASSERT_GT(full.size(), endBlocks);
  for (std::size_t block = 0; block <= endBlocks; block += 64) {
    for (std::size_t cut : {block, block + 1}) {
      if (cut > endBlocks) continue;
      RecordingOutput out;
      UntarResult r = run(std::string_view(full).substr(0, cut), out);
      EXPECT_EQ(r.outcome, UntarOutcome::kFailed)
          << "cut at " << cut << ": " << testing::PrintToString(out.lines);
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
    EXPECT_EQ(r.failedName, "a.txt");
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

// Hand-made blocks for what GNU tar does not write: an old-style regular file (typeflag NUL)
// is skipped with its data like any type other than '0', '5' and 'L'.
TEST(Untar, OnlyTypeZeroWritesAFile) {
  auto member = [](std::string_view name, char type, std::string_view data) {
    std::string block(512, '\0');
    block.replace(0, name.size(), name);
    char size[13];
    std::snprintf(size, sizeof size, "%011o ", unsigned(data.size()));
    block.replace(124, 12, size);
    block[156] = type;
    block.replace(257, 8, std::string("ustar  \0", 8));
    std::string padded(data);
    padded.resize((data.size() + 511) / 512 * 512, '\0');
    return block + padded;
  };
  std::string tar = member("old.txt", '\0', std::string(600, 'o')) + member("fifo", '6', "") +
                    member("new.txt", '0', "new") + std::string(1024, '\0');
  RecordingOutput out;
  EXPECT_EQ(run(tar, out).outcome, UntarOutcome::kSuccess) << testing::PrintToString(out.lines);
  EXPECT_EQ(out.files, (std::map<std::string, std::string>{{"new.txt", "new"}}));
  EXPECT_TRUE(out.logged("extracting new.txt (size 3)"));
}
