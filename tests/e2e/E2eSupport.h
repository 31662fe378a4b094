#pragma once
// Support for end-to-end tests: each test gets its own directory with a temporary root for
// the launcher (so its diagnostic log lands there), builds installers with the packer's
// library and runs them under Wine through the environment runner.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;
using nlohmann::json;

fs::path repoRoot();
fs::path outDir();  // build/out
// "Z:\..." for a Linux path (Wine maps Z: to the root).
std::string winPath(const fs::path& path);

struct RunResult {
  int exitCode = -1;
  std::string out;                   // standard output, CR removed
  std::string err;                   // standard error, CR removed
  std::vector<std::string> dialogs;  // "caption|text..." for each dialog box shown
};

struct RunOptions {
  std::map<std::string, std::string> env;  // set inside Windows
  std::vector<std::string> unset;
  std::string answer = "ok";  // how dialogs are closed: ok, yes, no, cancel
  // Answers given in order before that rule: "caption prefix|ok, cancel, id or file:NAME".
  std::vector<std::string> replies;
  std::string lang;  // Linux LANG for Wine (user language)
  std::optional<fs::path> cwd;
  std::vector<std::string> runner;  // further lines for the runner ("progress FILE", "press escape 0")
};

// A per-test sandbox below build/e2e/.
class Sandbox {
 public:
  Sandbox();
  const fs::path& dir() const { return dir_; }
  const fs::path& temp() const { return temp_; }

  // A manifest with the launcher's usual messages and console error reporting (107 = 0).
  static json baseManifest();
  // Builds an installer from a manifest; fails the test on a packer error. Default messages
  // are filled in only when the manifest sets "defaultMessages".
  fs::path build(const json& manifest, const std::string& name = "setup.exe");
  // Runs `exe` with the command-line tail appended after its quoted path.
  RunResult run(const fs::path& exe, const std::string& arguments, const RunOptions& options = {});
  // Runs a raw command line (the program path included, exactly as given).
  RunResult runCommandLine(const std::string& commandLine, const RunOptions& options = {});

  // Log files in the temporary root, by number.
  std::vector<fs::path> logs() const;
  // The lines of a log file without their "[s:ms] " prefixes (CR LF split, BOM dropped).
  static std::vector<std::string> logLines(const fs::path& log);
  static std::string readFile(const fs::path& path);
  // The lines of the newest log, or none.
  std::vector<std::string> lastLogLines() const;

 private:
  fs::path dir_, temp_;
  std::atomic<int> runs_{0};  // runs may overlap (concurrent instances)
};

// The launcher's extraction directories ("*.tmp_dir*") in a temporary root.
std::vector<fs::path> extractionDirs(const fs::path& root);

// Runs a shell command (GNU tar, gzip) and fails the test when it fails.
void sh(const std::string& command);

// A fake Java runtime at `dir`: bin\java.exe and javaw.exe answering `version`, and the fake
// jvm.dll in each of `jvmDirs` (relative to `dir`). Returns `dir`.
fs::path makeFakeRuntime(const fs::path& dir, const std::string& version = "11.0.2",
                         const std::vector<std::string>& jvmDirs = {"bin/server"});

// The fake JVM's report; null when it is missing or not JSON.
json reportOf(const fs::path& file);
// ASCII letters lowered, as the launcher normalises paths.
std::string lower(std::string text);

// Bytes as lower-case hex digits, two a byte.
std::string hexOf(const std::string& bytes);

bool contains(const std::vector<std::string>& lines, const std::string& line);
// Index of the first line equal to `line` at or after `from`, or -1.
int indexOf(const std::vector<std::string>& lines, const std::string& line, int from = 0);

// A Windows program run under the tests' Wine prefix (`arguments` is a shell command tail,
// redirections allowed): its exit code and standard output without CR.
struct ToolResult {
  int exitCode = -1;
  std::string out;
};
ToolResult runWineTool(const std::string& arguments);

// The value of the line "KEY: value" that `shipkit-pack inspect` prints for `installer`, or "".
std::string inspectedValue(const fs::path& installer, const std::string& key);

// An installer whose Java side is the fake JVM playing a scenario: a runtime of test doubles
// in the sandbox that the installer finds through SKT_TEST_JRE, the scenario and the fake
// JVM's report in the sandbox, the diagnostic log kept.
class JavaSideLaunch : public ::testing::Test {
 protected:
  JavaSideLaunch();
  // Writes `scenario`, builds the installer from manifest_ and runs it with -q.
  RunResult run(const json& scenario);
  json report() const { return reportOf(report_); }
  std::vector<std::string> log() const { return box_.lastLogLines(); }
  // A scenario step calling a native; with `save`, its result is kept under that name.
  static json call(const std::string& target, const json& args, const char* save = nullptr);

  Sandbox box_;
  fs::path report_;
  fs::path runtime_;
  json manifest_ = Sandbox::baseManifest();
};

}  // namespace e2e
