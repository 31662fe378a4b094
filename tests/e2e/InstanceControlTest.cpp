// The instance semaphore and single-instance operation with real concurrent launcher runs
// under Wine: the fake Java side waits for a release file so that runs overlap, and reports
// the semaphore name it was given.
#include <gtest/gtest.h>

#include "ConcurrentRuns.h"

using namespace e2e;

namespace {

json waitingScenario() {
  return {{"main", json::array({{{"wait_file", "{env:RELEASE}"}, {"timeout_ms", 30000}}})}};
}

bool created(const json& r) {
  return r.contains("options");
}

}  // namespace

// Without single-instance mode, overlapping runs hold the names ending in 0, 1 and 2 and
// pass them on; with entry 158 the name lives in the global namespace.
TEST(InstanceControl, OverlappingRunsHoldNumberedNames) {
  for (bool global : {false, true}) {
    Runs runs;
    if (global) runs.manifest["config"]["158"] = "1";
    fs::path exe = runs.box.build(runs.manifest);
    const std::string line = "\"" + winPath(exe) + "\" -q";
    const std::map<std::string, std::string> env = {{"RELEASE", winPath(runs.box.dir() / "release")}};
    auto first = runs.start(line, waitingScenario(), env);
    json r1 = Runs::waitForReport(first.report, created);
    auto second = runs.start(line, waitingScenario(), env);
    json r2 = Runs::waitForReport(second.report, created);
    auto third = runs.start(line, json::object(), env);
    EXPECT_EQ(third.result.get().exitCode, 0);
    json r3 = Runs::report(third.report);
    std::ofstream(runs.box.dir() / "release") << "go";
    EXPECT_EQ(first.result.get().exitCode, 0);
    EXPECT_EQ(second.result.get().exitCode, 0);

    const std::string base = std::string(global ? "Global\\" : "Local\\") + sanitizedPath(winPath(exe));
    EXPECT_EQ(Runs::option(r1, "-Djarwrap.semaphoreName="), base + "0") << global;
    EXPECT_EQ(Runs::option(r2, "-Djarwrap.semaphoreName="), base + "1") << global;
    EXPECT_EQ(Runs::option(r3, "-Djarwrap.semaphoreName="), base + "2") << global;
    auto log = runs.logWith("Init done");
    bool logged = false;
    for (const auto& l : log)
      logged = logged || l.rfind("semaphore name " + base + "0, code 0, value ", 0) == 0;
    EXPECT_TRUE(logged) << testing::PrintToString(log);
  }
}

// In single-instance mode a second start ends with 0 before extracting anything; with entry
// 10008 it first restores and raises the first run's window, without waiting for a first run
// whose windows no longer answer (it stops dispatching messages while the second one starts).
TEST(InstanceControl, SecondStartOfASingleInstanceEnds) {
  struct Row {
    bool activate;
    bool hung;
  };
  for (Row row : {Row{true, false}, Row{false, false}, Row{true, true}}) {
    const bool activate = row.activate;
    SCOPED_TRACE(testing::Message() << "activate " << activate << ", hung " << row.hung);
    Runs runs;
    runs.manifest["config"]["10005"] = "1";
    if (activate) runs.manifest["config"]["10008"] = "1";
    fs::path exe = runs.box.build(runs.manifest);
    const std::string line = "\"" + winPath(exe) + "\" -q";
    const std::map<std::string, std::string> env = {{"RELEASE", winPath(runs.box.dir() / "release")}};
    // After the release a pumping pause lets a restore that was only posted take effect.
    json firstScenario = {
        {"main", json::array({{{"window", "Installer"}, {"minimized", true}},
                              {{"wait_file", "{env:RELEASE}"}, {"timeout_ms", 30000}, {"pump", !row.hung}},
                              {{"sleep_ms", 500}},
                              {{"window_state", "Installer"}},
                              {{"read_registry",
                                {{"key", "SOFTWARE\\larkfield\\jarwrap"}, {"name", "InstallStarted"}}}}})}};
    auto first = runs.start(line, firstScenario, env);
    json r1 = Runs::waitForReport(first.report, [](const json& r) { return Runs::hasEvent(r, "window"); });
    ASSERT_TRUE(r1.is_object());
    const auto started = std::chrono::steady_clock::now();
    auto second = runs.start(line, json::object(), env);
    // A restore that waited for the hung window took about 12 s; the start itself takes well
    // under a second or two.
    const bool ended = second.result.wait_for(std::chrono::seconds(6)) == std::future_status::ready;
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_TRUE(ended) << "the second start still runs after " << seconds << " s";
    std::ofstream(runs.box.dir() / "release") << "go";
    RunResult r = second.result.get();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(fs::exists(second.report)) << "the second run starts no Java side";
    EXPECT_EQ(first.result.get().exitCode, 0);

    const std::string name = "Local\\" + sanitizedPath(winPath(exe));
    EXPECT_EQ(Runs::option(r1, "-Djarwrap.semaphoreName="), name) << "no number in single-instance mode";
    auto log = runs.logWith("exiting");
    ASSERT_FALSE(log.empty());
    int mode = indexOf(log, "single instance mode");
    int other = indexOf(log, "other pid " + std::to_string(r1["pid"].get<int>()));
    EXPECT_GE(mode, 0);
    EXPECT_GT(other, mode);
    EXPECT_EQ(log[mode + 1].rfind("semaphore name " + name + ", code 183, value ", 0), 0u) << log[mode + 1];
    EXPECT_EQ(indexOf(log, "restore") > other, activate) << testing::PrintToString(log);
    EXPECT_EQ(indexOf(log, "foreground") > other, activate);
    EXPECT_EQ(indexOf(log, "Init done"), -1) << "nothing after the exit";
    json state, final1 = Runs::report(first.report);
    for (const auto& e : final1["events"])
      if (e["type"] == "window_state") state = e;
    ASSERT_TRUE(state.is_object());
    EXPECT_EQ(state["minimized"].get<bool>(), !activate);
    // The second start set no start marker and so clears none: the first run's stays.
    json marker;
    for (const auto& e : final1["events"])
      if (e["type"] == "read_registry") marker = e["dword"];
    EXPECT_EQ(marker, json(1));
  }
}

