// A runtime shipped in the payload as "jre.tar.gz" (made by GNU tar from the fake java.exe,
// jvm.dll and unpack200.exe), unpacked, restored from pack200 and loaded, end to end under
// Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "E2eSupport.h"

using namespace e2e;

namespace {

const char kCorrupt[] =
    "The bundled JRE is corrupted. If you downloaded the setup file please download it again.";

// A runtime tree: bin\java.exe and javaw.exe answering 11.0.2, bin\server\jvm.dll (unless
// `loadable` is false) and bin\unpack200.exe.
void makeRuntimeTree(const fs::path& dir, bool loadable = true) {
  fs::create_directories(dir / "bin" / "server");
  makeFakeRuntime(dir, "11.0.2",
                  loadable ? std::vector<std::string>{"bin/server"} : std::vector<std::string>{});
  fs::copy_file(outDir() / "testing" / "unpack200.exe", dir / "bin" / "unpack200.exe");
}

std::string quote(const fs::path& p) {
  return "'" + p.string() + "'";
}

// "jre.tar.gz" of a tree, as GNU tar writes it from inside the tree.
fs::path archiveOf(const fs::path& tree, const fs::path& archive, const std::string& options = "") {
  sh("tar -C " + quote(tree) + " --sort=name " + options + " -czf " + quote(archive) + " .");
  return archive;
}

// testing/runtime_archives.py: runtime archives as vendors' tools make them.
void runtimeArchives(const std::string& arguments) {
  sh("python3 " + quote(repoRoot() / "testing" / "runtime_archives.py") + " " + arguments);
}

bool containsPart(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.find(part) != l.npos; });
}

// The files (with their bytes) and directories below `root`, by relative path.
struct Tree {
  std::map<std::string, std::string> files;
  std::set<std::string> dirs;
  bool operator==(const Tree&) const = default;
};
Tree treeOf(const fs::path& root, const std::set<std::string>& leaveOut = {}) {
  Tree t;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(e.path(), root).string();
    if (leaveOut.count(rel)) continue;
    if (e.is_directory())
      t.dirs.insert(rel);
    else
      t.files[rel] = Sandbox::readFile(e.path());
  }
  return t;
}
void PrintTo(const Tree& t, std::ostream* os) {
  for (const auto& d : t.dirs) *os << "\n  " << d << "/";
  for (const auto& [name, bytes] : t.files) *os << "\n  " << name << " (" << bytes.size() << " bytes)";
}

std::size_t uncompressedSize(const fs::path& archive) {
  std::string cmd = "gzip -dc " + quote(archive) + " | wc -c";
  FILE* p = ::popen(cmd.c_str(), "r");
  unsigned long long n = 0;
  if (p) {
    if (std::fscanf(p, "%llu", &n) != 1) n = 0;
    ::pclose(p);
  }
  return std::size_t(n);
}

struct Shipped {
  Sandbox box;
  fs::path report = box.dir() / "report.json";
  fs::path record = box.dir() / "unpack200.txt";
  json manifest = Sandbox::baseManifest();

  Shipped() { manifest["config"]["122"] = "com.example.Main"; }
  // The archive as the payload's "jre.tar.gz", with its size as entry 151.
  void ship(const fs::path& archive, json more = json::array()) {
    json files = json::array({{{"name", "jre.tar.gz"}, {"source", archive.string()}}});
    for (auto& f : more) files.push_back(f);
    manifest["files"] = files;
    manifest["config"]["151"] = std::to_string(uncompressedSize(archive));
  }
  RunResult run(const std::string& arguments = "-q", RunOptions options = {}) {
    options.env["SHIPKIT_LOG"] = "yes";
    options.env["FAKEJVM_REPORT"] = winPath(report);
    options.env["FAKE_UNPACK200_RECORD"] = winPath(record);
    return box.run(box.build(manifest), arguments, options);
  }
  std::vector<std::string> log() const { return box.lastLogLines(); }
};

}  // namespace

