// Finding a runtime, loading its jvm.dll and starting the Java side, end to end under Wine
// with the fake java.exe and the fake jvm.dll laid out as runtime directories.
#include <gtest/gtest.h>

#include <fstream>

#include "E2eSupport.h"

using namespace e2e;

namespace {

// A runtime directory: bin\java.exe (the fake, answering `version`) and the fake jvm.dll in
// the given subdirectories of bin.
fs::path makeRuntime(const fs::path& dir, const std::string& version, std::vector<std::string> jvmDirs = {"bin/server"}) {
  fs::create_directories(dir / "bin");
  fs::copy_file(outDir() / "testing" / "fakejava" / "java.exe", dir / "bin" / "java.exe",
                fs::copy_options::overwrite_existing);
  std::ofstream(dir / "bin" / "java.exe.behaviour") << "stderr java version \"" << version << "\"\n";
  for (const auto& sub : jvmDirs) {
    fs::create_directories(dir / sub);
    fs::copy_file(outDir() / "testing" / "jre" / "bin" / "server" / "jvm.dll", dir / sub / "jvm.dll",
                  fs::copy_options::overwrite_existing);
  }
  return dir;
}

json reportOf(const fs::path& file) {
  std::string text = Sandbox::readFile(file);
  if (text.empty()) return json();
  return json::parse(text, nullptr, false);
}

}  // namespace

TEST(JvmLaunch, EnvironmentRuntimeStartsAndMainRuns) {
  Sandbox box;
  fs::path rt = makeRuntime(box.dir() / "rt", "11.0.2");
  json m = Sandbox::baseManifest();
  m["config"]["128"] = "ESKT_TEST_JRE;";
  m["config"]["122"] = "com.example.Main";
  fs::path report = box.dir() / "report.json";
  RunResult r = box.run(box.build(m), "-q arg1",
                        {.env = {{"SHIPKIT_LOG", "yes"}, {"SKT_TEST_JRE", winPath(rt)}, {"FAKEJVM_REPORT", winPath(report)}}});
  auto lines = box.logs().empty() ? std::vector<std::string>{} : Sandbox::logLines(box.logs()[0]);
  EXPECT_EQ(r.exitCode, 0) << r.err << testing::PrintToString(lines);
  json rep = reportOf(report);
  ASSERT_TRUE(rep.is_object()) << Sandbox::readFile(report);
  std::cerr << rep.dump(2) << "\n";
}
