// The splash screen's text layout handed to the Java side after the virtual machine is
// created (configuration entry 108), end to end with the fake JVM's report.
#include <gtest/gtest.h>

#include <fstream>

#include "E2eSupport.h"

using namespace e2e;

namespace {

struct SettingsCase {
  const char* name;
  json config;            // configuration entries besides the runtime search
  json scenario;          // the fake Java side
  json expected;          // the report's "splashConfig"
  const char* errorLine;  // in the log, or ""
};

void PrintTo(const SettingsCase& c, std::ostream* os) {
  *os << c.name;
}

const json kAllEntries = {{"108", "1"},
                          {"163", "1"},
                          {"10111", "Installing now"},
                          {"10109", "12"},
                          {"10110", "-34"},
                          {"10114", "255,128,0"},
                          {"10113", "56"},
                          {"10115", "78"},
                          {"10118", "second line"},
                          {"10116", "2147483647"},
                          {"10117", "0"},
                          {"10121", "0,0,0"},
                          {"10120", "9"},
                          {"10122", "10"},
                          {"10112", "Font A"},
                          {"10119", "Font B"}};

class SplashSettings : public testing::TestWithParam<SettingsCase> {};

TEST_P(SplashSettings, ReachTheJavaSideAsFourteenArguments) {
  const SettingsCase& c = GetParam();
  Sandbox box;
  json m = Sandbox::baseManifest();
  m["config"]["122"] = "com.example.Main";
  m["config"]["128"] = "ESKT_TEST_JRE;";
  for (const auto& [id, value] : c.config.items()) m["config"][id] = value;
  fs::path rt = box.dir() / "rt";
  makeFakeRuntime(rt);
  fs::path report = box.dir() / "report.json", scenario = box.dir() / "scenario.json";
  std::ofstream(scenario) << c.scenario.dump();
  RunResult r = box.run(box.build(m), "-q",
                        {.env = {{"SHIPKIT_LOG", "yes"},
                                 {"SKT_TEST_JRE", winPath(rt)},
                                 {"FAKEJVM_REPORT", winPath(report)},
                                 {"FAKEJVM_SCENARIO", winPath(scenario)}}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  json got = json::parse(Sandbox::readFile(report), nullptr, false);
  ASSERT_TRUE(got.is_object());
  EXPECT_EQ(got["splashConfig"], c.expected);
  EXPECT_TRUE(got["mainClass"].is_string()) << "the launch goes on";
  auto lines = Sandbox::logLines(box.logs().back());
  if (*c.errorLine) EXPECT_TRUE(contains(lines, c.errorLine)) << testing::PrintToString(lines);
  EXPECT_TRUE(got["warnings"].empty()) << got["warnings"];
  // The stub carries no splash images: no splash is asked for, so none of its lines appear.
  for (const auto& line : lines) EXPECT_NE(line.rfind("scale factor ", 0), 0u) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplashSettings,
    testing::Values(
        SettingsCase{"EntriesInOrder", kAllEntries, json::object(),
                     json::array({true, true, "Installing now", 12, -34, "255,128,0", 56, 78, "second line",
                                  2147483647, 0, "0,0,0", 9, 10}),
                     ""},
        SettingsCase{"MissingEntriesAreEmptyAndZero",
                     {{"108", "1"}},
                     json::object(),
                     json::array({true, false, "", 0, 0, "", 0, 0, "", 0, 0, "", 0, 0}),
                     ""},
        SettingsCase{
            "Entry108ZeroPassesNothing", {{"108", "0"}, {"10111", "x"}}, json::object(), nullptr, ""},
        SettingsCase{"MissingMethodIsAnErrorLine",
                     kAllEntries,
                     {{"missingMethods", {{"com/jarwrap/runtime/WinLauncher", {"initAwtSplashConfig"}}}}},
                     nullptr,
                     "ERROR: could not find method for splash properties"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