TEST(ShippedRuntime, UnpackedLoadedAndTheArchiveDeleted) {
  Shipped s;
  makeRuntimeTree(s.box.dir() / "tree");
  s.ship(archiveOf(s.box.dir() / "tree", s.box.dir() / "jre.tar.gz"));
  RunResult r = s.run();
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto lines = s.log();
  int extracting = indexOf(lines, "extracting JRE");
  int success = indexOf(lines, "untaring JRE was successful", extracting);
  ASSERT_GE(extracting, 0) << testing::PrintToString(lines);
  EXPECT_GT(success, extracting);
  EXPECT_TRUE(contains(lines, "extracting .\\bin\\server\\jvm.dll (size " +
                                  std::to_string(fs::file_size(s.box.dir() / "tree/bin/server/jvm.dll")) +
                                  ")"));
  auto dirs = extractionDirs(s.box.temp());
  ASSERT_EQ(dirs.size(), 1u);
  EXPECT_FALSE(fs::exists(dirs[0] / "jre.tar.gz"));
  EXPECT_TRUE(fs::exists(dirs[0] / "jre" / "bin" / "server" / "jvm.dll"));
  EXPECT_GT(indexOf(lines, "JRE dir: " + winPath(dirs[0] / "jre")), success) << testing::PrintToString(lines);
  EXPECT_TRUE(contains(lines, "Loading of JVM-DLL successful"));
  EXPECT_EQ(indexOf(lines, "ERROR: Could not load bundled JRE. Trying to find another JRE."), -1);
  json rep = reportOf(s.report);
  EXPECT_EQ(rep["mainClass"], "com/shipkit/runtime/launcher/WinLauncher");
  EXPECT_NE(lower(rep["path"].get<std::string>()).find(lower(winPath(dirs[0] / "jre")) + "\\bin"),
            std::string::npos)
      << rep["path"];
  EXPECT_FALSE(fs::exists(s.record)) << "an unpacked runtime runs no unpacker";
}

TEST(ShippedRuntime, PackedJarsAreRestoredOncePerFileWithTheExactCommandLine) {
  Shipped s;
  fs::path tree = s.box.dir() / "tree";
  makeRuntimeTree(tree);
  fs::create_directories(tree / "lib" / "ext");
  fs::create_directories(tree / "lib" / "deeper");
  std::ofstream(tree / "lib" / "rt.jar.pack") << "rt";
  std::ofstream(tree / "lib" / "ext" / "x.jar.pack") << "x";
  std::ofstream(tree / "lib" / "a.jar.pack") << "a";  // its jar exists: left alone
  std::ofstream(tree / "lib" / "a.jar") << "plain a";
  std::ofstream(tree / "lib" / "deeper" / "y.jar.pack") << "y";  // not searched
  s.manifest["config"]["153"] = "1";
  s.ship(archiveOf(tree, s.box.dir() / "jre.tar.gz"),
         json::array({{{"name", "user.jar.pack"}, {"text", "u"}}}));
  RunResult r = s.run();
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto dirs = extractionDirs(s.box.temp());
  ASSERT_EQ(dirs.size(), 1u);
  const fs::path& x = dirs[0];
  std::string home = lower(winPath(x / "jre")) + "\\bin\\..";
  std::vector<std::string> expected = {
      "-r \"jre\\lib\\rt.jar.pack\" \"jre\\lib\\rt.jar\"",
      "-r \"jre\\lib\\ext\\x.jar.pack\" \"jre\\lib\\ext\\x.jar\"",
      "-r \"" + winPath(x / "user.jar.pack") + "\" \"" + winPath(x / "user.jar") + "\"",
  };
  std::vector<std::string> ran;
  std::istringstream in(Sandbox::readFile(s.record));
  for (std::string l; std::getline(in, l);) ran.push_back(l.substr(0, l.find('\r')));
  EXPECT_EQ(ran, expected);
  EXPECT_EQ(Sandbox::readFile(x / "jre" / "lib" / "rt.jar"), "jar:rt");
  EXPECT_EQ(Sandbox::readFile(x / "jre" / "lib" / "ext" / "x.jar"), "jar:x");
  EXPECT_EQ(Sandbox::readFile(x / "jre" / "lib" / "a.jar"), "plain a");
  EXPECT_EQ(Sandbox::readFile(x / "user.jar"), "jar:u");
  EXPECT_FALSE(fs::exists(x / "jre" / "lib" / "rt.jar.pack"));
  EXPECT_FALSE(fs::exists(x / "user.jar.pack"));
  EXPECT_TRUE(fs::exists(x / "jre" / "lib" / "deeper" / "y.jar.pack"));
  EXPECT_FALSE(fs::exists(x / "jre" / "lib" / "deeper" / "y.jar"));
  auto lines = s.log();
  int packed = indexOf(lines, "JRE is packed");
  int start = indexOf(lines, "Unpacking JRE", packed);
  EXPECT_GT(packed, 0) << testing::PrintToString(lines);
  EXPECT_GT(start, packed);
  EXPECT_GT(indexOf(lines, "Unpacking JRE done", start), start);
  EXPECT_EQ(indexOf(lines, "Unpacking JRE", start + 1), -1) << "announced once per home";
  EXPECT_TRUE(contains(lines, "unpacking user.jar.pack"));
  EXPECT_TRUE(contains(lines, home + "\\bin\\unpack200.exe")) << testing::PrintToString(lines);
  std::size_t announced = 0;
  for (std::size_t at = 0; (at = r.out.find("Preparing JRE ...\n", at)) != std::string::npos; ++at)
    ++announced;
  EXPECT_EQ(announced, 1u) << r.out;
}

