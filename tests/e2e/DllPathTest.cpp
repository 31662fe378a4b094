// Native library directories and PATH reduction, end to end under Wine.
#include <gtest/gtest.h>

#include "E2eSupport.h"

using namespace e2e;

namespace {
std::string find(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const auto& l : lines)
    if (l.rfind(prefix, 0) == 0) return l;
  return {};
}
}  // namespace

TEST(PathReduction, WindowsEntriesAndPrefixSiblingsGo) {
  Sandbox box;
  json m = Sandbox::baseManifest();
  m["config"]["10010"] = "1";
  RunResult r =
      box.run(box.build(m), "-q -manual",
              {.env = {{"SHIPKIT_LOG", "yes"},
                       {"PATH", "C:\\windows\\system32;C:\\windowsApps\\x;Z:\\tools;;c:\\WINDOWS"}}});
  ASSERT_EQ(r.exitCode, 83) << r.err;
  auto lines = Sandbox::logLines(box.logs().at(0));
  EXPECT_TRUE(contains(lines, "reduced PATH 8 to Z:\\tools")) << testing::PrintToString(lines);
  // The native library step later prepends to the reduced PATH.
  EXPECT_EQ(find(lines, "Setting PATH (native libs) "), "Setting PATH (native libs) Z:\\tools");
}

TEST(PathReduction, OnlyWindowsEntriesLeavePathAsItWas) {
  Sandbox box;
  json m = Sandbox::baseManifest();
  m["config"]["10010"] = "1";
  RunResult r = box.run(box.build(m), "-q -manual",
                        {.env = {{"SHIPKIT_LOG", "yes"}, {"PATH", "C:\\windows\\system32;C:\\windows"}}});
  ASSERT_EQ(r.exitCode, 83);
  auto lines = Sandbox::logLines(box.logs().at(0));
  EXPECT_TRUE(contains(lines, "reduced PATH 0 to ")) << testing::PrintToString(lines);
  EXPECT_EQ(find(lines, "Setting PATH (native libs) "),
            "Setting PATH (native libs) C:\\windows\\system32;C:\\windows");
}

TEST(NativeLibraryPath, RelativeEntriesResolveAgainstTheLauncherDirectoryAndExpand) {
  Sandbox box;
  json m = Sandbox::baseManifest();
  m["config"]["10004"] = "lib\\native;;${SKT_TEST_DIR}\\more;%SHIPKIT_EXEDIR%x";
  fs::path exe = box.build(m);
  fs::path elsewhere = box.dir() / "cwd";
  fs::create_directories(elsewhere);
  RunResult r = box.run(exe, "-q -manual",
                        {.env = {{"SHIPKIT_LOG", "yes"}, {"PATH", "Z:\\tools"}, {"SKT_TEST_DIR", "Z:\\opt"}},
                         .cwd = elsewhere});
  ASSERT_EQ(r.exitCode, 83);
  auto lines = Sandbox::logLines(box.logs().at(0));
  std::string dir = winPath(box.dir()) + "\\";
  std::string list = dir + "lib\\native;Z:\\opt\\more;" + dir + "x;Z:\\tools";
  EXPECT_EQ(find(lines, "Setting PATH (native libs) "), "Setting PATH (native libs) " + list)
      << testing::PrintToString(lines);
  EXPECT_TRUE(contains(lines, "Adding DLL directory " + dir + "lib\\native"));
  // Table tokens first, environment tokens after them.
  int table = indexOf(lines, "expanding2 %SHIPKIT_EXEDIR% to " + dir +
                                 " in lib\\native;;${SKT_TEST_DIR}\\more;" + dir + "x.");
  int env =
      indexOf(lines, "expanding2 ${SKT_TEST_DIR} to Z:\\opt in lib\\native;;Z:\\opt\\more;" + dir + "x.");
  EXPECT_GE(table, 0) << testing::PrintToString(lines);
  EXPECT_GT(env, table);
}

TEST(NativeLibraryPath, EmptyEntryKeepsPathAndAddsNoDirectory) {
  Sandbox box;
  RunResult r = box.run(box.build(Sandbox::baseManifest()), "-q -manual",
                        {.env = {{"SHIPKIT_LOG", "yes"}, {"PATH", "Z:\\tools;Z:\\more"}}});
  ASSERT_EQ(r.exitCode, 83);
  auto lines = Sandbox::logLines(box.logs().at(0));
  EXPECT_EQ(find(lines, "Setting PATH (native libs) "), "Setting PATH (native libs) Z:\\tools;Z:\\more");
  EXPECT_EQ(find(lines, "Adding DLL directory "), "");
  EXPECT_TRUE(contains(lines, "restrict DLL directories"));
}

TEST(WorkingDirectory, ExpandedAndResolvedAgainstTheLauncherDirectory) {
  Sandbox box;
  json m = Sandbox::baseManifest();
  m["config"]["146"] = "${SKT_SUB}\\work";
  fs::create_directories(box.dir() / "sub" / "work");
  RunResult r = box.run(box.build(m), "-q -manual", {.env = {{"SHIPKIT_LOG", "yes"}, {"SKT_SUB", "sub"}}});
  ASSERT_EQ(r.exitCode, 83);
  auto lines = Sandbox::logLines(box.logs().at(0));
  EXPECT_TRUE(contains(lines, "change working directory to " + winPath(box.dir()) + "\\sub\\work"))
      << testing::PrintToString(lines);
  // A directory that cannot be entered is reported as such, not logged as done.
  RunResult r2 =
      box.run(box.build(m), "-q -manual", {.env = {{"SHIPKIT_LOG", "yes"}, {"SKT_SUB", "missing"}}});
  ASSERT_EQ(r2.exitCode, 83);
  auto lines2 = Sandbox::logLines(box.logs().at(1));
  const std::string missing = winPath(box.dir()) + "\\missing\\work";
  EXPECT_FALSE(contains(lines2, "change working directory to " + missing));
  EXPECT_NE(find(lines2, "ERROR: could not change working directory to " + missing + " (error "), "")
      << testing::PrintToString(lines2);
}
