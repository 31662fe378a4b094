// The progress dialog, the start markers and the wait for the Java side's first window,
// end to end under Wine: the launcher built with the wait paced by the environment (so a
// time-out of 240 s takes one), the fake JVM playing the Java side, and the runner watching
// the dialog, pressing its keys and reading the per-process marker after the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "E2eSupport.h"
#include "HttpServer.h"
#include "pack/Packer.h"

using namespace e2e;

namespace {

const char* kMarkerKey = "SOFTWARE\\larkfield\\jarwrap";

json readMarker(const std::string& name) {
  return {{"read_registry", {{"key", kMarkerKey}, {"name", name}}}};
}

// What the runner saw of the progress dialog.
struct Progress {
  std::vector<std::string> lines;
  int maxPos = -1;
  bool hidden = false;
  std::string marker;
  std::vector<std::string> boxOwners;
  bool has(const std::string& prefix) const {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  }
};

Progress readProgress(const fs::path& file) {
  Progress p;
  std::istringstream in(Sandbox::readFile(file));
  for (std::string l; std::getline(in, l);) {
    p.lines.push_back(l);
    if (l.rfind("pos ", 0) == 0) p.maxPos = std::max(p.maxPos, std::stoi(l.substr(4)));
    if (l == "hidden") p.hidden = true;
    if (l.rfind("marker ", 0) == 0) p.marker = l.substr(7);
    if (l.rfind("box ", 0) == 0) p.boxOwners.push_back(l.substr(4));
  }
  return p;
}

struct WaitRun {
  Sandbox box;
  json manifest = Sandbox::baseManifest();
  fs::path report, progress;
  RunResult result;
  WaitRun() : report(box.dir() / "report.json"), progress(box.dir() / "progress.txt") {
    manifest["config"]["122"] = "com.example.Main";
    manifest["config"]["107"] = "1";  // windowed launcher: errors in message boxes
    manifest["config"]["128"] = "ESKT_TEST_JRE;";
    manifest["messages"]["20014"] = "The Java installer did not start. Try -manual.";
    fs::path rt = box.dir() / "rt";
    makeFakeRuntime(rt);
  }
  // Builds the installer on the fast-wait launcher and runs it.
  void run(const std::string& arguments, const json& main, std::vector<std::string> runner = {},
           std::map<std::string, std::string> env = {}, std::optional<fs::path> cwd = {},
           std::vector<std::string> unset = {}) {
    fs::path manifestFile = box.dir() / "setup.json";
    std::ofstream(manifestFile) << manifest.dump(2);
    shipkit::pack::BuildOptions options;
    options.manifest = manifestFile;
    options.stub = outDir() / "testing" / "launcher-fastwait.exe";
    options.out = box.dir() / "setup.exe";
    shipkit::pack::BuildSummary summary;
    std::string error;
    ASSERT_TRUE(shipkit::pack::buildInstaller(options, summary, error)) << error;
    fs::path scenario = box.dir() / "scenario.json";
    // A list is the body of main; an object a whole scenario.
    std::ofstream(scenario) << (main.is_array() ? json{{"main", main}} : main).dump();
    env["SHIPKIT_LOG"] = "yes";
    env["SKT_TEST_JRE"] = winPath(box.dir() / "rt");
    env["FAKEJVM_REPORT"] = winPath(report);
    env["FAKEJVM_SCENARIO"] = winPath(scenario);
    env.emplace("SHIPKIT_TEST_WAIT_STEP_MS", "50");
    runner.insert(runner.begin(), "progress " + winPath(progress));
    result = box.run(options.out, arguments, {.env = env, .unset = unset, .cwd = cwd, .runner = runner});
  }
  std::vector<std::string> log() const { return box.lastLogLines(); }
  // The markers as the Java side read them at the start of main: {per-process, general}.
  std::pair<json, json> markersAtMain() const {
    json r = json::parse(Sandbox::readFile(report), nullptr, false);
    json seen = json::array();
    if (r.is_object())
      for (const auto& e : r["events"])
        if (e["type"] == "read_registry") seen.push_back(e["dword"]);
    return seen.size() >= 2 ? std::pair{seen[0], seen[1]} : std::pair{json("unread"), json("unread")};
  }
};

const json kReadBoth = json::array({readMarker("InstallStarted_{pid}"), readMarker("InstallStarted")});

json steps(std::initializer_list<json> more) {
  json all = kReadBoth;
  for (const auto& s : more) all.push_back(s);
  return all;
}

struct WaitCase {
  const char* name;
  json main;             // after the marker reads
  const char* entry159;  // configuration entry 159
  const char* passes;    // pass of the time-out
  int exitCode;
  bool timeout;  // the run ends with message 20014
  bool hidden;   // the wait ended and hid the dialog
};

void PrintTo(const WaitCase& c, std::ostream* os) {
  *os << c.name;
}

class StartWait : public testing::TestWithParam<WaitCase> {};

TEST_P(StartWait, EndsAsTheJavaSideComesUp) {
  const WaitCase& c = GetParam();
  WaitRun run;
  run.manifest["config"]["159"] = c.entry159;
  json main = steps({});
  for (const auto& s : c.main) main.push_back(s);
  run.run("", main, {}, {{"SHIPKIT_TEST_WAIT_PASSES", c.passes}});
  const RunResult& r = run.result;
  EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
  auto lines = run.log();
  Progress p = readProgress(run.progress);
  // Before the launch both markers are set, the per-process one because a dialog exists.
  EXPECT_EQ(run.markersAtMain().first, json(1));
  EXPECT_EQ(run.markersAtMain().second, json(1));
  EXPECT_LE(p.maxPos, 390) << testing::PrintToString(p.lines);
  // From the base 100 (no runtime archive) the bar steps by a quarter of the rest, capped at 390;
  // a poll may also catch the dialog's first 0 and the 1 the main work starts the bar with.
  for (const auto& l : p.lines)
    if (l.rfind("pos ", 0) == 0)
      EXPECT_TRUE(
          std::set<std::string>({"pos 0", "pos 1", "pos 100", "pos 175", "pos 250", "pos 325", "pos 390"})
              .count(l))
          << l;
  if (std::string(c.name) == "WindowAfterADelay")
    EXPECT_EQ(p.maxPos, 390) << "2.5 s are more than the four steps to 390";
  EXPECT_GT(p.maxPos, 100) << "the bar moves on from the base while waiting";
  EXPECT_EQ(contains(lines, "timeout"), c.timeout) << testing::PrintToString(lines);
  EXPECT_EQ(contains(lines, "Java window visible"), c.hidden);
  EXPECT_EQ(p.hidden, c.hidden) << testing::PrintToString(p.lines);
  if (c.timeout) {
    ASSERT_EQ(r.dialogs.size(), 1u);
    EXPECT_NE(r.dialogs[0].find("The Java installer did not start. Try -manual."), std::string::npos);
    EXPECT_EQ(p.boxOwners, std::vector<std::string>{"MyDialogClass"});
    EXPECT_EQ(p.marker, "1") << "the fatal path leaves the marker to the next start";
  } else {
    EXPECT_TRUE(r.dialogs.empty()) << r.dialogs[0];
  }
  if (c.hidden) EXPECT_EQ(p.marker, "absent");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartWait,
    testing::Values(
        WaitCase{"WindowAfterADelay",
                 json::array(
                     {{{"sleep_ms", 2500}}, {{"window", "Installer"}}, {{"sleep_ms", 1500}}, {{"exit", 0}}}),
                 "0", "2400", 0, false, true},
        WaitCase{"MarkerTwoWithoutWindow",
                 json::array({{{"sleep_ms", 600}},
                              {{"registry",
                                {{"key", kMarkerKey}, {"name", "InstallStarted_{pid}"}, {"dword", 2}}}},
                              {{"sleep_ms", 1500}},
                              {{"exit", 0}}}),
                 "0", "2400", 0, false, true},
        WaitCase{"NeitherEndsWithTheTimeout", json::array({{{"sleep_ms", 30000}}, {{"exit", 0}}}), "0", "20",
                 1, true, false},
        WaitCase{"NeitherWithEntry159KeepsWaiting", json::array({{{"sleep_ms", 2500}}, {{"exit", 0}}}), "1",
                 "20", 0, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProgressDialog, IsCentredOnTheDesktopAndCarriesTheWholeRange) {
  WaitRun run;
  run.run("", steps({{{"sleep_ms", 600}}, {{"window", "Installer"}}, {{"sleep_ms", 800}}, {{"exit", 0}}}));
  ASSERT_EQ(run.result.exitCode, 0) << run.result.err;
  Progress p = readProgress(run.progress);
  auto shown =
      std::find_if(p.lines.begin(), p.lines.end(), [](auto& l) { return l.rfind("shown ", 0) == 0; });
  ASSERT_NE(shown, p.lines.end()) << testing::PrintToString(p.lines);
  int x, y, w, h, dw, dh;
  ASSERT_EQ(std::sscanf(shown->c_str(), "shown %d %d %d %d desktop %d %d", &x, &y, &w, &h, &dw, &dh), 6);
  EXPECT_EQ(x, (dw - w) / 2);
  EXPECT_EQ(y, (dh - h) / 2);
  EXPECT_TRUE(p.has("range 0 400")) << testing::PrintToString(p.lines);
}

TEST(ProgressDialog, AnErrorDuringTheMainWorkIsOwnedByTheDialog) {
  WaitRun run;
  // A Java side whose virtual machine cannot be created: the launch fails with message 1005.
  run.run("", json{{"createResult", -1}});
  const RunResult& r = run.result;
  EXPECT_EQ(r.exitCode, 1) << r.err;
  ASSERT_EQ(r.dialogs.size(), 1u);
  EXPECT_NE(r.dialogs[0].find("The JVM could not be started."), std::string::npos) << r.dialogs[0];
  EXPECT_EQ(readProgress(run.progress).boxOwners, std::vector<std::string>{"MyDialogClass"});
}

struct CancelCase {
  const char* name;
  const char* press;   // runner line after "press "
  bool untar = false;  // the installer ships a runtime archive of 3000 files: press while it unpacks
  // "dialog" or "155" (the run starts without a dialog, which opens one for the download only):
  // no runtime on the machine, and the download from a server that trickles it for ten seconds
  const char* download = "";
  bool payload = false;  // four shipped files, the extraction held after two: press before it ends
};

// Four payload files after the installer's own; the extraction holds after the first two of
// them until the press arrives (SHIPKIT_EXTRACTION_HOLD), so the press lands before its end.
constexpr int kPayloadFiles = 4;
void shipHeldFiles(WaitRun& run, std::map<std::string, std::string>& env) {
  env["SHIPKIT_EXTRACTION_HOLD"] = std::to_string(run.manifest["files"].size() + 2);
  for (int f = 0; f < kPayloadFiles; ++f) {
    const fs::path file = run.box.dir() / ("file" + std::to_string(f) + ".bin");
    std::ofstream(file, std::ios::binary) << std::string(4096, 'x');
    run.manifest["files"].push_back({{"name", file.filename().string()}, {"source", file.string()}});
  }
}

// Ships "jre.tar.gz" (made by GNU tar) of a fake runtime with 3000 small files besides, so that
// unpacking it moves the bar through 100..200 for a while.
void shipLargeRuntime(WaitRun& run) {
  const fs::path tree = run.box.dir() / "tree", archive = run.box.dir() / "jre.tar.gz";
  makeFakeRuntime(tree);
  for (int d = 0; d < 30; ++d) {
    fs::create_directories(tree / "lib" / std::to_string(d));
    for (int f = 0; f < 100; ++f)
      std::ofstream(tree / "lib" / std::to_string(d) / (std::to_string(f) + ".bin"))
          << std::string(4096, 'x');
  }
  const std::string tar = (run.box.dir() / "jre.tar").string();
  sh("tar -C '" + tree.string() + "' -cf '" + tar + "' . && gzip -kf '" + tar + "'");
  run.manifest["config"]["151"] = std::to_string(fs::file_size(tar));
  run.manifest["files"] = json::array({{{"name", "jre.tar.gz"}, {"source", archive.string()}}});
}

void PrintTo(const CancelCase& c, std::ostream* os) {
  *os << c.name;
}

class Cancel : public testing::TestWithParam<CancelCase> {};

TEST_P(Cancel, EndsTheRunWithCodeZeroAndClearsTheMarkers) {
  const CancelCase& c = GetParam();
  WaitRun run;
  run.manifest["config"]["159"] = "1";
  if (c.untar) shipLargeRuntime(run);
  std::optional<HttpServer> server;
  std::string arguments;
  std::vector<std::string> unset;
  std::map<std::string, std::string> env;
  if (c.payload) shipHeldFiles(run, env);
  if (*c.download) {
    const fs::path served = run.box.dir() / "served";
    fs::create_directories(served);
    sh("tar -C '" + (run.box.dir() / "rt").string() + "' -czf '" + (served / "jre.tar.gz").string() + "' .");
    server.emplace(served);
    run.manifest["config"]["150"] = server->url("trickle");
    run.manifest["config"]["157"] = "1";
    if (std::string(c.download) == "155") run.manifest["config"]["155"] = "1";
    arguments = "-manual";  // no search: the runtime is downloaded
    env["SHIPKIT_DOWNLOAD_POLICY"] = "1,0,1,0";
    unset = {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"};
  }
  // A Java side that never comes up: only the press ends the run.
  run.run(arguments, steps({{{"sleep_ms", 30000}}, {{"exit", 5}}}), {std::string("press ") + c.press}, env,
          {}, unset);
  EXPECT_EQ(run.result.exitCode, 0) << run.result.err;
  auto lines = run.log();
  EXPECT_TRUE(contains(lines, "Canceled installer")) << testing::PrintToString(lines);
  Progress p = readProgress(run.progress);
  EXPECT_TRUE(p.has("pressed ")) << testing::PrintToString(p.lines);
  if (c.untar) {
    int at = -1;
    for (const auto& l : p.lines) std::sscanf(l.c_str(), "pressed cancel at %d", &at);
    EXPECT_TRUE(at > 100 && at < 200) << "pressed while the runtime was unpacked: " << at;
  }
  const auto dirs = extractionDirs(run.box.temp());
  if (*c.download) {
    // The transfer stops mid-way and takes its partial file along; the run goes no further.
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
      return l.rfind("download canceled after ", 0) == 0;
    })) << testing::PrintToString(lines);
    EXPECT_FALSE(contains(lines, "launching program")) << testing::PrintToString(lines);
    ASSERT_EQ(dirs.size(), 1u) << "the extraction directory stays, as after any Cancel";
    EXPECT_FALSE(fs::exists(dirs[0] / "jre.tar.gz"));
  }
  if (c.payload) {
    // The press lands before the extraction ends (it may land before the first file): the run
    // goes no further, the directory keeps what was extracted, and no file after the hold comes.
    EXPECT_FALSE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
      return l.rfind("Current working dir: ", 0) == 0;
    })) << testing::PrintToString(lines);
    ASSERT_EQ(dirs.size(), 1u) << "the extraction directory stays, as after any Cancel";
    for (int f = 2; f < kPayloadFiles; ++f)
      EXPECT_FALSE(fs::exists(dirs[0] / ("file" + std::to_string(f) + ".bin"))) << f;
  }
  EXPECT_EQ(p.marker, "absent");
  EXPECT_TRUE(run.result.dialogs.empty()) << run.result.dialogs[0];
}

