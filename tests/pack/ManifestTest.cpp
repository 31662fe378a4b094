// Manifest errors name the field, exit with 2 and leave nothing at the output path; the
// stub is found as documented.
#include <gtest/gtest.h>

#include <sstream>

#include "PackTestSupport.h"
#include "pack/Manifest.h"
#include "pack/Packer.h"

namespace shipkit::pack::test {
namespace {

CliRun cli(const std::vector<std::string>& args) {
  return runPack(args);
}

TEST(PackManifest, BadManifestsNameTheFieldAndWriteNothing) {
  struct Case {
    const char* manifest;
    const char* error;
  };
  const Case cases[] = {
      {R"([])", "manifest: (top level): expected an object, got array"},
      {R"({"files": [)",
       "manifest: parse error at line 1, column 12: syntax error while parsing "
       "value - unexpected end of input; expected '[', '{', or a literal"},
      {R"({"chcksum": true})", "manifest: chcksum: unknown key"},
      {R"({"stub": 5})", "manifest: stub: expected a string, got an integer"},
      {R"({"checksum": "yes"})", "manifest: checksum: expected true or false, got string"},
      {R"({"config": []})", "manifest: config: expected an object, got array"},
      {R"({"config": {"abc": "1"}})", "manifest: config.abc: id must be a decimal 32-bit integer"},
      {R"({"config": {"2147483648": "1"}})",
       "manifest: config.2147483648: id must be a decimal 32-bit integer"},
      {R"({"config": {" 1": "1"}})", "manifest: config. 1: id must be a decimal 32-bit integer"},
      {R"({"config": {"107": 1}})", "manifest: config.107: expected a string, got an integer"},
      {R"({"config": {"107": "a", "0107": "b"}})",
       "manifest: config.107: duplicate id (also given as \"0107\")"},
      {R"({"config": {"2001": "\u0100"}})",
       "manifest: config.2001: character U+0100 cannot be stored as one byte (max U+00FF)"},
      {R"({"messages": {"1000": null}})", "manifest: messages.1000: expected a string, got null"},
      {R"({"localized": {"key": "de"}})", "manifest: localized: expected an array, got object"},
      {R"({"localized": [{"messages": {}}]})", "manifest: localized[0].key: missing"},
      {R"({"localized": [{"key": "de", "messages": {"x": "y"}}]})",
       "manifest: localized[0].messages.x: id must be a decimal 32-bit integer"},
      {R"({"files": {}})", "manifest: files: expected an array, got object"},
      {R"({"files": ["a.jar"]})", "manifest: files[0]: expected an object, got string"},
      {R"({"files": [{"text": "x"}]})", "manifest: files[0].name: missing"},
      {R"({"files": [{"name": "ok", "text": ""}, {"name": "a;b", "text": ""}]})",
       "manifest: files[1].name: name contains ';'"},
      {R"({"files": [{"name": "", "text": ""}]})", "manifest: files[0].name: empty name"},
      {R"({"files": [{"name": "a\u0000b", "text": ""}]})", "manifest: files[0].name: name contains NUL"},
      {R"({"files": [{"name": "..\\x", "text": ""}]})",
       "manifest: files[0].name: \"..\\\\x\" is not a safe relative path (use '\\' between parts; no "
       "'/', ':', '..', empty parts, device names such as CON or NUL, parts ending in '.' or ' ', or "
       "the characters <>\"|?*)"},
      {R"({"files": [{"name": "a/b", "text": ""}]})",
       "manifest: files[0].name: \"a/b\" is not a safe relative path (use '\\' between parts; no "
       "'/', ':', '..', empty parts, device names such as CON or NUL, parts ending in '.' or ' ', or "
       "the characters <>\"|?*)"},
      {R"({"files": [{"name": "lib\\NUL.txt", "text": ""}]})",
       "manifest: files[0].name: \"lib\\\\NUL.txt\" is not a safe relative path (use '\\' between parts; no "
       "'/', ':', '..', empty parts, device names such as CON or NUL, parts ending in '.' or ' ', or "
       "the characters <>\"|?*)"},
      {R"({"files": [{"name": "a"}]})",
       "manifest: files[0]: needs exactly one of \"source\", \"text\" or \"hex\""},
      {R"({"files": [{"name": "a", "text": "x", "hex": "00"}]})",
       "manifest: files[0]: needs exactly one of \"source\", \"text\" or \"hex\""},
      {R"({"files": [{"name": "a", "text": "x", "mode": 1}]})", "manifest: files[0].mode: unknown key"},
      {R"({"files": [{"name": "a", "hex": "0g"}]})", "manifest: files[0].hex: not a hex digit: 'g'"},
      {R"({"files": [{"name": "a", "hex": "008"}]})", "manifest: files[0].hex: odd number of hex digits"},
      {R"({"files": [{"name": "a", "text": ""}, {"name": "b", "text": ""},
                     {"name": "x.jar", "source": "x.jar"}]})",
       "manifest: files[2].source: cannot read \"x.jar\": No such file or directory"},
      {R"({"files": [{"name": "d", "source": "dir"}]})",
       "manifest: files[0].source: cannot read \"dir\": not a regular file"},
      {R"({"trailer": "x"})", "manifest: trailer: expected an object, got string"},
      {R"({"trailer": {"source": "nope.bin"}})",
       "manifest: trailer.source: cannot read \"nope.bin\": No such file or directory"},
      {R"({"header": {"crc": -1}})", "manifest: header.crc: out of range"},
      {R"({"header": {"magic": 4294967296}})", "manifest: header.magic: out of range"},
      {R"({"header": {"length": "0"}})", "manifest: header.length: expected an integer, got string"},
      {R"({"download": "https://example.com/jre.tar.gz"})",
       "manifest: download: expected an object, got string"},
      {R"({"download": {"sha256": "00"}})", "manifest: download.url: missing"},
      {R"({"download": {"url": ""}})", "manifest: download.url: empty"},
      {R"({"download": {"url": "https://example.com/Ā"}})",
       "manifest: download.url: character U+0100 cannot be stored as one byte (max U+00FF)"},
      {R"({"download": {"url": "https://a", "md5": "00"}})", "manifest: download.md5: unknown key"},
      {R"({"download": {"url": "https://a", "sha256": "ba7816bf"}})",
       "manifest: download.sha256: expected 64 hex digits, got \"ba7816bf\""},
      {R"({"download": {"url": "https://a", "sha256": 5}})",
       "manifest: download.sha256: expected a string, got an integer"},
      {R"({"download": {"url": "https://a", "source": "jre.tar.gz",
                        "sha256": "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"}})",
       "manifest: download: give \"sha256\" or \"source\", not both"},
      {R"({"download": {"url": "https://a", "source": "jre.tar.gz"}})",
       "manifest: download.source: cannot read \"jre.tar.gz\": No such file or directory"},
      {R"({"config": {"150": "https://b"}, "download": {"url": "https://a"}})",
       "manifest: download: \"config\" sets entry 150 too; give the download location and its digest in "
       "\"download\" only"},
      {R"({"config": {"170": ""}, "download": {"url": "https://a"}})",
       "manifest: download: \"config\" sets entry 170 too; give the download location and its digest in "
       "\"download\" only"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.manifest);
    ScratchDir dir;
    std::filesystem::create_directory(dir / "dir");
    writeFile(dir / "m.json", c.manifest);
    writeFile(dir / "stub.exe", makePe({}));
    CliRun run = cli({"build", "--stub", (dir / "stub.exe").string(), "--manifest", (dir / "m.json").string(),
                      "--out", (dir / "out.exe").string()});
    EXPECT_EQ(run.code, 2);
    EXPECT_EQ(run.err, std::string("shipkit-pack: ") + c.error + "\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"dir", "m.json", "stub.exe"}));
  }
}

