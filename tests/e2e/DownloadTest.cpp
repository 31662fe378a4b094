// The runtime download end to end under Wine: the launcher fetches "jre.tar.gz" (made by GNU
// tar from the fake runtime) from a real HTTP server on 127.0.0.1, unpacks it and starts the
// fake JVM; failing answers, and archives whose SHA-256 is not the pinned one, are retried and
// end with message 20003.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "E2eSupport.h"
#include "HttpServer.h"

using namespace e2e;

namespace {

const char kDownloadError[] =
    "Error downloading the Java(TM) Runtime Environment.\nPlease check your internet connection and start "
    "setup again.";
const char kCorrupt[] =
    "The bundled JRE is corrupted. If you downloaded the setup file please download it again.";

// A loadable fake runtime as GNU tar packs it.
void makeRuntimeArchive(const fs::path& work, const fs::path& archive) {
  fs::path tree = work / "tree";
  makeFakeRuntime(tree);
  sh("tar -C '" + tree.string() + "' --sort=name -czf '" + archive.string() + "' .");
}

// The SHA-256 of a file as coreutils computes it, in lower case.
std::string sha256sum(const fs::path& file) {
  std::string out;
  if (FILE* p = ::popen(("sha256sum '" + file.string() + "'").c_str(), "r")) {
    char buf[128];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out.substr(0, out.find(' '));
}

const char kNotVerified[] = "Download not verified: no SHA-256 of the runtime archive is configured";
// The SHA-256 of an empty file: a well-formed digest of something else than the runtime.
const char kOtherDigest[] = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

int countOf(const std::vector<std::string>& lines, const std::string& prefix) {
  int n = 0;
  for (const auto& l : lines) n += l.rfind(prefix, 0) == 0;
  return n;
}

struct Download {
  Sandbox box;
  fs::path served = box.dir() / "served";
  fs::path report = box.dir() / "report.json";
  json manifest = Sandbox::baseManifest();
  std::optional<HttpServer> server;

  Download() {
    fs::create_directories(served);
    makeRuntimeArchive(box.dir(), served / "jre.tar.gz");
    server.emplace(served);
    manifest["config"]["122"] = "com.example.Main";
    manifest["config"]["157"] = "1";
    manifest["messages"]["20003"] = kDownloadError;
    manifest["messages"]["20002"] = "Cannot initialize wininet.dll.";
  }
  // Quiet, the search skipped by the manual switch; waits shortened, counts as shipped.
  RunResult run(const std::string& location, const std::string& arguments = "-q -manual") {
    return box.run(build(location), arguments, options());
  }
  std::vector<std::string> log() const { return box.lastLogLines(); }
  // The installer with the download location of entry 150.
  fs::path build(const std::string& location) {
    manifest["config"]["150"] = location;
    return box.build(manifest);
  }
  // Log kept, fake JVM report, waits shortened, no proxy from the environment.
  RunOptions options() const {
    RunOptions o;
    o.env["SHIPKIT_LOG"] = "yes";
    o.env["FAKEJVM_REPORT"] = winPath(report);
    o.env["SHIPKIT_DOWNLOAD_POLICY"] = "3,0,20,0";
    o.unset = {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"};
    return o;
  }
};

}  // namespace

// Without a digest the runtime is used as fetched, with one line saying so; with the
// archive's digest (in either case) it is used once the digest is checked.
TEST(RuntimeDownload, FetchedUnpackedLoadedAndTheArchiveGone) {
  struct Row {
    const char* name;
    bool pinned;
    bool upperCase;
  } rows[] = {{"no digest", false, false}, {"digest in upper case", true, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Download d;
    ASSERT_GT(d.server->port(), 0);
    const std::string digest = sha256sum(d.served / "jre.tar.gz");
    ASSERT_EQ(digest.size(), 64u);
    if (row.pinned) {
      std::string pin = digest;
      if (row.upperCase) std::transform(pin.begin(), pin.end(), pin.begin(), ::toupper);
      d.manifest["config"]["170"] = pin;
    }
    RunResult r = d.run(d.server->url("good"));
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
    EXPECT_NE(r.out.find("No JRE found. Trying to download.\n"), std::string::npos) << r.out;
    auto lines = d.log();
    int start = indexOf(lines, "Downloading JRE");
    ASSERT_GE(start, 0) << testing::PrintToString(lines);
    EXPECT_EQ(indexOf(lines, "Download location: " + d.server->url("good")), start - 1);
    int done = indexOf(lines, "download successful", start);
    const std::string verified = "SHA-256 of jre.tar.gz verified: " + digest;
    EXPECT_EQ(countOf(lines, kNotVerified), row.pinned ? 0 : 1) << testing::PrintToString(lines);
    EXPECT_EQ(countOf(lines, verified), row.pinned ? 1 : 0) << testing::PrintToString(lines);
    EXPECT_EQ(indexOf(lines, "Done", done), done + (row.pinned ? 2 : 1));
    EXPECT_GT(indexOf(lines, "untaring JRE was successful", done), done);
    EXPECT_TRUE(contains(lines, "Loading of JVM-DLL successful"));
    EXPECT_EQ(countOf(lines, "ERROR:"), 0) << testing::PrintToString(lines);
    auto requests = d.server->requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], "/good/jre.tar.gz|shipkit download agent");
    std::string report = Sandbox::readFile(d.report);
    EXPECT_NE(report.find("com/shipkit/runtime/launcher/WinLauncher"), std::string::npos) << report;
    for (const auto& dir : extractionDirs(d.box.temp())) EXPECT_FALSE(fs::exists(dir / "jre.tar.gz"));
  }
}

TEST(RuntimeDownload, ACutTransferIsDeletedAndFetchedAgain) {
  Download d;
  RunResult r = d.run(d.server->url("cutonce"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto lines = d.log();
  EXPECT_EQ(countOf(lines, "ERROR: Retry JRE download"), 1) << testing::PrintToString(lines);
  EXPECT_EQ(countOf(lines, "download successful"), 1);
  EXPECT_EQ(d.server->requests().size(), 2u);
  EXPECT_TRUE(contains(lines, "Loading of JVM-DLL successful"));
}

// Every attempt fails the same way: three attempts, then message 20003 (never the
// damaged-runtime text).
struct FailingCase {
  const char* name;
  std::string mode;            // server mode, or "refused" for a port nobody listens on
  std::string perAttemptLine;  // logged once per attempt (prefix; "{served}" is the archive's digest)
  int perAttempt;              // how often per attempt
  std::size_t requestsPerAttempt;
  std::string digest = "";   // configuration entry 170
  bool transferred = false;  // each attempt's transfer completes (and is then refused)
};

void PrintTo(const FailingCase& c, std::ostream* os) {
  *os << c.name;
}

class FailedAttempts : public testing::TestWithParam<FailingCase> {};

TEST_P(FailedAttempts, ThreeAttemptsThenTheDownloadError) {
  const FailingCase& c = GetParam();
  Download d;
  std::string url = c.mode == "refused" ? "http://127.0.0.1:1/good/jre.tar.gz" : d.server->url(c.mode);
  if (!c.digest.empty()) d.manifest["config"]["170"] = c.digest;
  std::string perAttemptLine = c.perAttemptLine;
  if (auto at = perAttemptLine.find("{served}"); at != std::string::npos)
    perAttemptLine.replace(at, 8, sha256sum(d.served / "jre.tar.gz"));
  RunResult r = d.run(url);
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find(kDownloadError), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(kCorrupt), std::string::npos) << r.err;
  auto lines = d.log();
  EXPECT_EQ(countOf(lines, "ERROR: Retry JRE download"), 3) << testing::PrintToString(lines);
  EXPECT_EQ(countOf(lines, perAttemptLine), 3 * c.perAttempt) << testing::PrintToString(lines);
  EXPECT_EQ(countOf(lines, "download successful"), c.transferred ? 3 : 0);
  EXPECT_EQ(countOf(lines, kNotVerified), c.digest.empty() ? 1 : 0) << "once per download, not per attempt";
  EXPECT_EQ(d.server->requests().size(), 3 * c.requestsPerAttempt);
  for (const auto& dir : extractionDirs(d.box.temp())) EXPECT_FALSE(fs::exists(dir / "jre.tar.gz"));
}

INSTANTIATE_TEST_SUITE_P(
    RuntimeDownload, FailedAttempts,
    testing::Values(
        FailingCase{"NoContentLength", "nolength", "ERROR: HttpQueryInfo (try ", 20, 21},
        FailingCase{"NotFound", "404", "ERROR: Server answered with HTTP status 404", 1, 1},
        FailingCase{"ServerError", "500", "ERROR: Server answered with HTTP status 500", 1, 1},
        FailingCase{"RefusedPort", "refused", "ERROR: InternetOpenUrl failed with error code ", 1, 0},
        FailingCase{"DigestMismatch", "good",
                    std::string("ERROR: SHA-256 of jre.tar.gz is {served}, expected ") + kOtherDigest, 1, 1,
                    kOtherDigest, true},
        FailingCase{"DigestMalformed", "good",
                    "ERROR: The configured SHA-256 of the runtime archive is not 64 hex digits: the "
                    "download is refused",
                    1, 1, std::string(kOtherDigest) + "0", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RuntimeDownload, NoContentLengthGivesUpAfterTheLastQuery) {
  Download d;
  d.run(d.server->url("nolength"));
  auto lines = d.log();
  int last = indexOf(lines, "ERROR: HttpQueryInfo (try 20) failed with error code 12150");
  ASSERT_GE(last, 0) << testing::PrintToString(lines);
  EXPECT_EQ(lines[last + 1], "ERROR: Giving up");
  EXPECT_EQ(countOf(lines, "ERROR: Giving up"), 3);
}

TEST(RuntimeDownload, AnEmptyBodyIsSavedAndThenFoundCorrupt) {
  Download d;
  RunResult r = d.run(d.server->url("empty"));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find(kCorrupt), std::string::npos) << r.err;
  auto lines = d.log();
  EXPECT_EQ(countOf(lines, "file size: 0, handle "), 1) << testing::PrintToString(lines);
  EXPECT_EQ(countOf(lines, "download successful"), 1);
}

TEST(RuntimeDownload, QuietWithoutDownloadPermissionAborts) {
  Download d;
  d.manifest["config"]["157"] = "0";
  RunResult r = d.run(d.server->url("good"));
  EXPECT_EQ(r.exitCode, 83);
  EXPECT_NE(r.out.find("No JRE found. Aborting.\n"), std::string::npos) << r.out;
  EXPECT_TRUE(d.server->requests().empty());
}

// The selection dialog, driven by the environment runner's replies: its text, Download,
// Locate with the open-file dialog, and Cancel.
namespace {

const char kOffered[] = "Download a 64-bit Java runtime or locate one.";
const char kNotOffered[] = "Locate a 64-bit Java runtime.";

struct Selection : Download {
  Selection() {
    manifest["config"]["157"] = "0";
    manifest["messages"]["20004"] = "Choose java.exe";
    manifest["messages"]["20005"] = "Download a %S-bit Java runtime or locate one.";
    manifest["messages"]["20006"] = "Locate a %S-bit Java runtime.";
    manifest["messages"]["20010"] = "Download";
    manifest["messages"]["20011"] = "Locate";
    manifest["messages"]["20019"] = "minimum version:";
    manifest["messages"]["20020"] = "maximum version:";
  }
  // With the progress dialog; the search skipped by the manual switch.
  RunResult run(const std::string& location, std::vector<std::string> replies,
                const std::string& arguments = "-manual") {
    RunOptions o = options();
    o.replies = std::move(replies);
    // The Java side ends the process, as the installer does; the progress dialog stays until then.
    std::ofstream(box.dir() / "scenario.json") << R"({"main": [{"exit": 0}]})";
    o.env["FAKEJVM_SCENARIO"] = winPath(box.dir() / "scenario.json");
    return box.run(build(location), arguments, o);
  }
  bool mainCalled() const {
    return Sandbox::readFile(report).find("com/shipkit/runtime/launcher/WinLauncher") != std::string::npos;
  }
};

const char kLocated[] = "HKLM\\SOFTWARE\\larkfield\\jarwrap\\locatedjvms";

std::string regQuery() {
  std::string out;
  std::string cmd = "'" + (repoRoot() / "scripts" / "wine-run").string() + "' reg query '" + kLocated +
                    "' /s 2>/dev/null </dev/null";
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

void regDelete(const std::string& javaExe) {
  std::string key = javaExe;
  std::replace(key.begin(), key.end(), '\\', '/');
  std::system(("'" + (repoRoot() / "scripts" / "wine-run").string() + "' reg delete '" + kLocated + "\\" +
               key + "' /f >/dev/null 2>&1 </dev/null")
                  .c_str());
}

}  // namespace

TEST(SelectionDialog, TextFollowsTheLocationAndTheBounds) {
  struct Row {
    bool offered;
    const char* minimum;
    const char* maximum;
    std::string text;
  } rows[] = {
      {true, "", "", kOffered},
      {false, "", "", kNotOffered},
      {true, "1.8", "17", std::string(kOffered) + " (minimum version: 1.8, maximum version: 17)"},
      {false, "", "21", std::string(kNotOffered) + " (maximum version: 21)"},
  };
  for (const auto& row : rows) {
    Selection s;
    s.manifest["config"]["126"] = row.minimum;
    s.manifest["config"]["127"] = row.maximum;
    RunResult r = s.run(row.offered ? s.server->url("good") : "", {"shipkit Wizard|cancel"});
    EXPECT_EQ(r.exitCode, 1) << row.text << r.err;
    ASSERT_EQ(r.dialogs.size(), 1u) << row.text;
    EXPECT_EQ(r.dialogs[0], "shipkit Wizard|" + row.text);
    EXPECT_TRUE(s.server->requests().empty());
    EXPECT_FALSE(s.mainCalled());
    EXPECT_TRUE(extractionDirs(s.box.temp()).empty()) << "Cancel removes the extraction directory";
  }
}

TEST(SelectionDialog, DownloadStartsTheTransfer) {
  Selection s;
  RunResult r = s.run(s.server->url("slow"), {"shipkit Wizard|1004"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(r.dialogs.size(), 1u);
  EXPECT_EQ(r.dialogs[0], std::string("shipkit Wizard|") + kOffered);
  EXPECT_EQ(s.server->requests().size(), 1u);
  EXPECT_TRUE(contains(s.log(), "download successful"));
  EXPECT_TRUE(s.mainCalled());
}

TEST(SelectionDialog, ManualSwitchIgnoresAShippedArchiveAndAsks) {
  Selection s;
  s.manifest["files"] =
      json::array({{{"name", "jre.tar.gz"}, {"source", (s.served / "jre.tar.gz").string()}}});
  RunResult r = s.run("", {"shipkit Wizard|cancel"}, "/manual");
  EXPECT_EQ(r.exitCode, 1);
  ASSERT_EQ(r.dialogs.size(), 1u);
  EXPECT_EQ(r.dialogs[0], std::string("shipkit Wizard|") + kNotOffered);
  EXPECT_TRUE(contains(s.log(), "Included JRE not used because of manual switch"));
  EXPECT_FALSE(s.mainCalled());
}

TEST(SelectionDialog, LocateLoadsAGoodJavaExeAndRecordsIt) {
  Selection s;
  std::string javaExe = winPath(s.box.dir() / "tree" / "bin" / "java.exe");
  regDelete(javaExe);
  RunResult r = s.run("", {"shipkit Wizard|1005", "Choose java.exe|file:" + javaExe});
  std::string located = regQuery();
  regDelete(javaExe);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(r.dialogs.size(), 2u) << testing::PrintToString(r.dialogs);
  EXPECT_EQ(r.dialogs[1].rfind("Choose java.exe", 0), 0u) << r.dialogs[1];
  auto lines = s.log();
  EXPECT_TRUE(contains(lines, "Got JRE location " + javaExe + " (java exe: 1)"))
      << testing::PrintToString(lines);
  EXPECT_TRUE(s.mainCalled());
  std::string key = javaExe;
  std::replace(key.begin(), key.end(), '\\', '/');
  EXPECT_NE(located.find(key), std::string::npos) << located;
}

TEST(SelectionDialog, AnUnusableJavaExeLeavesTheDialogOpenAndRecordsNothing) {
  Selection s;
  fs::path bad = s.box.dir() / "bad" / "bin";
  fs::create_directories(bad);
  fs::copy_file(outDir() / "testing" / "fakejava" / "java.exe", bad / "java.exe");
  std::ofstream(bad / "java.exe.behaviour") << "exit 1\n";
  std::string javaExe = winPath(bad / "java.exe");
  regDelete(javaExe);
  RunResult r =
      s.run("", {"shipkit Wizard|1005", "Choose java.exe|file:" + javaExe, "shipkit Wizard|cancel"});
  std::string located = regQuery();
  EXPECT_EQ(r.exitCode, 1) << r.err;
  ASSERT_EQ(r.dialogs.size(), 3u) << testing::PrintToString(r.dialogs);
  EXPECT_EQ(r.dialogs[2], std::string("shipkit Wizard|") + kNotOffered) << "the same dialog, still open";
  EXPECT_TRUE(contains(s.log(), "ERROR: Provided JVM unusable")) << testing::PrintToString(s.log());
  std::string key = javaExe;
  std::replace(key.begin(), key.end(), '\\', '/');
  EXPECT_EQ(located.find(key), std::string::npos) << located;
  EXPECT_FALSE(s.mainCalled());
}

TEST(SelectionDialog, ADialogOpenedOnlyForTheDownloadEndsWhenItIsDone) {
  // Entry 155: the run starts without the progress dialog and opens one only to provision.
  Selection s;
  s.manifest["config"]["155"] = "1";
  RunResult r = s.run(s.server->url("good"), {"shipkit Wizard|1004"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(r.dialogs.size(), 1u);
  EXPECT_EQ(r.dialogs[0], std::string("shipkit Wizard|") + kOffered);
  auto lines = s.log();
  int done = indexOf(lines, "Done");
  ASSERT_GE(done, 0) << testing::PrintToString(lines);
  EXPECT_GT(indexOf(lines, "untaring JRE was successful", done), done);
  EXPECT_TRUE(s.mainCalled());
}
