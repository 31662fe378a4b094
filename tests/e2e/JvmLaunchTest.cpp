// Finding a runtime, loading its jvm.dll, building the options and starting the Java side,
// end to end under Wine with the fake java.exe and the fake jvm.dll laid out as runtimes.
#include <gtest/gtest.h>

#include <fstream>

#include "E2eSupport.h"

using namespace e2e;

namespace {

// The launcher path as the instance semaphore name carries it.
std::string semaphorePath(const std::string& exe) {
  std::string s = lower(exe);
  for (auto& c : s)
    if (c == '\\' || c == ' ') c = '_';
  return s;
}

std::string optionValue(const json& report, const std::string& prefix) {
  for (const auto& o : report["options"])
    if (o.get<std::string>().rfind(prefix, 0) == 0) return o.get<std::string>().substr(prefix.size());
  return "<absent>";
}

struct Launch {
  Sandbox box;
  fs::path report;
  json manifest = Sandbox::baseManifest();
  Launch() : report(box.dir() / "report.json") { manifest["config"]["122"] = "com.example.Main"; }
  RunResult run(const std::string& arguments, std::map<std::string, std::string> env = {},
                const json& scenario = nullptr, RunOptions options = {}) {
    env["SHIPKIT_LOG"] = "yes";
    env["FAKEJVM_REPORT"] = winPath(report);
    if (!scenario.is_null()) {
      fs::path file = box.dir() / "scenario.json";
      std::ofstream(file) << scenario.dump();
      env["FAKEJVM_SCENARIO"] = winPath(file);
    }
    options.env = env;
    return box.run(box.build(manifest), arguments, options);
  }
  std::vector<std::string> log() const { return box.lastLogLines(); }
};

}  // namespace