// A failed unpacker keeps the packed file (the only copy of the jar) and leaves no partial
// jar; the run goes on, and the runtime check decides. A missing unpacker is fatal.
TEST(ShippedRuntime, UnpackerFailuresAndAMissingUnpacker) {
  for (const char* mode : {"fail", "partial"}) {
    SCOPED_TRACE(mode);
    Shipped s;
    fs::path tree = s.box.dir() / "tree";
    makeRuntimeTree(tree);
    fs::create_directories(tree / "lib");
    std::ofstream(tree / "lib" / "rt.jar.pack") << "rt";
    s.manifest["config"]["153"] = "1";
    s.ship(archiveOf(tree, s.box.dir() / "jre.tar.gz"));
    RunResult r = s.run("-q", {.env = {{"FAKE_UNPACK200_MODE", mode}}});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    auto lines = s.log();
    EXPECT_TRUE(contains(lines, "unpack200 exit code 2")) << testing::PrintToString(lines);
    EXPECT_TRUE(contains(lines, "ERROR: unpack200 failed (exit code 2): keeping jre\\lib\\rt.jar.pack"));
    EXPECT_EQ(contains(lines, "ERROR: removed the partial jre\\lib\\rt.jar"), std::string(mode) == "partial");
    const fs::path lib = extractionDirs(s.box.temp()).at(0) / "jre" / "lib";
    EXPECT_EQ(Sandbox::readFile(lib / "rt.jar.pack"), "rt");
    EXPECT_FALSE(fs::exists(lib / "rt.jar"));
    // The packed file is still there for the repeat before the runtime check, which fails
    // the same way.
    std::string record = Sandbox::readFile(s.record);
    EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 2) << record;
  }
  {
    Shipped s;
    fs::path tree = s.box.dir() / "tree";
    makeRuntimeTree(tree);
    fs::remove(tree / "bin" / "unpack200.exe");
    fs::create_directories(tree / "lib");
    std::ofstream(tree / "lib" / "rt.jar.pack") << "rt";
    s.manifest["config"]["153"] = "1";
    s.ship(archiveOf(tree, s.box.dir() / "jre.tar.gz"));
    RunResult r = s.run();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("An internal error occurred (error code: 20)"), std::string::npos) << r.err;
    EXPECT_TRUE(contains(s.log(), "could not create unpack process"));
  }
}

