// An installer whose stub carries splash images (resources the packer added in a new
// section) still runs and extracts, and Windows finds the images in it.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "E2eSupport.h"

using namespace e2e;

namespace {


TEST(SplashResources, InstallerRunsAndWindowsFindsItsImagesInEveryLanguage) {
  Sandbox box;
  const std::string one = std::string("\x89PNG\r\n\x1a\n one", 12), half = std::string(3001, '\xA5');
  std::ofstream(box.dir() / "splash.png", std::ios::binary) << one;
  std::ofstream(box.dir() / "splash@150.png", std::ios::binary) << half;
  json m = Sandbox::baseManifest();
  m["files"] = json::array({{{"name", "sub\\a.txt"}, {"text", "payload"}}});
  m["splash"] = json::array(
      {{{"scale", 1.5}, {"source", "splash@150.png"}}, {{"scale", 1.0}, {"source", "splash.png"}}});
  fs::path exe = box.build(m);

  RunResult r = box.run(exe, "-q -manual", {.env = {{"SHIPKIT_LOG", "yes"}}});
  ASSERT_EQ(r.exitCode, 83) << r.err;
  auto lines = box.lastLogLines();
  EXPECT_TRUE(contains(lines, "Included files: 1"));
  EXPECT_TRUE(contains(lines, "extracting files done")) << testing::PrintToString(lines);

  const std::string expected = "10000 " + hexOf(one) + "\n10001 absent\n10002 " + hexOf(half) + "\n";
  for (const char* lang : {"", "de_DE.UTF-8"}) {
    SCOPED_TRACE(*lang ? lang : "default language");
    RunResult probe = box.runCommandLine("\"" + winPath(outDir() / "testing" / "resourceprobe.exe") +
                                             "\" \"" + winPath(exe) + "\" 10000 10001 10002",
                                         {.lang = lang});
    EXPECT_EQ(probe.exitCode, 0) << probe.out << probe.err;
    EXPECT_EQ(probe.out, expected);
  }
}

}  // namespace
