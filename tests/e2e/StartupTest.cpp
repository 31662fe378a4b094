// Start-up, the container reader's fatal texts, the diagnostic log and the command line,
// with the launcher run under Wine on installers built by the packer.
#include <gtest/gtest.h>

#include <fstream>

#include "E2eSupport.h"

using namespace e2e;

namespace {

std::string lastLine(const std::string& text) {
  std::string t = text;
  while (!t.empty() && t.back() == '\n') t.pop_back();
  return t.substr(t.rfind('\n') == std::string::npos ? 0 : t.rfind('\n') + 1);
}

// Cuts an installer's file at `size` bytes.
void truncateTo(const fs::path& file, std::uintmax_t size) {
  fs::resize_file(file, size);
}

std::uintmax_t findUtf16(const fs::path& file, const std::u16string& text) {
  std::string bytes = Sandbox::readFile(file);
  std::string needle;
  for (char16_t c : text) needle += char(c & 0xFF), needle += char(c >> 8);
  std::size_t at = bytes.rfind(needle);
  return at == std::string::npos ? 0 : at;
}

}  // namespace

TEST(ContainerErrors, StubWithNothingAppendedFailsReadingTheMagic) {
  Sandbox box;
  fs::path stub = box.dir() / "bare.exe";
  fs::copy_file(outDir() / "launcher.exe", stub);
  RunResult r = box.run(stub, "", {.env = {{"SHIPKIT_LOG", "yes"}}});
  EXPECT_EQ(r.exitCode, 1);
  // Messages are not loaded yet: an empty caption, the text, and the kept log's path.
  ASSERT_EQ(r.dialogs.size(), 1u) << r.err;
  EXPECT_EQ(r.dialogs[0].rfind("|Internal Error: readInt\\n\\nLog: ", 0), 0u) << r.dialogs[0];
  ASSERT_EQ(box.logs().size(), 1u);
  auto lines = Sandbox::logLines(box.logs()[0]);
  EXPECT_TRUE(contains(lines, "error 0 0")) << testing::PrintToString(lines);
}

TEST(ContainerErrors, WrongMagic) {
  Sandbox box;
  json m = Sandbox::baseManifest();
  m["header"] = {{"magic", 0x12345678}};
  RunResult r = box.run(box.build(m), "");
  EXPECT_EQ(r.exitCode, 1);
  ASSERT_EQ(r.dialogs.size(), 1u);
  EXPECT_EQ(r.dialogs[0].rfind("|Internal Error: magic", 0), 0u) << r.dialogs[0];
}

TEST(ContainerErrors, TruncatedMessageTable) {
  Sandbox box;
  json m = Sandbox::baseManifest();
  m["messages"]["20016"] = "A long enough message text to cut in the middle";
  fs::path exe = box.build(m);
  std::uintmax_t at = findUtf16(exe, u"A long enough");
  ASSERT_GT(at, 0u);
  truncateTo(exe, at + 10);
  RunResult r = box.run(exe, "");
  EXPECT_EQ(r.exitCode, 1);
  // Message 1000 was read before the cut, so the box already has its caption.
  ASSERT_EQ(r.dialogs.size(), 1u);
  EXPECT_EQ(r.dialogs[0].rfind("Error|Internal Error: readWString", 0), 0u) << r.dialogs[0];
}