INSTANTIATE_TEST_SUITE_P(
    Moments, Cancel,
    testing::Values(CancelCase{"EscapeAtTheStart", "escape 0"}, CancelCase{"CancelAtTheStart", "cancel 0"},
                    CancelCase{"EscapeDuringTheWait", "escape 175"},
                    CancelCase{"CancelDuringTheWait", "cancel 175"},
                    CancelCase{"EnterDuringTheWait", "enter 175"},
                    CancelCase{"CancelWhileTheRuntimeIsUnpacked", "cancel 101", true},
                    CancelCase{"CancelDuringTheDownload", "cancel download", false, "dialog"},
                    CancelCase{"CancelDuringTheDownloadWithoutDialog", "cancel download", false, "155"},
                    CancelCase{"CancelWhileThePayloadIsExtracted", "cancel 100", false, "", true}),
    [](const auto& info) { return std::string(info.param.name); });

struct ExitCase {
  const char* name;
  const char* arguments;
  json scenario;  // the fake JVM's scenario
  bool download;  // no runtime on the machine, and a download location nobody answers at
  int exitCode;
  const char* marker;  // the per-process marker after the run
};

void PrintTo(const ExitCase& c, std::ostream* os) {
  *os << c.name;
}

class MarkersOnExit : public testing::TestWithParam<ExitCase> {};

