// The runtime download end to end under Wine: the launcher fetches "jre.tar.gz" (made by GNU
// tar from the fake runtime) from a real HTTP server on 127.0.0.1, unpacks it and starts the
// fake JVM; failing answers are retried and end with message 20003.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "E2eSupport.h"

using namespace e2e;

namespace {

const char kDownloadError[] =
    "Error downloading the Java(TM) Runtime Environment.\nPlease check your internet connection and start "
    "setup again.";
const char kCorrupt[] =
    "The bundled JRE is corrupted. If you downloaded the setup file please download it again.";

void sh(const std::string& command) {
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// testing/httpserve.py serving `dir`/jre.tar.gz; ended with the test.
class HttpServer {
 public:
  explicit HttpServer(const fs::path& dir) : dir_(dir) {
    std::string script = (repoRoot() / "testing" / "httpserve.py").string();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::unsetenv("http_proxy");
      ::unsetenv("https_proxy");
      ::execlp("python3", "python3", script.c_str(), dir.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 200 && !fs::exists(dir / "port"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    port_ = std::atoi(Sandbox::readFile(dir / "port").c_str());
  }
  ~HttpServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  int port() const { return port_; }
  std::string url(const std::string& mode) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + mode + "/jre.tar.gz";
  }
  // "path|user agent" per request.
  std::vector<std::string> requests() const {
    std::vector<std::string> lines;
    std::istringstream in(Sandbox::readFile(dir_ / "requests"));
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }

 private:
  fs::path dir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// A loadable fake runtime as GNU tar packs it.
void makeRuntimeArchive(const fs::path& work, const fs::path& archive) {
  fs::path tree = work / "tree";
  fs::create_directories(tree / "bin" / "server");
  for (const char* exe : {"java.exe", "javaw.exe"}) {
    fs::copy_file(outDir() / "testing" / "fakejava" / "java.exe", tree / "bin" / exe);
    std::ofstream(tree / "bin" / (std::string(exe) + ".behaviour")) << "stderr java version \"11.0.2\"\n";
  }
  fs::copy_file(outDir() / "testing" / "jre" / "bin" / "server" / "jvm.dll",
                tree / "bin" / "server" / "jvm.dll");
  sh("tar -C '" + tree.string() + "' --sort=name -czf '" + archive.string() + "' .");
}

int countOf(const std::vector<std::string>& lines, const std::string& prefix) {
  int n = 0;
  for (const auto& l : lines) n += l.rfind(prefix, 0) == 0;
  return n;
}

std::vector<fs::path> extractionDirs(const fs::path& root) {
  std::vector<fs::path> dirs;
  for (const auto& e : fs::directory_iterator(root))
    if (e.is_directory() && e.path().filename().string().find(".tmp_dir") != std::string::npos)
      dirs.push_back(e.path());
  return dirs;
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
    manifest["config"]["150"] = location;
    RunOptions options;
    options.env["SHIPKIT_LOG"] = "yes";
    options.env["FAKEJVM_REPORT"] = winPath(report);
    options.env["SHIPKIT_DOWNLOAD_POLICY"] = "3,0,20,0";
    options.unset = {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"};
    return box.run(box.build(manifest), arguments, options);
  }
  std::vector<std::string> log() const {
    return box.logs().empty() ? std::vector<std::string>{} : Sandbox::logLines(box.logs().back());
  }
};

}  // namespace

TEST(RuntimeDownload, FetchedUnpackedLoadedAndTheArchiveGone) {
  Download d;
  ASSERT_GT(d.server->port(), 0);
  RunResult r = d.run(d.server->url("good"));
  ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
  EXPECT_NE(r.out.find("No JRE found. Trying to download.\n"), std::string::npos) << r.out;
  auto lines = d.log();
  int start = indexOf(lines, "Downloading JRE");
  ASSERT_GE(start, 0) << testing::PrintToString(lines);
  EXPECT_EQ(indexOf(lines, "Download location: " + d.server->url("good")), start - 1);
  int done = indexOf(lines, "download successful", start);
  EXPECT_EQ(indexOf(lines, "Done", done), done + 1);
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
  const char* perAttemptLine;  // logged once per attempt (prefix)
  int perAttempt;              // how often per attempt
  std::size_t requestsPerAttempt;
};

void PrintTo(const FailingCase& c, std::ostream* os) {
  *os << c.name;
}

class FailedAttempts : public testing::TestWithParam<FailingCase> {};

TEST_P(FailedAttempts, ThreeAttemptsThenTheDownloadError) {
  const FailingCase& c = GetParam();
  Download d;
  std::string url = c.mode == "refused" ? "http://127.0.0.1:1/good/jre.tar.gz" : d.server->url(c.mode);
  RunResult r = d.run(url);
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find(kDownloadError), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(kCorrupt), std::string::npos) << r.err;
  auto lines = d.log();
  EXPECT_EQ(countOf(lines, "ERROR: Retry JRE download"), 3) << testing::PrintToString(lines);
  EXPECT_EQ(countOf(lines, c.perAttemptLine), 3 * c.perAttempt) << testing::PrintToString(lines);
  EXPECT_EQ(countOf(lines, "download successful"), 0);
  EXPECT_EQ(d.server->requests().size(), 3 * c.requestsPerAttempt);
  for (const auto& dir : extractionDirs(d.box.temp())) EXPECT_FALSE(fs::exists(dir / "jre.tar.gz"));
}

INSTANTIATE_TEST_SUITE_P(
    RuntimeDownload, FailedAttempts,
    testing::Values(FailingCase{"NoContentLength", "nolength", "ERROR: HttpQueryInfo (try ", 20, 21},
                    FailingCase{"NotFound", "404", "ERROR: Server answered with HTTP status 404", 1, 1},
                    FailingCase{"ServerError", "500", "ERROR: Server answered with HTTP status 500", 1, 1},
                    FailingCase{"RefusedPort", "refused", "ERROR: InternetOpenUrl failed with error code ", 1,
                                0}),
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