TEST(PackManifest, ADownloadLocationLongerThanTheLauncherReadsIsRefused) {
  for (std::size_t length : {5999u, 6000u}) {
    ScratchDir dir;
    writeFile(dir / "m.json", R"({"download": {"url": "https://)" + std::string(length - 8, 'a') + R"("}})");
    writeFile(dir / "stub.exe", makePe({}));
    CliRun run = cli({"build", "--stub", (dir / "stub.exe").string(), "--manifest", (dir / "m.json").string(),
                      "--out", (dir / "out.exe").string()});
    EXPECT_EQ(run.code, length == 5999 ? 0 : 2) << length;
    if (length == 6000)
      EXPECT_EQ(run.err,
                "shipkit-pack: manifest: download.url: 6000 bytes, more than the launcher reads (5999)\n");
  }
}

// "download" writes entries 150 and 170 (a given digest in lower case, a local source hashed),
// `build` warns about a location anyone on the path can answer, and `inspect` shows both.
TEST(PackManifest, DownloadFieldWritesTheLocationAndItsDigest) {
  const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  const std::string warning =
      " is not https:// and has no SHA-256: anyone on the network path can replace the runtime the installer "
      "runs; give \"sha256\" or \"source\" in \"download\"\n";
  struct Case {
    std::string manifest;
    std::string location, digest;  // entries 150 and 170 as stored, "-" for absent
    std::string err;               // the build's warnings
    std::string inspected;         // the download lines of `inspect`, empty for none
  };
  const Case cases[] = {
      {R"({"download": {"url": "https://example.com/jre.tar.gz", "sha256": ")" + abc + R"("}})",
       "https://example.com/jre.tar.gz", abc, "",
       "download location: \"https://example.com/jre.tar.gz\"\ndownload sha256: " + abc + "\n"},
      {R"({"download": {"url": "http://example.com/jre.tar.gz", "sha256": "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"}})",
       "http://example.com/jre.tar.gz", abc, "",
       "download location: \"http://example.com/jre.tar.gz\"\ndownload sha256: " + abc + "\n"},
      {R"({"download": {"url": "http://example.com/jre.tar.gz", "source": "local/jre.tar.gz"}})",
       "http://example.com/jre.tar.gz", abc, "",
       "download location: \"http://example.com/jre.tar.gz\"\ndownload sha256: " + abc + "\n"},
      {R"({"download": {"url": "http://example.com/jre.tar.gz"}})", "http://example.com/jre.tar.gz", "-",
       "shipkit-pack: warning: download location \"http://example.com/jre.tar.gz\"" + warning,
       "download location: \"http://example.com/jre.tar.gz\"\ndownload sha256: none (not verified)\n"},
      {R"({"download": {"url": "HTTPS://example.com/jre.tar.gz"}})", "HTTPS://example.com/jre.tar.gz", "-",
       "", "download location: \"HTTPS://example.com/jre.tar.gz\"\ndownload sha256: none (not verified)\n"},
      // The same checks hold for entries given directly.
      {R"({"config": {"150": "ftp://example.com/jre.tar.gz"}})", "ftp://example.com/jre.tar.gz", "-",
       "shipkit-pack: warning: download location \"ftp://example.com/jre.tar.gz\"" + warning,
       "download location: \"ftp://example.com/jre.tar.gz\"\ndownload sha256: none (not verified)\n"},
      {R"({"config": {"150": "https://a", "170": "xyz"}})", "https://a", "xyz",
       "shipkit-pack: warning: config entry 170 is not 64 hex digits: the launcher refuses every download\n",
       "download location: \"https://a\"\ndownload sha256: MALFORMED \"xyz\" (every download fails)\n"},
      {R"({})", "-", "-", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.manifest);
    ScratchDir dir;
    std::filesystem::create_directory(dir / "local");
    writeFile(dir / "local" / "jre.tar.gz", "abc");
    writeFile(dir / "m.json", c.manifest);
    writeFile(dir / "stub.exe", makePe({}));
    std::string out = (dir / "out.exe").string();
    CliRun run = cli({"build", "--stub", (dir / "stub.exe").string(), "--manifest", (dir / "m.json").string(),
                      "--out", out});
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.err, c.err);
    ReadBack back = readInstaller(readFile(out));
    ASSERT_TRUE(back.ok);
    auto entry = [&](int32_t id) { return back.config.count(id) ? back.config.at(id) : std::string("-"); };
    EXPECT_EQ(entry(150), c.location);
    EXPECT_EQ(entry(170), c.digest);
    CliRun inspected = cli({"inspect", out});
    ASSERT_EQ(inspected.code, 0) << inspected.err;
    std::string lines;
    std::istringstream in(inspected.out);
    for (std::string line; std::getline(in, line);)
      if (line.rfind("download ", 0) == 0) lines += line + "\n";
    EXPECT_EQ(lines, c.inspected);
  }
}