// A run with a dialog sets both markers before the search; an orderly exit before the Java
// side runs clears what it set, and once the Java side runs the markers are left to it.
TEST_P(MarkersOnExit, AreClearedUntilTheJavaSideRuns) {
  const ExitCase& c = GetParam();
  WaitRun run;
  // Errors on standard error: a message box would count as the Java side's window and end the
  // wait, which clears the per-process marker on its own.
  run.manifest["config"]["107"] = "0";
  std::map<std::string, std::string> env = {{"SHIPKIT_TEST_WAIT_PASSES", "20"}};
  if (c.download) {
    run.manifest["config"]["150"] = "http://127.0.0.1:1/jre.tar.gz";  // refused
    run.manifest["config"]["157"] = "1";
    env["SHIPKIT_DOWNLOAD_POLICY"] = "1,0,1,0";
  }
  run.run(c.arguments, c.scenario, {}, env, {}, {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"});
  EXPECT_EQ(run.result.exitCode, c.exitCode) << run.result.err << testing::PrintToString(run.log());
  EXPECT_EQ(readProgress(run.progress).marker, c.marker) << testing::PrintToString(run.log());
}

INSTANTIATE_TEST_SUITE_P(
    Paths, MarkersOnExit,
    testing::Values(ExitCase{"ExtractOnly", "__skt_extract_and_exit", json::object(), false, 0, "absent"},
                    ExitCase{"DownloadFails", "-manual", json::object(), true, 1, "absent"},
                    ExitCase{"JvmCannotBeCreated", "", json{{"createResult", -1}}, false, 1, "absent"},
                    ExitCase{"MainIsMissing", "",
                             json{{"missingMethods",
                                   {{"com/shipkit/runtime/launcher/WinLauncher", {"main"}},
                                    {"com/jarwrap/runtime/WinLauncher", {"main"}}}}},
                             false, 1, "absent"},
                    // The Java side ran and never came up: the time-out leaves its marker to the next start.
                    ExitCase{"TimeoutAfterTheJavaSideRan", "",
                             json{{"main", json::array({{{"sleep_ms", 30000}}})}}, false, 1, "1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StartMarkers, QuietRunSetsOnlyTheGeneralMarker) {
  WaitRun run;
  run.run("-q", steps({}));
  EXPECT_EQ(run.result.exitCode, 0) << run.result.err;
  EXPECT_EQ(run.markersAtMain().first, json()) << "no per-process marker without a window";
  EXPECT_EQ(run.markersAtMain().second, json(1));
  EXPECT_EQ(readProgress(run.progress).marker, "absent");
}

TEST(StartMarkers, LanguageRestartWritesNone) {
  WaitRun run;
  fs::path dir = run.box.dir() / "restart";
  fs::create_directories(dir);
  std::ofstream(dir / "sktruntime.jar") << "jar";
  std::ofstream(dir / "sktparams.conf") << "conf";
  // "-splash" keeps the dialog, with which the per-process marker would be set.
  run.run("__skt_lang_restart -splash",
          steps({{{"window", "Installer"}}, {{"sleep_ms", 500}}, {{"exit", 0}}}), {}, {}, dir);
  EXPECT_EQ(run.result.exitCode, 0) << run.result.err;
  EXPECT_EQ(run.markersAtMain().first, json()) << testing::PrintToString(run.log());
  EXPECT_EQ(readProgress(run.progress).marker, "absent");
}

}  // namespace

namespace {

TEST(StartWait, ShippedRuntimeStartsTheBarAt200) {
  WaitRun run;
  // The runtime travels as the payload's "jre.tar.gz": the wait animates from 200.
  fs::path archive = run.box.dir() / "jre.tar.gz";
  std::string tar =
      "tar -C '" + (run.box.dir() / "rt").string() + "' --sort=name -czf '" + archive.string() + "' .";
  ASSERT_EQ(std::system(tar.c_str()), 0);
  std::string size = "gzip -dc '" + archive.string() + "' | wc -c";
  FILE* p = ::popen(size.c_str(), "r");
  unsigned long long n = 0;
  ASSERT_TRUE(p && std::fscanf(p, "%llu", &n) == 1);
  ::pclose(p);
  run.manifest["files"] = json::array({{{"name", "jre.tar.gz"}, {"source", archive.string()}}});
  run.manifest["config"]["151"] = std::to_string(n);
  run.run("", steps({{{"sleep_ms", 2500}}, {{"window", "Installer"}}, {{"sleep_ms", 1000}}, {{"exit", 0}}}));
  ASSERT_EQ(run.result.exitCode, 0) << run.result.err;
  Progress progress = readProgress(run.progress);
  EXPECT_EQ(progress.maxPos, 390);
  // Above the unpacking's 200 only the wait's steps of (400 - 200) / 4 appear.
  for (const auto& l : progress.lines)
    if (l.rfind("pos ", 0) == 0 && std::stoi(l.substr(4)) > 200)
      EXPECT_TRUE(std::set<std::string>({"pos 250", "pos 300", "pos 350", "pos 390"}).count(l)) << l;
  EXPECT_TRUE(progress.hidden);
}

}  // namespace
