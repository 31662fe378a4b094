// The deletion mode end to end under Wine: the fake Java side writes the list file naming
// its extraction directory, starts "<launcher> __skt_windel <list>" and ends; the deletion
// process waits for the installer's semaphore and removes everything.
#include <gtest/gtest.h>

#include "ConcurrentRuns.h"

using namespace e2e;

namespace {

// Polls until `path` is gone (at most 60 s); false when it stays.
bool waitUntilGone(const fs::path& path) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (fs::exists(path)) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

// A Linux path for a "Z:\..." path.
fs::path linuxPath(const std::string& winPath) {
  std::string p = winPath.substr(2);
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

}  // namespace

// The installer holds one of its own files until it ends: only the wait for its semaphore
// lets the deletion remove it (a file of the extraction tree that resists is only scheduled
// at reboot). A program file held by another process for a while goes in a later pass.
TEST(DeletionMode, RemovesTheExtractionTreeAfterTheInstallerEnds) {
  for (bool heldOutside : {false, true}) {
    SCOPED_TRACE(heldOutside ? "a file held outside" : "only the installer's files");
    Runs runs;
    runs.manifest["files"] =
        json::array({{{"name", "a.jar"}, {"text", "jar"}}, {{"name", "b.txt"}, {"text", "b"}}});
    fs::path exe = runs.box.build(runs.manifest);
    const fs::path list = runs.box.dir() / "list.txt", held = runs.box.dir() / "program.dll";
    std::future<RunResult> holder;
    if (heldOutside) {
      const fs::path ready = runs.box.dir() / "held";
      std::string holdLine = "\"" + winPath(outDir() / "testing" / "holdfile.exe") + "\" \"" + winPath(held) +
                             "\" 1500 \"" + winPath(ready) + "\"";
      holder =
          std::async(std::launch::async, [&runs, holdLine] { return runs.box.runCommandLine(holdLine); });
      auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (!fs::exists(ready) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      ASSERT_TRUE(fs::exists(ready));
    }
    json lines = {"{prop:jarwrap.semaphoreName}",
                  "reboot_deletion",
                  "Restart to finish?",
                  "EOSMARKER",
                  "Restart failed",
                  "EOSMARKER",
                  "{prop:jarwrap.tempDir}\\a.jar",
                  "{prop:jarwrap.tempDir}\\b.txt"};
    if (heldOutside) lines.push_back(winPath(held));
    lines.push_back("");
    lines.push_back("{prop:jarwrap.tempDir}");
    json scenario = {
        {"main", json::array({{{"hold", "{prop:jarwrap.tempDir}\\a.jar"}},
                              {{"write_list", winPath(list)}, {"lines", lines}},
                              {{"start", "\"{prop:jarwrap.moduleName}\" __skt_windel " + winPath(list)}},
                              {{"sleep_ms", 300}}})}};
    auto run = runs.start("\"" + winPath(exe) + "\" -q", scenario);
    EXPECT_EQ(run.result.get().exitCode, 0);
    json report = Runs::report(run.report);
    const fs::path tree = linuxPath(Runs::option(report, "-Djarwrap.tempDir="));
    ASSERT_FALSE(tree.empty());
    bool heldByInstaller = false;
    for (const auto& e : report["events"])
      heldByInstaller = heldByInstaller || (e["type"] == "hold" && e["held"] == true);
    EXPECT_TRUE(heldByInstaller);
    EXPECT_TRUE(waitUntilGone(list)) << "the deletion process removes its list at the end";
    EXPECT_FALSE(fs::exists(tree)) << tree;
    if (heldOutside) {
      EXPECT_FALSE(fs::exists(held));
      EXPECT_EQ(holder.get().exitCode, 0);
    }
  }
}

// "__skt_windel" is the deletion mode only with a list file argument.
TEST(DeletionMode, NeedsThreeArguments) {
  struct Row {
    std::string tail;
    bool javaRuns;
  } rows[] = {{"__skt_windel", true}, {"__skt_windel Z:\\no\\such\\list.txt", false}};
  for (const auto& row : rows) {
    Runs runs;
    runs.manifest["config"]["155"] = "1";  // no progress dialog: quiet switches would count as arguments
    fs::path exe = runs.box.build(runs.manifest);
    auto run = runs.start("\"" + winPath(exe) + "\" " + row.tail, json::object());
    EXPECT_EQ(run.result.get().exitCode, 0) << row.tail;
    EXPECT_EQ(fs::exists(run.report), row.javaRuns) << row.tail;
  }
}