TEST(ShippedRuntime, UnloadableRuntimeFallsBackToTheSearchThenToTheFatalText) {
  {
    Shipped s;
    makeRuntimeTree(s.box.dir() / "tree", false);
    makeRuntimeTree(s.box.dir() / "other");
    s.manifest["config"]["128"] = "ESKT_TEST_JRE;";
    s.ship(archiveOf(s.box.dir() / "tree", s.box.dir() / "jre.tar.gz"));
    RunResult r = s.run("-q", {.env = {{"SKT_TEST_JRE", winPath(s.box.dir() / "other")}}});
    auto lines = s.log();
    EXPECT_EQ(r.exitCode, 0) << r.err << testing::PrintToString(lines);
    int fallback = indexOf(lines, "ERROR: Could not load bundled JRE. Trying to find another JRE.");
    EXPECT_GE(fallback, 0) << testing::PrintToString(lines);
    EXPECT_GT(indexOf(lines, "Searching for a JVM", fallback), fallback);
    EXPECT_TRUE(reportOf(s.report)["mainClass"].is_string());
  }
  {
    Shipped s;
    makeRuntimeTree(s.box.dir() / "tree", false);
    s.ship(archiveOf(s.box.dir() / "tree", s.box.dir() / "jre.tar.gz"));
    RunResult r = s.run("-q", {.unset = {"SHIPKIT_JAVA_HOME", "JARWRAP_JAVA_HOME"}});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Could not use bundled JRE. Please send this log file to your software vendor:"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Log: "), std::string::npos) << r.err;
    EXPECT_TRUE(contains(s.log(), "ERROR: Could not find another JRE."));
    EXPECT_TRUE(extractionDirs(s.box.temp()).empty());
  }
}

TEST(ShippedRuntime, LanguageRestartReusesTheUnpackedRuntime) {
  Shipped s;
  fs::path dir = s.box.dir() / "restart";
  makeRuntimeTree(dir / "jre");
  std::ofstream(dir / "sktruntime.jar") << "jar";
  std::ofstream(dir / "sktparams.conf") << "conf";
  RunResult r = s.run("__skt_lang_restart", {.cwd = dir});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto lines = s.log();
  EXPECT_TRUE(contains(lines, "JRE dir: " + winPath(dir / "jre"))) << testing::PrintToString(lines);
  EXPECT_TRUE(contains(lines, "Loading of JVM-DLL successful"));
  EXPECT_EQ(indexOf(lines, "extracting JRE"), -1);
  EXPECT_TRUE(fs::exists(dir / "jre" / "bin" / "java.exe"));
}

struct BadArchive {
  const char* name;
  std::string error;  // a log line the run must show (a part of it when `part`)
  std::string fatal = kCorrupt;
  bool part = false;
};

void PrintTo(const BadArchive& c, std::ostream* os) {
  *os << c.name;
}

class ShippedRuntimeBadArchive : public testing::TestWithParam<BadArchive> {};

