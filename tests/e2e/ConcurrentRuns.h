#pragma once
// Installers on the fake runtime whose runs may overlap: each run gets its own scenario and
// report file, and can be started in the background.

#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include "E2eSupport.h"

namespace e2e {

struct Runs {
  Sandbox box;
  json manifest = Sandbox::baseManifest();
  fs::path runtime;
  int count = 0;

  Runs() : runtime(box.dir() / "rt") {
    manifest["config"]["122"] = "com.example.Main";
    manifest["config"]["128"] = "ESKT_TEST_JRE;";
    fs::create_directories(runtime / "bin" / "server");
    for (const char* exe : {"java.exe", "javaw.exe"}) {
      fs::copy_file(outDir() / "testing" / "fakejava" / "java.exe", runtime / "bin" / exe);
      std::ofstream(runtime / "bin" / (std::string(exe) + ".behaviour"))
          << "stderr java version \"11.0.2\"\n";
    }
    fs::copy_file(outDir() / "testing" / "jre" / "bin" / "server" / "jvm.dll",
                  runtime / "bin" / "server" / "jvm.dll");
  }

  struct Started {
    fs::path report;
    std::future<RunResult> result;
  };

  // Starts `commandLine` (the program path included) in the background with its own scenario.
  Started start(const std::string& commandLine, const json& scenario,
                std::map<std::string, std::string> env = {}, std::optional<fs::path> cwd = {}) {
    int n = ++count;
    Started s;
    s.report = box.dir() / ("report" + std::to_string(n) + ".json");
    fs::path scenarioFile = box.dir() / ("scenario" + std::to_string(n) + ".json");
    std::ofstream(scenarioFile) << scenario.dump();
    env["SHIPKIT_LOG"] = "yes";
    env["SKT_TEST_JRE"] = winPath(runtime);
    env["FAKEJVM_REPORT"] = winPath(s.report);
    env["FAKEJVM_SCENARIO"] = winPath(scenarioFile);
    RunOptions options;
    options.env = env;
    options.cwd = cwd;
    s.result = std::async(std::launch::async,
                          [this, commandLine, options] { return box.runCommandLine(commandLine, options); });
    return s;
  }

  static json report(const fs::path& file) {
    std::string text = Sandbox::readFile(file);
    return text.empty() ? json() : json::parse(text, nullptr, false);
  }

  // Polls the report until `ready` holds for it (at most 30 s).
  template <typename Pred>
  static json waitForReport(const fs::path& file, Pred ready) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
      json r = report(file);
      if ((r.is_object() && ready(r)) || std::chrono::steady_clock::now() > end) return r;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  static bool hasEvent(const json& r, const std::string& type) {
    for (const auto& e : r.value("events", json::array()))
      if (e.value("type", "") == type) return true;
    return false;
  }

  static std::string option(const json& r, const std::string& prefix) {
    for (const auto& o : r.value("options", json::array()))
      if (o.get<std::string>().rfind(prefix, 0) == 0) return o.get<std::string>().substr(prefix.size());
    return "<absent>";
  }

  // The log of the run whose lines contain `line`.
  std::vector<std::string> logWith(const std::string& line) const {
    for (const auto& l : box.logs()) {
      auto lines = Sandbox::logLines(l);
      if (contains(lines, line)) return lines;
    }
    return {};
  }
};

// The instance name part of a launcher path: lower case, '\' and ' ' as '_'.
inline std::string sanitizedPath(std::string path) {
  for (auto& c : path) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c == '\\' || c == ' ') c = '_';
  }
  return path;
}

}  // namespace e2e