TEST(JvmLibrary, SecondSubdirectoryLoadsWithoutAnErrorLine) {
  Launch l;
  fs::path rt = makeFakeRuntime(l.box.dir() / "rt", "11.0.2", {"bin/server"});
  l.manifest["config"]["128"] = "ESKT_TEST_JRE;";
  RunResult r = l.run("-q", {{"SKT_TEST_JRE", winPath(rt)}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  auto lines = l.log();
  std::string bin = lower(winPath(rt)) + "\\bin";
  int client = indexOf(lines, "Trying " + bin + "\\client\\jvm.dll (exists 0)");
  int server = indexOf(lines, "Trying " + bin + "\\server\\jvm.dll (exists 1)");
  EXPECT_GE(client, 0) << testing::PrintToString(lines);
  EXPECT_EQ(server, client + 1) << "no error line for a missing file";
  EXPECT_TRUE(contains(lines, "Loading of JVM-DLL successful"));
  EXPECT_TRUE(reportOf(l.report)["destroyed"].get<bool>());
}

TEST(JvmLibrary, ConfiguredSubdirectoryIsTriedFirst) {
  Launch l;
  fs::path rt = makeFakeRuntime(l.box.dir() / "rt", "11.0.2", {"bin/server", "bin/custom"});
  l.manifest["config"]["128"] = "ESKT_TEST_JRE;";
  l.manifest["config"]["152"] = "custom";
  RunResult r = l.run("-q", {{"SKT_TEST_JRE", winPath(rt)}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  auto lines = l.log();
  std::string bin = lower(winPath(rt)) + "\\bin";
  int custom = indexOf(lines, "Trying " + bin + "\\custom\\jvm.dll (exists 1)");
  EXPECT_GE(custom, 0) << testing::PrintToString(lines);
  EXPECT_EQ(indexOf(lines, "Trying " + bin + "\\client\\jvm.dll (exists 0)"), -1);
}

TEST(JvmLibrary, BinWithoutJvmFallsBackToJreBesideItAndRestoresPath) {
  Launch l;
  fs::path rt = makeFakeRuntime(l.box.dir() / "rt", "11.0.2", {"jre/bin/server"});
  l.manifest["config"]["128"] = "ESKT_TEST_JRE;";
  // An entry outside the ANSI code page must come back byte-exact, not as "?".
  const std::string tools = "Z:\\tools;Z:\\\u4e2d\u6587\u03a9";
  RunResult r = l.run("-q", {{"SKT_TEST_JRE", winPath(rt)}, {"PATH", tools}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  json rep = reportOf(l.report);
  std::string bin = lower(winPath(rt)) + "\\bin";
  // The failed attempt's PATH entry is gone; only the loaded directory was prepended.
  EXPECT_EQ(rep["path"], bin + "\\..\\jre\\bin;" + tools);
  auto lines = l.log();
  EXPECT_TRUE(contains(lines, "Setting PATH " + tools)) << testing::PrintToString(lines);
  EXPECT_TRUE(contains(lines, "Removing DLL directory"));
  EXPECT_TRUE(contains(lines, "Trying " + bin + "\\..\\jre\\bin\\server\\jvm.dll (exists 1)"));
}

TEST(JvmCreation, LauncherPropertiesLeadTheOptionsInOrder) {
  Launch l;
  fs::path rt = makeFakeRuntime(l.box.dir() / "rt", "11.0.2");
  l.manifest["config"]["128"] = "ESKT_TEST_JRE;";
  l.manifest["files"] = json::array({{{"name", "a.jar"}, {"text", "jar"}}});
  l.manifest["trailer"] = {{"text", "rest"}};
  RunResult r = l.run("-q", {{"SKT_TEST_JRE", winPath(rt)}, {"PATH", "Z:\\tools"}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  json rep = reportOf(l.report);
  ASSERT_TRUE(rep.is_object());
  EXPECT_EQ(rep["version"], 0x00010002);
  EXPECT_TRUE(rep["ignoreUnrecognized"].get<bool>());
  const json& o = rep["options"];
  ASSERT_GE(o.size(), 9u);
  std::string exe = winPath(l.box.dir() / "setup.exe");
  std::string temp = optionValue(rep, "-Djarwrap.tempDir=");
  EXPECT_EQ(o[0], "-Djarwrap.semaphoreName=Local\\" + semaphorePath(exe) + "0");
  EXPECT_EQ(o[1], "-Djarwrap.isShipkit=true");
  EXPECT_EQ(o[2], "-Djarwrap.moduleName=" + exe);
  EXPECT_EQ(o[3], "-Dsun.java.command=" + exe);
  EXPECT_EQ(o[4], "-Djarwrap.tempDir=" + temp);
  EXPECT_NE(temp.find(".tmp_dir"), std::string::npos);
  // The position where the Java side's data begins, as the packer reports it.
  const std::string inspect = inspectedValue(l.box.dir() / "setup.exe", "unextracted position");
  EXPECT_EQ(o[5], "-Djarwrap.unextractedPosition=" + inspect);
  EXPECT_EQ(o[6], "-Djava.library.path=" + lower(winPath(rt)) + "\\bin;Z:\\tools");
  EXPECT_EQ(o[7].get<std::string>().rfind("-Djarwrap.consoleCodepage=cp", 0), 0u);
  EXPECT_EQ(o[8], "-Djava.class.path=" + temp + "\\a.jar");
  // The handshake: the deferred-deletion class and the module name get the launcher's path.
  EXPECT_EQ(rep["staticFields"]["com/jarwrap/runtime/util/WinDel.externalExecutable"], exe);
  EXPECT_EQ(rep["systemProperties"]["jarwrap.moduleName"], exe);
  EXPECT_EQ(rep["mainClass"], "com/shipkit/runtime/launcher/WinLauncher");
  EXPECT_TRUE(rep["callsWithPendingException"].empty()) << rep["callsWithPendingException"].dump();
}

TEST(JvmCreation, KindAndConsolePropertiesAreConditional) {
  Launch l;
  fs::path rt = makeFakeRuntime(l.box.dir() / "rt", "11.0.2");
  l.manifest["config"]["128"] = "ESKT_TEST_JRE;";
  l.manifest["config"]["2001"] = "e";
  RunResult r = l.run("-q", {{"SKT_TEST_JRE", winPath(rt)}, {"MANPATH", "x"}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  json rep = reportOf(l.report);
  EXPECT_EQ(optionValue(rep, "-Djarwrap.isShipkit="), "<absent>");
  EXPECT_EQ(optionValue(rep, "-Djarwrap.consoleCodepage="), "<absent>");
  EXPECT_EQ(optionValue(rep, "-Djarwrap.manualJre="), "<absent>");
  EXPECT_EQ(rep["mainClass"], "com/jarwrap/runtime/WinLauncher");
  EXPECT_TRUE(rep["registered"].empty()) << "only launcher kind i registers natives";
}

// The launcher kind is the first character of entry 2001: the shipkit property, the native
// registration, the main class and the runtime module follow it alike.
TEST(JvmCreation, LauncherKindIsTheFirstCharacterOfItsEntry) {
  struct Row {
    std::string entry;
    bool shipkit;
  } rows[] = {{"i", true}, {"ix", true}, {"e", false}, {"xi", false}};
  for (const auto& row : rows) {
    Launch l;
    fs::path rt = makeFakeRuntime(l.box.dir() / "rt", "11.0.2");
    l.manifest["config"]["128"] = "ESKT_TEST_JRE;";
    l.manifest["config"]["2001"] = row.entry;
    l.manifest["config"]["133"] = "1";
    l.manifest["files"] = json::array({{{"name", "a.jar"}, {"text", "jar"}}});
    RunResult r = l.run("-q", {{"SKT_TEST_JRE", winPath(rt)}});
    ASSERT_EQ(r.exitCode, 0) << row.entry << ": " << r.err;
    json rep = reportOf(l.report);
    EXPECT_EQ(optionValue(rep, "-Djarwrap.isShipkit="), row.shipkit ? "true" : "<absent>") << row.entry;
    EXPECT_EQ(rep["mainClass"],
              row.shipkit ? "com/shipkit/runtime/launcher/WinLauncher" : "com/jarwrap/runtime/WinLauncher")
        << row.entry;
    EXPECT_EQ(rep["registered"].empty(), !row.shipkit) << row.entry;
    EXPECT_EQ(optionValue(rep, "--add-modules="),
              row.shipkit ? "com.example.Main,com.shipkit.runtime" : "com.example.Main,com.jarwrap.runtime")
        << row.entry;
  }
}

TEST(JvmCreation, FailedCreationEndsWithMessage1005) {
  Launch l;
  fs::path rt = makeFakeRuntime(l.box.dir() / "rt", "11.0.2");
  l.manifest["config"]["128"] = "ESKT_TEST_JRE;";
  RunResult r = l.run("-q", {{"SKT_TEST_JRE", winPath(rt)}}, json{{"createResult", -1}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("The JVM could not be started."), std::string::npos) << r.err;
  auto lines = l.log();
  int create = indexOf(lines, "ERROR: could not initialize JVM");
  EXPECT_GE(create, 0) << testing::PrintToString(lines);
  EXPECT_EQ(indexOf(lines, "ERROR: Could not start JVM"), create + 1);
}

TEST(JvmCreation, MissingMainClassIsMessage1010) {
  Launch l;
  fs::path rt = makeFakeRuntime(l.box.dir() / "rt", "11.0.2");
  l.manifest["config"]["128"] = "ESKT_TEST_JRE;";
  l.manifest["messages"]["1010"] = "Couldn't load main class.";
  RunResult r = l.run("-q", {{"SKT_TEST_JRE", winPath(rt)}},
                      json{{"missingClasses", json::array({"com/shipkit/runtime/launcher/WinLauncher"})}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Couldn't load main class."), std::string::npos) << r.err;
  EXPECT_TRUE(contains(l.log(), "ERROR: could not find main class"));
}

TEST(JvmCreation, ExceptionEscapingMainIsMessage1005) {
  Launch l;
  fs::path rt = makeFakeRuntime(l.box.dir() / "rt", "11.0.2");
  l.manifest["config"]["128"] = "ESKT_TEST_JRE;";
  RunResult r = l.run("-q", {{"SKT_TEST_JRE", winPath(rt)}},
                      json{{"main", json::array({{{"throw", "installer broke"}}})}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("The JVM could not be started."), std::string::npos) << r.err;
  auto lines = l.log();
  int occurred = indexOf(lines, "ERROR: an exception occurred");
  ASSERT_GE(occurred, 0) << testing::PrintToString(lines);
  EXPECT_NE(lines[occurred + 1].find("installer broke"), std::string::npos) << lines[occurred + 1];
  EXPECT_TRUE(contains(lines, "ERROR: could not call main"));
  EXPECT_TRUE(reportOf(l.report)["callsWithPendingException"].empty());
}

TEST(JvmSearch, SequenceOrderThenPreviousInstallationsThenProductVariables) {
  Launch l;
  fs::path old = makeFakeRuntime(l.box.dir() / "old", "1.7.0_80");
  l.manifest["config"]["128"] = "EJAVA_HOME;Y;EJDK_HOME;";
  l.manifest["config"]["126"] = "1.8";
  l.manifest["config"]["127"] = "11";
  RunResult r = l.run("-q", {{"JAVA_HOME", winPath(old)}}, nullptr,
                      {.unset = {"JDK_HOME", "SHIPKIT_JAVA_HOME", "JARWRAP_JAVA_HOME"}});
  EXPECT_EQ(r.exitCode, 83) << r.err;
  auto lines = l.log();
  int javaHome = indexOf(lines, "Testing location JAVA_HOME (type E)");
  int registry = indexOf(lines, "Testing location  (type Y)");
  int jdkHome = indexOf(lines, "Testing location JDK_HOME (type E)");
  int finished = indexOf(lines, "Search sequence finished");
  EXPECT_GE(javaHome, 0) << testing::PrintToString(lines);
  EXPECT_GT(registry, javaHome);
  EXPECT_GT(jdkHome, registry);
  EXPECT_GT(finished, jdkHome);
  EXPECT_TRUE(contains(lines, "MinVersion: 1.8, MaxVersion: 11"));
  EXPECT_TRUE(contains(lines, "ERROR: No JVM found"));
}

struct FallbackCase {
  const char* name;
  std::string entry;  // "DIR" stands for the runtime's absolute path
  int exitCode;
};

void PrintTo(const FallbackCase& c, std::ostream* os) {
  *os << c.name;
}

class JvmSearchFallback : public testing::TestWithParam<FallbackCase> {};

TEST_P(JvmSearchFallback, OutOfBoundsRuntime) {
  const FallbackCase& c = GetParam();
  Launch l;
  fs::path rt = makeFakeRuntime(l.box.dir() / "jre", "1.7.0_80");
  std::string entry = c.entry;
  if (auto at = entry.find("DIR"); at != std::string::npos) entry.replace(at, 3, winPath(rt));
  l.manifest["config"]["128"] = entry + ";";
  l.manifest["config"]["126"] = "1.8";
  RunResult r = l.run("-q");
  EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
  auto lines = l.log();
  EXPECT_TRUE(contains(lines, "checkJavaExe returning 0")) << testing::PrintToString(lines);
  bool retried = false;
  for (const auto& line : lines) retried |= line.rfind("Testing relative location ", 0) == 0;
  EXPECT_EQ(retried, c.exitCode == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, JvmSearchFallback,
    testing::Values(FallbackCase{"relative_R", "Rjre", 0}, FallbackCase{"relative_A", "Ajre", 0},
                    FallbackCase{"absolute_A", "ADIR", 83}, FallbackCase{"absolute_R", "RDIR", 83},
                    FallbackCase{"absolute_B", "BDIR", 0}),
    [](const testing::TestParamInfo<FallbackCase>& info) { return std::string(info.param.name); });

TEST(JvmSearch, EmptySequenceStillTriesLocationFilesAndProductVariables) {
  {
    Launch l;
    fs::path rt = makeFakeRuntime(l.box.dir() / "rt", "11.0.2");
    RunResult r =
        l.run("-q", {{"SHIPKIT_JAVA_HOME", winPath(rt)}}, nullptr, {.unset = {"JARWRAP_JAVA_HOME"}});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    auto lines = l.log();
    int finished = indexOf(lines, "Search sequence finished");
    int loaded = indexOf(lines, "Loading of JVM-DLL successful");
    EXPECT_GE(finished, 0);
    EXPECT_GT(loaded, finished);
  }
  {
    Launch l;
    fs::path rt = makeFakeRuntime(l.box.dir() / "rt", "11.0.2");
    l.manifest["config"]["10003"] = ".";
    fs::create_directories(l.box.dir() / ".shipkit");
    std::ofstream(l.box.dir() / ".shipkit" / "pref_jre.cfg") << winPath(rt) << "\r\n";
    RunResult r = l.run("-q");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    auto lines = l.log();
    EXPECT_TRUE(contains(lines, "Has preferred location " + winPath(rt))) << testing::PrintToString(lines);
    EXPECT_TRUE(contains(lines, "Using preferred location"));
    EXPECT_EQ(indexOf(lines, "Search sequence finished"), -1);
  }
}

TEST(JvmLaunch, WindowedShipkitMainGetsTheArgumentBlockAndTheUserArguments) {
  Launch l;
  fs::path rt = makeFakeRuntime(l.box.dir() / "rt", "11.0.2");
  json& c = l.manifest["config"];
  c["128"] = "ESKT_TEST_JRE;";
  c["107"] = "1";
  c["106"] = "1";
  c["124"] = "extra1 'extra two'";
  // The Java side ends the process itself, as the installer runtime does.
  RunResult r = l.run("q -Dsun.locale.formatasdefault=false", {{"SKT_TEST_JRE", winPath(rt)}},
                      json{{"main", json::array({{{"exit", 0}}})}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.dialogs.empty()) << r.dialogs[0];
  json rep = reportOf(l.report);
  ASSERT_TRUE(rep.is_object());
  std::string exe = winPath(l.box.dir() / "setup.exe");
  EXPECT_EQ(rep["mainArgs"],
            json::array({"true", "com.example.Main", "", "", "true", exe, "extra1", "extra two", "q"}));
  // The windowed launcher runs the javaw.exe beside the java.exe it checked.
  auto lines = l.log();
  EXPECT_TRUE(contains(lines, "Trying to load JVM-DLL from " + lower(winPath(rt)) + "\\bin\\javaw.exe"))
      << testing::PrintToString(lines);
  EXPECT_EQ(rep["exitCode"], 0);
}

TEST(VmOptions, FullListInOrderFromEverySource) {
  Launch l;
  fs::path rt = makeFakeRuntime(l.box.dir() / "rt", "11.0.2");
  json& c = l.manifest["config"];
  c["128"] = "ESKT_TEST_JRE;";
  c["123"] = "-Xmx256m --add-opens java.base/java.lang=ALL-UNNAMED";
  c["10200"] = "2";
  c["10201"] = "1-8";
  c["10202"] = "-Dold=1";
  c["10203"] = "9-11";
  c["10204"] = "-Dnew=1 -Dnew2=2";
  c["125"] = "1";
  c["166"] = "1";
  l.manifest["files"] = json::array({{{"name", "a.jar"}, {"text", "a"}},
                                     {{"name", "b.zip"}, {"text", "b"}},
                                     {{"name", "user\\c.jar"}, {"text", "c"}}});
  std::ofstream(l.box.dir() / "setup.vmoptions")
      << "# options beside the installer\r\n  -Dvm.file=1  \r\n\r\n"
      << "-classpath/a lib\\extra.jar\r\n";
  RunResult r = l.run("-q -J-Dfoo=bar -Dsun.locale.formatasdefault=false keep",
                      {{"SKT_TEST_JRE", winPath(rt)}, {"MANPATH", "x"}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  json rep = reportOf(l.report);
  std::vector<std::string> options = rep["options"].get<std::vector<std::string>>();
  // Seven launcher properties lead (the semaphore name first; no code page with MANPATH).
  ASSERT_GE(options.size(), 7u);
  EXPECT_EQ(options[0].rfind("-Djarwrap.semaphoreName=", 0), 0u);
  std::string temp = optionValue(rep, "-Djarwrap.tempDir=");
  std::vector<std::string> tail(options.begin() + 7, options.end());
  std::vector<std::string> expected = {
      "-Xmx256m",
      "--add-opens=java.base/java.lang=ALL-UNNAMED",
      "-Dnew=1",
      "-Dnew2=2",
      "-Dfoo=bar",
      "-Dsun.locale.formatasdefault=false",
      "-Duser.language=en",
      "-Duser.country=US",
      "-Dvm.file=1",
      "-Djava.class.path=" + temp + "\\a.jar;" + temp + "\\b.zip;" + temp + "\\user\\c.jar;lib\\extra.jar",
  };
  EXPECT_EQ(tail, expected) << testing::PrintToString(options);
  // "-J" and locale arguments go to the VM, not to main.
  json args = rep["mainArgs"];
  ASSERT_GE(args.size(), 7u);
  EXPECT_EQ(args[args.size() - 2], "-q");
  EXPECT_EQ(args[args.size() - 1], "keep");
}