TEST(PackManifest, FailureWhileWritingRemovesThePartialOutput) {
  ScratchDir dir;
  writeFile(dir / "a.jar", std::string(5000, 'a'));
  Manifest manifest;
  std::string error;
  ASSERT_TRUE(
      parseManifest(R"({"files": [{"name": "a.jar", "source": "a.jar"}]})", dir.path(), manifest, error))
      << error;
  writeFile(dir / "a.jar", "short");  // changes between the check and the copy
  BuildSummary summary;
  EXPECT_FALSE(writeInstaller(makePe({}), manifest.content, dir / "out.exe", summary, error));
  EXPECT_EQ(error, "files[0].source: \"" + (dir / "a.jar").string() + "\" shrank while it was being packed");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.jar"}));
}

TEST(PackManifest, AFailedBuildKeepsAnEarlierOutput) {
  ScratchDir dir;
  writeFile(dir / "out.exe", "previous");
  Built built = buildWith(dir, R"({"files": [{"name": "a", "source": "missing"}]})");
  EXPECT_FALSE(built.ok);
  EXPECT_EQ(readFile(dir / "out.exe"), "previous");
}

TEST(PackManifest, StubComesFromTheOptionOrTheManifestDirectory) {
  ScratchDir dir;
  std::filesystem::create_directories(dir / "m" / "stubs");
  PeShape other;
  other.sections = {{".text", 0x200, 0x80}};
  writeFile(dir / "m" / "stubs" / "launcher.exe", makePe({}));
  writeFile(dir / "other.exe", makePe(other));
  writeFile(dir / "m" / "m.json", R"({"stub": "stubs/launcher.exe"})");
  writeFile(dir / "m" / "missing.json", R"({"stub": "stubs/missing.exe"})");
  writeFile(dir / "m" / "none.json", R"({})");
  std::string m = (dir / "m").string() + "/", out = (dir / "out.exe").string();

  struct Case {
    std::vector<std::string> args;
    int code;
    std::string err;
    uint64_t containerStart;
  };
  const Case cases[] = {
      {{"--manifest", m + "m.json"}, 0, "", 0x600},  // relative to the manifest, not the cwd
      {{"--manifest", m + "missing.json", "--stub", (dir / "other.exe").string()}, 0, "", 0x280},
      {{"--stub=" + (dir / "other.exe").string(), "--manifest=" + m + "m.json"}, 0, "", 0x280},
      {{"--manifest", m + "missing.json"},
       2,
       "shipkit-pack: stub: cannot read \"" + m + "stubs/missing.exe\": No such file or directory\n",
       0},
      {{"--manifest", m + "none.json"},
       2,
       "shipkit-pack: no stub: give --stub or the manifest key \"stub\"\n",
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    std::filesystem::remove(out);
    std::vector<std::string> args{"build", "--out", out};
    args.insert(args.end(), c.args.begin(), c.args.end());
    CliRun run = cli(args);
    EXPECT_EQ(run.code, c.code);
    EXPECT_EQ(run.err, c.err);
    if (c.code == 0) {
      std::string bytes = readFile(out);
      EXPECT_EQ(readInstaller(bytes).pe.containerStart(), c.containerStart);
      EXPECT_EQ(run.out, "wrote " + out + " (" + std::to_string(bytes.size()) + " bytes, container at " +
                             std::to_string(c.containerStart) + ")\nfilled in 29 default messages and their " +
                             "German texts for \"de\"\n");
    } else {
      EXPECT_FALSE(std::filesystem::exists(out));
    }
  }
}

TEST(PackManifest, CommandLineMisuseExitsWithTwo) {
  const std::vector<std::string> cases[] = {
      {},
      {"frobnicate"},
      {"build", "--manifest", "m.json"},
      {"build", "--out"},
      {"build", "--manifest", "m.json", "--out", "o.exe", "--bogus", "x"},
      {"inspect"},
      {"inspect", "a.exe", "b.exe"},
  };
  for (const auto& args : cases) {
    CliRun run = cli(args);
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find("usage: shipkit-pack build"), std::string::npos);
  }
}

}  // namespace
}  // namespace shipkit::pack::test
