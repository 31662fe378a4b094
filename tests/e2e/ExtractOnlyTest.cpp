// The extract-only mode: the payload goes to "<launcher>.test", the unextracted position to
// "unextracted.txt", and the launcher exits with 0.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "E2eSupport.h"

using namespace e2e;

TEST(ExtractOnly, WritesTheDotTestDirectoryAndTheUnextractedPosition) {
  Sandbox box;
  // A shipped runtime archive (made by GNU tar) of the fake java.exe and jvm.dll: it is
  // unpacked and loaded, so no search runs.
  fs::path jre = box.dir() / "jre";
  fs::create_directories(jre / "bin" / "server");
  fs::copy_file(outDir() / "testing" / "fakejava" / "java.exe", jre / "bin" / "java.exe");
  std::ofstream(jre / "bin" / "java.exe.behaviour") << "stderr java version \"11.0.2\"\n";
  fs::copy_file(outDir() / "testing" / "jre" / "bin" / "server" / "jvm.dll",
                jre / "bin" / "server" / "jvm.dll");
  ASSERT_EQ(
      std::system(
          ("tar -czf '" + (box.dir() / "jre.tar.gz").string() + "' -C '" + jre.string() + "' bin").c_str()),
      0);
  json m = Sandbox::baseManifest();
  m["files"] = json::array({{{"name", "sktruntime.jar"}, {"text", "runtime"}},
                            {{"name", "jre.tar.gz"}, {"source", (box.dir() / "jre.tar.gz").string()}},
                            {{"name", "lib\\app.jar"}, {"text", "app"}}});
  m["trailer"] = {{"text", "for the Java side"}};
  fs::path exe = box.build(m);
  fs::path testDir = box.dir() / "setup.exe.test";
  RunResult r = box.runCommandLine("\"" + winPath(exe) + "\" __skt_extract_and_exit -q",
                                   {.env = {{"SHIPKIT_LOG", "yes"}}});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  ASSERT_TRUE(fs::is_directory(testDir));
  EXPECT_EQ(Sandbox::readFile(testDir / "sktruntime.jar"), "runtime");
  EXPECT_EQ(Sandbox::readFile(testDir / "lib" / "app.jar"), "app");
  std::string position = inspectedValue(exe, "unextracted position");
  ASSERT_FALSE(position.empty());
  EXPECT_EQ(Sandbox::readFile(testDir / "unextracted.txt"), position);
  auto lines = Sandbox::logLines(box.logs().at(0));
  EXPECT_TRUE(contains(lines, "extract and exit mode"));
  EXPECT_TRUE(contains(lines, "Extracted dir: " + winPath(testDir)));
  EXPECT_TRUE(contains(lines, "JRE included"));
  // No temporary extraction directory was made.
  for (const auto& e : fs::directory_iterator(box.temp()))
    EXPECT_EQ(e.path().filename().string().find(".tmp_dir"), std::string::npos);

  // A second run into the existing directory is fine, and replaces files left there, also
  // longer ones, by the payload's.
  std::ofstream(testDir / "sktruntime.jar", std::ios::trunc) << "an older and longer runtime";
  RunResult again = box.runCommandLine("\"" + winPath(exe) + "\" __skt_extract_and_exit -q");
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(Sandbox::readFile(testDir / "sktruntime.jar"), "runtime");
}

TEST(ExtractOnly, DirectoryThatCannotBeCreatedIsInternalError70) {
  Sandbox box;
  json m = Sandbox::baseManifest();
  m["files"] = json::array({{{"name", "jre.tar.gz"}, {"text", "x"}}});
  fs::path exe = box.build(m);
  // A file where the directory should go.
  std::system(("echo blocker > '" + (box.dir() / "setup.exe.test").string() + "'").c_str());
  RunResult r = box.runCommandLine("\"" + winPath(exe) + "\" __skt_extract_and_exit -q",
                                   {.env = {{"SHIPKIT_LOG", "yes"}}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("An internal error occurred (error code: 70)"), std::string::npos) << r.err;
  bool logged = false;
  for (const auto& l : Sandbox::logLines(box.logs().at(0)))
    logged |= l.rfind("Could not create dir " + winPath(box.dir() / "setup.exe.test") + " (", 0) == 0;
  EXPECT_TRUE(logged);
  EXPECT_TRUE(fs::is_regular_file(box.dir() / "setup.exe.test")) << "the blocking file is left alone";
}