// Each bad archive ends with the corrupt-archive text, exit code 1 and the extraction
// directory removed; nothing is created outside it.
TEST_P(ShippedRuntimeBadArchive, EndsWithTheCorruptArchiveText) {
  const BadArchive& c = GetParam();
  Shipped s;
  fs::path tree = s.box.dir() / "tree";
  makeRuntimeTree(tree);
  fs::path archive = s.box.dir() / "jre.tar.gz";
  std::string kind = c.name;
  if (kind == "corrupt_gzip") {
    archiveOf(tree, archive);
    std::string bytes = Sandbox::readFile(archive);
    for (std::size_t i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i) bytes[i] = char(bytes[i] ^ 0x5a);
    std::ofstream(archive, std::ios::binary) << bytes;
  } else if (kind == "not_gzip") {
    std::ofstream(archive, std::ios::binary) << std::string(3000, 'G');
  } else if (kind == "truncated") {
    archiveOf(tree, archive);
    fs::resize_file(archive, fs::file_size(archive) / 2);
  } else if (kind == "directories_only") {
    fs::create_directories(s.box.dir() / "dirs" / "bin" / "server");
    archiveOf(s.box.dir() / "dirs", archive);
  } else if (kind == "escaping_name") {
    sh("tar -C " + quote(tree) + " -P --transform='s,^./bin/java.exe$,../../escaped.exe,' -czf " +
       quote(archive) + " ./bin");
  } else if (kind == "uncreatable_member") {
    // The file bin\server is written first, so bin\server\jvm.dll cannot be created.
    sh("tar -C " + quote(tree) + " --sort=name --transform='s,^./bin/java.exe$,./bin/server,' -czf " +
       quote(archive) + " .");
  } else if (kind.starts_with("tool_")) {
    // sparse_gnu, stray_block, cut_trailer ... as testing/runtime_archives.py makes them
    std::string bad = kind.substr(5);
    std::replace(bad.begin(), bad.end(), '_', '-');
    runtimeArchives("bad " + bad + " " + quote(s.box.dir() / "bad") + " " + quote(archive));
  } else if (kind == "absolute_name") {
    sh("tar -C " + quote(tree) + " -P --transform='s,^./bin/java.exe$,C:/escaped.exe,' -czf " +
       quote(archive) + " ./bin");
  }
  s.ship(archive);
  RunResult r = s.run();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find(c.fatal), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Log: "), std::string::npos) << r.err;
  auto lines = s.log();
  EXPECT_TRUE(c.part ? containsPart(lines, c.error) : contains(lines, c.error))
      << testing::PrintToString(lines);
  EXPECT_EQ(contains(lines, "ERROR: Could not untar JRE"), c.fatal == kCorrupt);
  EXPECT_FALSE(contains(lines, "untaring JRE was successful"));
  EXPECT_TRUE(extractionDirs(s.box.temp()).empty());
  for (const auto& e : fs::recursive_directory_iterator(s.box.dir()))
    EXPECT_NE(e.path().filename().string(), "escaped.exe") << e.path();
  EXPECT_FALSE(fs::exists(repoRoot() / "build" / "wineprefix" / "drive_c" / "escaped.exe"));
}

INSTANTIATE_TEST_SUITE_P(
    Archives, ShippedRuntimeBadArchive,
    testing::Values(
        BadArchive{"corrupt_gzip", "ERROR: untaring JRE was unsuccessful"},
        BadArchive{"not_gzip", "ERROR: no magic number"},
        BadArchive{"truncated", "ERROR: untaring JRE was unsuccessful"},
        BadArchive{"directories_only", "ERROR: no magic number"},
        BadArchive{"escaping_name", "ERROR: refusing member name ..\\..\\escaped.exe"},
        BadArchive{"absolute_name", "ERROR: refusing member name C:\\escaped.exe"},
        BadArchive{"uncreatable_member", "ERROR: Could not open file .\\bin\\server\\jvm.dll",
                   "Could not open file .\\bin\\server\\jvm.dll\n"},
        BadArchive{"tool_sparse_gnu",
                   "ERROR: member lib\\sparse.bin is a sparse file, which cannot be unpacked"},
        BadArchive{"tool_sparse_pax", "sparse.bin is a sparse file, which cannot be unpacked", kCorrupt,
                   true},
        BadArchive{"tool_stray_block",
                   "ERROR: damaged archive: the block at offset 104448 is neither a member header nor an end "
                   "block"},
        BadArchive{"tool_cut_trailer", "ERROR: damaged gzip stream: jre.tar.gz: unexpected end of file"},
        BadArchive{"tool_flipped_byte_cut", "ERROR: damaged gzip stream: jre.tar.gz: unexpected end of file"},
        BadArchive{"tool_flipped_byte", "ERROR: damaged gzip stream: jre.tar.gz: incorrect data check"}),
    [](const testing::TestParamInfo<BadArchive>& info) { return std::string(info.param.name); });

class ShippedRuntimeTool : public testing::TestWithParam<const char*> {};

