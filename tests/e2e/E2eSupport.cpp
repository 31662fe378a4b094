#include "E2eSupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "pack/Packer.h"

namespace e2e {

fs::path repoRoot() {
  return fs::path(SHIPKIT_ROOT);
}
fs::path outDir() {
  return fs::path(SHIPKIT_OUT_DIR);
}

std::string winPath(const fs::path& path) {
  std::string p = fs::absolute(path).lexically_normal().string();
  std::replace(p.begin(), p.end(), '/', '\\');
  return "Z:" + p;
}

Sandbox::Sandbox() {
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  std::replace(name.begin(), name.end(), '/', '_');
  // A test that makes one sandbox per row gets a directory per row: under Wine a launcher
  // rebuilt at the path of one that has just ended was once refused a start (envrun: cannot
  // start), and once a row's run behaved as with the row before's configuration.
  static std::map<std::string, int> made;
  if (int n = ++made[name]; n > 1) name += "." + std::to_string(n);
  dir_ = outDir().parent_path() / "e2e" / (outDir().filename().string() + "." + name);
  fs::remove_all(dir_);
  fs::create_directories(dir_);
  temp_ = dir_ / "temp";
  fs::create_directories(temp_);
}

json Sandbox::baseManifest() {
  return json{
      {"checksum", true},
      {"config", {{"107", "0"}, {"2001", "i"}}},
      {"messages",
       {{"1000", "Error"},
        {"1005", "The JVM could not be started."},
        {"1009", "An internal error occurred (error code: {0})"},
        {"1015", "You must be at least Poweruser to run this program."},
        {"1016", "No Java runtime ({0}-bit) found."},
        {"20003", "Error downloading the Java(TM) Runtime Environment."},
        {"20007", "Preparing the installer"},
        {"20012", "Cancel"},
        {"20013", "shipkit Wizard"},
        {"20016", "The installation file is corrupted. If it is a download please try it again."},
        {"20018", "Not Enough Disk Space"}}},
  };
}

fs::path Sandbox::build(const json& manifest, const std::string& name) {
  fs::path manifestFile = dir_ / (name + ".json");
  // The tests name every text they look for; the packer's default texts only where asked for.
  json written = manifest;
  if (!written.contains("defaultMessages")) written["defaultMessages"] = false;
  std::ofstream(manifestFile) << written.dump(2);
  shipkit::pack::BuildOptions options;
  options.manifest = manifestFile;
  options.stub = outDir() / "launcher.exe";
  options.out = dir_ / name;
  shipkit::pack::BuildSummary summary;
  std::string error;
  EXPECT_TRUE(shipkit::pack::buildInstaller(options, summary, error)) << error;
  return options.out;
}

RunResult Sandbox::run(const fs::path& exe, const std::string& arguments, const RunOptions& options) {
  std::string line = "\"" + winPath(exe) + "\"";
  if (!arguments.empty()) line += " " + arguments;
  return runCommandLine(line, options);
}

RunResult Sandbox::runCommandLine(const std::string& commandLine, const RunOptions& options) {
  int n = ++runs_;
  fs::path script = dir_ / ("run" + std::to_string(n) + ".txt");
  fs::path dialogs = dir_ / ("dialogs" + std::to_string(n) + ".txt");
  fs::path out = dir_ / ("stdout" + std::to_string(n) + ".txt");
  fs::path err = dir_ / ("stderr" + std::to_string(n) + ".txt");
  fs::remove(dialogs);
  {
    std::ofstream s(script, std::ios::binary);
    s << "set TEMP=" << winPath(temp_) << "\n";
    s << "set TMP=" << winPath(temp_) << "\n";
    s << "unset SHIPKIT_LOG\nunset JARWRAP_LOG\n";
    for (const auto& name : options.unset) s << "unset " << name << "\n";
    for (const auto& [name, value] : options.env) s << "set " << name << "=" << value << "\n";
    if (options.cwd) s << "cwd " << winPath(*options.cwd) << "\n";
    s << "dialogs " << winPath(dialogs) << "\n";
    s << "answer " << options.answer << "\n";
    for (const auto& reply : options.replies) s << "reply " << reply << "\n";
    for (const auto& l : options.runner) s << l << "\n";
    s << "cmd " << commandLine << "\n";
  }
  std::string command;
  if (!options.lang.empty()) command += "LANG=" + options.lang + " LC_ALL=" + options.lang + " ";
  command += "'" + (repoRoot() / "scripts" / "wine-run").string() + "' '" +
             (outDir() / "testing" / "envrun.exe").string() + "' '" + winPath(script) + "' </dev/null >'" +
             out.string() + "' 2>'" + err.string() + "'";
  int status = std::system(command.c_str());
  RunResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  auto strip = [](std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
    return s;
  };
  result.out = strip(readFile(out));
  result.err = strip(readFile(err));
  std::istringstream d(readFile(dialogs));
  for (std::string l; std::getline(d, l);) result.dialogs.push_back(l);
  return result;
}

std::vector<fs::path> Sandbox::logs() const {
  std::vector<std::pair<int, fs::path>> found;
  for (const auto& entry : fs::directory_iterator(temp_)) {
    std::string name = entry.path().filename().string();
    if (name.rfind("skt_nlog_", 0) == 0 && name.size() > 13 && name.substr(name.size() - 4) == ".log")
      found.emplace_back(std::atoi(name.c_str() + 9), entry.path());
  }
  std::sort(found.begin(), found.end());
  std::vector<fs::path> paths;
  for (auto& f : found) paths.push_back(f.second);
  return paths;
}

std::string Sandbox::readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Sandbox::logLines(const fs::path& log) {
  std::string text = readFile(log);
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (line.size() > 1 && line[0] == '[') {
      std::size_t close = line.find("] ");
      if (close != std::string::npos && line.find_first_not_of("0123456789:", 1) == close)
        line = line.substr(close + 2);
    }
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

std::vector<std::string> Sandbox::lastLogLines() const {
  std::vector<fs::path> all = logs();
  return all.empty() ? std::vector<std::string>{} : logLines(all.back());
}

std::vector<fs::path> extractionDirs(const fs::path& root) {
  std::vector<fs::path> dirs;
  if (!fs::exists(root)) return dirs;
  for (const auto& e : fs::directory_iterator(root))
    if (e.is_directory() && e.path().filename().string().find(".tmp_dir") != std::string::npos)
      dirs.push_back(e.path());
  return dirs;
}

void sh(const std::string& command) {
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

fs::path makeFakeRuntime(const fs::path& dir, const std::string& version,
                         const std::vector<std::string>& jvmDirs) {
  fs::create_directories(dir / "bin");
  for (const char* exe : {"java.exe", "javaw.exe"}) {
    fs::copy_file(outDir() / "testing" / "fakejava" / "java.exe", dir / "bin" / exe,
                  fs::copy_options::overwrite_existing);
    std::ofstream(dir / "bin" / (std::string(exe) + ".behaviour"))
        << "stderr java version \"" << version << "\"\n";
  }
  for (const auto& sub : jvmDirs) {
    fs::create_directories(dir / sub);
    fs::copy_file(outDir() / "testing" / "jre" / "bin" / "server" / "jvm.dll", dir / sub / "jvm.dll",
                  fs::copy_options::overwrite_existing);
  }
  return dir;
}

json reportOf(const fs::path& file) {
  std::string text = Sandbox::readFile(file);
  return text.empty() ? json() : json::parse(text, nullptr, false);
}

std::string lower(std::string text) {
  for (auto& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return text;
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

int indexOf(const std::vector<std::string>& lines, const std::string& line, int from) {
  for (int i = std::max(0, from); i < int(lines.size()); ++i)
    if (lines[i] == line) return i;
  return -1;
}

ToolResult runWineTool(const std::string& arguments) {
  const std::string command =
      "'" + (repoRoot() / "scripts" / "wine-run").string() + "' " + arguments + " 2>/dev/null </dev/null";
  ToolResult r;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  const int status = ::pclose(p);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out.erase(std::remove(r.out.begin(), r.out.end(), '\r'), r.out.end());
  return r;
}

std::string inspectedValue(const fs::path& installer, const std::string& key) {
  std::string command = "'" + (outDir() / "shipkit-pack").string() + "' inspect '" + installer.string() + "'";
  FILE* p = ::popen(command.c_str(), "r");
  std::string value;
  char line[4096];
  while (p && std::fgets(line, sizeof line, p)) {
    std::string l(line);
    if (l.rfind(key + ": ", 0) == 0)
      value = l.substr(key.size() + 2, l.find_last_not_of("\r\n") - key.size() - 1);
  }
  if (p) ::pclose(p);
  return value;
}

JavaSideLaunch::JavaSideLaunch() : report_(box_.dir() / "report.json") {
  manifest_["config"]["122"] = "com.example.Main";
  manifest_["config"]["128"] = "ESKT_TEST_JRE;";
  runtime_ = makeFakeRuntime(box_.dir() / "rt");
}

RunResult JavaSideLaunch::run(const json& scenario) {
  const fs::path file = box_.dir() / "scenario.json";
  std::ofstream(file) << scenario.dump();
  RunOptions options;
  options.env = {{"SHIPKIT_LOG", "yes"},
                 {"FAKEJVM_REPORT", winPath(report_)},
                 {"FAKEJVM_SCENARIO", winPath(file)},
                 {"SKT_TEST_JRE", winPath(runtime_)}};
  return box_.run(box_.build(manifest_), "-q", options);
}

json JavaSideLaunch::call(const std::string& target, const json& args, const char* save) {
  json step = {{"call", target}, {"args", args}};
  if (save) step["save"] = save;
  return step;
}

std::string hexOf(const std::string& bytes) {
  std::string out;
  char buf[3];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof buf, "%02x", c);
    out += buf;
  }
  return out;
}

}  // namespace e2e