// Another path is another instance; the same file named in other case or with doubled
// backslashes is the same instance.
TEST(InstanceControl, InstancesAreToldApartByTheNormalizedPath) {
  Runs runs;
  runs.manifest["config"]["10005"] = "1";
  fs::path exe = runs.box.build(runs.manifest);
  fs::create_directories(runs.box.dir() / "Other Dir");
  fs::copy_file(exe, runs.box.dir() / "Other Dir" / "setup.exe");
  const std::map<std::string, std::string> env = {{"RELEASE", winPath(runs.box.dir() / "release")}};
  auto first = runs.start("\"" + winPath(exe) + "\" -q", waitingScenario(), env);
  ASSERT_TRUE(created(Runs::waitForReport(first.report, created)));

  auto copy =
      runs.start("\"" + winPath(runs.box.dir() / "Other Dir" / "setup.exe") + "\" -q", json::object(), env);
  json rc = Runs::waitForReport(copy.report, created);
  EXPECT_EQ(Runs::option(rc, "-Djarwrap.semaphoreName="),
            "Local\\" + sanitizedPath(winPath(runs.box.dir() / "Other Dir" / "setup.exe")));

  std::string spelled = winPath(exe);
  for (auto& c : spelled)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  std::size_t slash = spelled.rfind('\\');
  spelled.insert(slash, "\\");
  auto same = runs.start("\"" + spelled + "\" -q", json::object(), env);
  EXPECT_EQ(same.result.get().exitCode, 0);
  EXPECT_FALSE(fs::exists(same.report)) << spelled << " is the running instance";
  std::ofstream(runs.box.dir() / "release") << "go";
  EXPECT_EQ(first.result.get().exitCode, 0);
  EXPECT_EQ(copy.result.get().exitCode, 0);
}

// A language restart runs in an earlier run's directory and creates no semaphore.
TEST(InstanceControl, LanguageRestartHasNoSemaphore) {
  Runs runs;
  runs.manifest["config"]["10005"] = "1";
  fs::path exe = runs.box.build(runs.manifest);
  fs::path dir = runs.box.dir() / "extracted";
  fs::create_directories(dir);
  std::ofstream(dir / "sktruntime.jar") << "jar";
  std::ofstream(dir / "sktparams.conf") << "conf";
  auto run = runs.start("\"" + winPath(exe) + "\" __skt_lang_restart", json::object(), {}, dir);
  EXPECT_EQ(run.result.get().exitCode, 0);
  json r = Runs::report(run.report);
  ASSERT_TRUE(r.is_object());
  EXPECT_EQ(Runs::option(r, "-Djarwrap.semaphoreName="), "<absent>");
  auto log = runs.logWith("language restart");
  ASSERT_FALSE(log.empty());
  for (const auto& l : log) EXPECT_EQ(l.rfind("semaphore name", 0), std::string::npos) << l;
  EXPECT_EQ(indexOf(log, "single instance mode"), -1);
}