TEST(ContainerErrors, HostileLengthEndsLikeAShortRead) {
  // A message length of 2 GiB in a small file: the same fatal text, no huge allocation.
  Sandbox box;
  json m = Sandbox::baseManifest();
  m["messages"]["20016"] = "XYZW";
  fs::path exe = box.build(m);
  std::uintmax_t at = findUtf16(exe, u"XYZW");
  ASSERT_GT(at, 4u);
  std::fstream f(exe, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(std::streamoff(at - 4));
  f.write("\xFE\xFF\xFF\x7F", 4);
  f.close();
  RunResult r = box.run(exe, "");
  EXPECT_EQ(r.exitCode, 1);
  ASSERT_EQ(r.dialogs.size(), 1u);
  EXPECT_EQ(r.dialogs[0].rfind("Error|Internal Error: readWString", 0), 0u) << r.dialogs[0];
}

TEST(ContainerErrors, ConsoleReportingAfterTheContainerIsRead) {
  // Entry 107 = 0 switches later errors to standard error, with the log path appended.
  Sandbox box;
  json m = Sandbox::baseManifest();
  RunResult r = box.run(box.build(m), "-q -manual", {.env = {{"SHIPKIT_LOG", "no"}}});
  // Quiet, no runtime, no download allowed.
  EXPECT_EQ(r.exitCode, 83) << r.err;
  EXPECT_NE(r.out.find("No JRE found. Aborting.\n"), std::string::npos) << r.out;
  EXPECT_TRUE(r.dialogs.empty());
  EXPECT_TRUE(box.logs().empty()) << "the log is deleted at a normal exit";
}

TEST(ContainerErrors, FatalMessageOnStandardErrorWithLogPath) {
  Sandbox box;
  json m = Sandbox::baseManifest();
  m["config"]["155"] = "1";  // start without dialog: the runtime step shows its error
  m["config"]["157"] = "1";  // a download from no location fails
  RunResult r = box.run(box.build(m), "-manual", {.env = {{"SHIPKIT_DOWNLOAD_POLICY", "3,0,1,0"}}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.dialogs.empty()) << r.dialogs[0];
  ASSERT_EQ(box.logs().size(), 1u) << "showing the log path keeps the log";
  std::string expected =
      "Error downloading the Java(TM) Runtime Environment.\n\nLog: " + winPath(box.logs()[0]);
  EXPECT_EQ(lastLine(r.err), lastLine(expected)) << r.err;
  EXPECT_NE(r.err.find("Error downloading the Java(TM) Runtime Environment."), std::string::npos) << r.err;
}

TEST(RunModes, DialogOpenedOnlyForTheRuntimeStepDoesNotRepeatTheMainWork) {
  // Start without dialog, not quiet, no runtime: the progress dialog opened for the runtime
  // step runs only that step on its thread; the main work (verification, extraction) runs once.
  Sandbox box;
  json m = Sandbox::baseManifest();
  m["config"]["155"] = "1";
  m["config"]["157"] = "1";  // a download from no location fails
  m["files"] = json::array({{{"name", "a.txt"}, {"text", "x"}}});
  RunResult r = box.run(box.build(m), "-manual",
                        {.env = {{"SHIPKIT_LOG", "yes"}, {"SHIPKIT_DOWNLOAD_POLICY", "3,0,1,0"}}});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("Error downloading the Java(TM) Runtime Environment."), std::string::npos) << r.err;
  ASSERT_EQ(box.logs().size(), 1u);
  auto lines = Sandbox::logLines(box.logs()[0]);
  int starts = 0, extractions = 0;
  for (const auto& l : lines) {
    starts += l == "Starting work";
    extractions += l == "extracting files";
  }
  EXPECT_EQ(starts, 1) << testing::PrintToString(lines);
  EXPECT_EQ(extractions, 1) << testing::PrintToString(lines);
}

TEST(DiagnosticLog, KeptWithShipkitLogYesAndNumberedPastExistingFiles) {
  Sandbox box;
  fs::path exe = box.build(Sandbox::baseManifest());
  for (int n = 1; n <= 3; ++n)
    std::ofstream(box.temp() / ("skt_nlog_" + std::to_string(n) + ".log")) << "old";
  RunResult r = box.run(exe, "-q -manual", {.env = {{"SHIPKIT_LOG", "yes"}}});
  EXPECT_EQ(r.exitCode, 83);
  ASSERT_EQ(box.logs().size(), 4u);
  fs::path log = box.temp() / "skt_nlog_4.log";
  std::string raw = Sandbox::readFile(log);
  EXPECT_EQ(raw.rfind("\xEF\xBB\xBFStarted executable " + winPath(exe) + " at ", 0), 0u)
      << raw.substr(0, 200);
  auto lines = Sandbox::logLines(log);
  int first = -1;
  for (int i = 0; i < int(lines.size()); ++i)
    if (lines[i].rfind("number of sections: ", 0) == 0) first = i;
  ASSERT_GE(first, 0) << testing::PrintToString(lines);
  EXPECT_EQ(lines[first + 1].rfind("size of optional headers: ", 0), 0u);
  EXPECT_EQ(lines[first + 2].rfind("resSectionTableStart: ", 0), 0u);
  EXPECT_EQ(lines[first + 3].rfind("rawDataSize: ", 0), 0u);
  EXPECT_TRUE(contains(lines, "language/country is en_US")) << testing::PrintToString(lines);
  EXPECT_TRUE(contains(lines, "Init done"));
  EXPECT_TRUE(contains(lines, "Quiet installer."));
  EXPECT_TRUE(contains(lines, "ERROR: No JRE found"));
  // Every line carries the time prefix.
  std::string body = raw.substr(raw.find("\r\n\r\n") + 4);
  EXPECT_EQ(body.rfind("[", 0), 0u);
}

TEST(DiagnosticLog, DeletedUnlessTheValueIsExactlyYes) {
  for (const char* value : {"YES", "yes ", "1", ""}) {
    Sandbox box;
    RunResult r =
        box.run(box.build(Sandbox::baseManifest()), "-q -manual", {.env = {{"SHIPKIT_LOG", value}}});
    EXPECT_EQ(r.exitCode, 83);
    EXPECT_TRUE(box.logs().empty()) << "SHIPKIT_LOG=" << value;
  }
  Sandbox box;
  RunResult r = box.run(box.build(Sandbox::baseManifest()), "-q -manual", {.env = {{"JARWRAP_LOG", "yes"}}});
  EXPECT_EQ(box.logs().size(), 1u);
}

TEST(DiagnosticLog, LogSwitchOnlyAsFirstArgument) {
  Sandbox box;
  fs::path exe = box.build(Sandbox::baseManifest());
  RunResult r = box.run(exe, "-create-skt-log -q -manual", {.answer = "no"});
  EXPECT_EQ(r.exitCode, 83);
  ASSERT_EQ(box.logs().size(), 1u);
  ASSERT_EQ(r.dialogs.size(), 1u);
  EXPECT_EQ(r.dialogs[0], "shipkit|The following log file will be created:\\n\\n" + winPath(box.logs()[0]) +
                              "\\n\\nDo you want to open an Explorer window?");

  Sandbox box2;
  fs::path exe2 = box2.build(Sandbox::baseManifest());
  RunResult r2 = box2.run(exe2, "-q -create-skt-log -manual", {.answer = "no"});
  EXPECT_EQ(r2.exitCode, 83);
  EXPECT_TRUE(r2.dialogs.empty());
  EXPECT_TRUE(box2.logs().empty());
}

TEST(CommandLine, SwitchesAreCaseSensitive) {
  Sandbox box;
  json m = Sandbox::baseManifest();
  m["config"]["155"] = "1";
  fs::path exe = box.build(m);
  // "-Q" is not quiet: the run reaches the runtime step without the quiet exit 83.
  RunResult r = box.run(exe, "-Q -manual", {.env = {{"SHIPKIT_LOG", "yes"}}});
  EXPECT_EQ(r.exitCode, 1);
  auto lines = Sandbox::logLines(box.logs().at(0));
  EXPECT_FALSE(contains(lines, "Quiet installer."));
  // "-MANUAL" does not skip the search: the quiet run searches and ends with 83 anyway,
  // but "-q" is seen.
  RunResult r2 = box.run(exe, "-q -MANUAL", {.env = {{"SHIPKIT_LOG", "yes"}}});
  EXPECT_EQ(r2.exitCode, 83);
}

TEST(CommandLine, RebootWordWithExtraTextIsAnOrdinaryRun) {
  Sandbox box;
  fs::path exe = box.build(Sandbox::baseManifest());
  RunResult r = box.runCommandLine("\"" + winPath(exe) + "\" __skt_rebootx -q -manual",
                                   {.env = {{"SHIPKIT_LOG", "yes"}}});
  EXPECT_EQ(r.exitCode, 83);
  ASSERT_EQ(box.logs().size(), 1u);
  EXPECT_TRUE(contains(Sandbox::logLines(box.logs()[0]), "Init done"));
}

struct QuotingCase {
  std::string arguments;  // after the program path; "DIR" stands for the temp directory
  std::string logged;     // the directory as the manual-temp line shows it
  bool usable;
};

void PrintTo(const QuotingCase& c, std::ostream* os) {
  *os << c.arguments;
}

class TempSwitchQuoting : public testing::TestWithParam<QuotingCase> {};

TEST_P(TempSwitchQuoting, DirectoryWordAsSplit) {
  Sandbox box;
  fs::path exe = box.build(Sandbox::baseManifest());
  fs::path spaced = box.dir() / "my temp";
  fs::create_directories(spaced);
  std::string dir = winPath(box.dir());
  auto sub = [&](std::string s) {
    for (std::size_t at; (at = s.find("DIR")) != std::string::npos;) s.replace(at, 3, dir);
    return s;
  };
  RunResult r = box.run(exe, sub(GetParam().arguments), {.env = {{"SHIPKIT_LOG", "yes"}}});
  EXPECT_EQ(r.exitCode, 83) << r.err;
  auto lines = Sandbox::logLines(box.logs().empty() ? box.dir() / "none" : box.logs()[0]);
  std::string word = sub(GetParam().logged);
  std::string expected = GetParam().usable ? "Using manual temp dir " + word + " (" + word + ")"
                                           : "Manual temp dir not usable " + word + " (" + word + ")";
  EXPECT_TRUE(contains(lines, expected)) << expected << "\n" << testing::PrintToString(lines);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, TempSwitchQuoting,
    testing::Values(QuotingCase{"-q -manual -temp \"DIR\\my temp\"", "DIR\\my temp", true},
                    QuotingCase{"-q -manual -temp 'DIR\\my temp'", "DIR\\my temp", true},
                    QuotingCase{"-q -manual -temp DIR\\\"my temp\"", "DIR\\my temp", true},
                    QuotingCase{"-q -manual -temp \"DIR\\my temp", "DIR\\my temp", true},
                    QuotingCase{"-q -manual -temp \"DIR\\my\"temp", "DIR\\my", false},
                    QuotingCase{"-q -manual -temp DIR\\my temp", "DIR\\my", false}),
    [](const testing::TestParamInfo<QuotingCase>& info) { return "case" + std::to_string(info.index); });

TEST(LauncherPaths, DirectoryOutsideTheAnsiCodePageUsesTheShortForm) {
  // Cyrillic letters have no place in the Western code page: the narrow launcher path falls
  // back to the short (8.3) form, and extraction still works.
  Sandbox box;
  fs::path odd = box.dir() / "\xD0\xA3\xD1\x81\xD1\x82\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2\xD0\xBA\xD0\xB0";
  fs::create_directories(odd);
  json m = Sandbox::baseManifest();
  m["files"] = json::array({{{"name", "a.txt"}, {"text", "ok"}}});
  fs::path built = box.build(m);
  fs::path exe = odd / "setup.exe";
  fs::rename(built, exe);
  RunResult r = box.run(exe, "-q -manual", {.env = {{"SHIPKIT_LOG", "yes"}}});
  EXPECT_EQ(r.exitCode, 83) << r.err;
  auto lines = Sandbox::logLines(box.logs().at(0));
  std::string init;
  for (const auto& l : lines)
    if (l.rfind("init file name ", 0) == 0) init = l;
  EXPECT_NE(init.find(winPath(exe)), std::string::npos) << init;
  bool extracted = false;
  for (const auto& l : lines) extracted |= l == "extracting files done";
  EXPECT_TRUE(extracted) << testing::PrintToString(lines);
}