// A runtime tree (with nested directories, an empty file and directory, a name of exactly 100
// characters, a 130-character path, a file name over 100 characters, a file over 64 KiB and,
// for pax, a UTF-8 name) packed by each tool unpacks to exactly that tree.
TEST_P(ShippedRuntimeTool, UnpacksToExactlyTheTree) {
  const std::string format = GetParam();
  Shipped s;
  fs::path tree = s.box.dir() / "tree";
  makeRuntimeTree(tree);
  runtimeArchives("tree " + quote(tree) + " " + quote(s.box.dir()) + " " + format);
  s.ship(s.box.dir() / (format + ".tar.gz"));
  RunResult r = s.run();
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto lines = s.log();
  EXPECT_TRUE(contains(lines, "untaring JRE was successful")) << testing::PrintToString(lines);
  std::set<std::string> leaveOut;
  if (format == "gnutar-ustar" || format == "python-ustar") leaveOut.insert(std::string(116, 'L') + ".txt");
  if (format.find("posix") == std::string::npos && format.find("pax") == std::string::npos &&
      format != "bsdtar")
    leaveOut.insert(
        "\xC3\xBCn\xC3\xAF"
        "code-\xC3\xA9.txt");
  auto dirs = extractionDirs(s.box.temp());
  ASSERT_EQ(dirs.size(), 1u);
  // The fake java.exe records its runs beside itself when the runtime is checked.
  EXPECT_EQ(treeOf(dirs[0] / "jre", {"bin/java.exe.runs", "bin/javaw.exe.runs"}), treeOf(tree, leaveOut));
}

INSTANTIATE_TEST_SUITE_P(Formats, ShippedRuntimeTool,
                         testing::Values("gnutar-gnu", "gnutar-oldgnu", "gnutar-ustar", "gnutar-posix",
                                         "python-gnu", "python-ustar", "python-pax", "bsdtar"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

// Hard and symbolic links to files of the tree become copies; a FIFO and links to a directory
// or to nothing are skipped with a line.
TEST(ShippedRuntime, LinksBecomeCopies) {
  Shipped s;
  fs::path tree = s.box.dir() / "tree";
  makeRuntimeTree(tree);
  runtimeArchives("links " + quote(tree) + " " + quote(s.box.dir() / "links"));
  s.ship(s.box.dir() / "links" / "gnutar.tar.gz");
  RunResult r = s.run();
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto lines = s.log();
  for (const char* line :
       {"skipping FIFO lib\\pipe", "skipping symbolic link bin\\dirlink -> ../lib",
        "skipping symbolic link bin\\dangling -> missing.bin", "untaring JRE was successful"})
    EXPECT_TRUE(contains(lines, line)) << line << testing::PrintToString(lines);
  auto dirs = extractionDirs(s.box.temp());
  ASSERT_EQ(dirs.size(), 1u);
  const fs::path jre = dirs[0] / "jre";
  for (const char* copy : {"lib/target.bin", "lib/hard.bin", "bin/soft.bin"}) {
    EXPECT_EQ(Sandbox::readFile(jre / copy), "linked content\n") << copy;
    EXPECT_FALSE(fs::is_symlink(jre / copy)) << copy;
  }
  for (const char* skipped : {"lib/pipe", "bin/dirlink", "bin/dangling"})
    EXPECT_FALSE(fs::exists(fs::symlink_status(jre / skipped))) << skipped;
}

// The search restores packed jars of a runtime directory it is given before checking it.
TEST(ShippedRuntime, SearchRestoresPackedJarsOfALocationFirst) {
  Shipped s;
  fs::path rt = s.box.dir() / "Runtime";
  makeRuntimeTree(rt);
  fs::create_directories(rt / "lib" / "ext");
  std::ofstream(rt / "lib" / "ext" / "e.jar.pack") << "e";
  s.manifest["config"]["128"] = "A" + winPath(rt) + ";";
  RunResult r = s.run();
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::string dir = lower(winPath(rt));
  EXPECT_EQ(Sandbox::readFile(s.record),
            "-r \"" + dir + "\\lib\\ext\\e.jar.pack\" \"" + dir + "\\lib\\ext\\e.jar\"\r\n");
  EXPECT_EQ(Sandbox::readFile(rt / "lib" / "ext" / "e.jar"), "jar:e");
  auto lines = s.log();
  int unpacked = indexOf(lines, "unpack done");
  EXPECT_GE(unpacked, 0) << testing::PrintToString(lines);
  EXPECT_GT(indexOf(lines, "Loading of JVM-DLL successful", unpacked), unpacked);
}
