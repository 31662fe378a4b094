// The process and handle natives through the real handshake: the launcher registers its
// natives with the fake jvm.dll, whose Java side lists the running processes and the
// launcher's own open files; the report shows what the natives returned.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "E2eSupport.h"

using namespace e2e;

namespace {

using ProcessNativesLaunch = JavaSideLaunch;

TEST_F(ProcessNativesLaunch, RunningModulesAndOpenFilesReachTheJavaSide) {
  RunResult r =
      run({{"main", {call("Misc.getRunningModules0", {false}), call("Win32Handle.list0", json::array())}}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const json rep = report();
  ASSERT_TRUE(rep.is_object());
  const json& calls = rep["calls"];
  ASSERT_EQ(calls.size(), 2u) << calls.dump().substr(0, 2000);
  for (const json& c : calls) {
    EXPECT_EQ(c["exception"], nullptr) << c.dump().substr(0, 500);
    EXPECT_EQ(c["localRefsLeft"], 0) << c.dump().substr(0, 500);
  }

  // The installer's own process is among the running ones, as "<id> <path>".
  const json& modules = calls[0]["result"];
  ASSERT_TRUE(modules.is_array()) << modules.dump();
  EXPECT_TRUE(std::any_of(modules.begin(), modules.end(), [](const json& entry) {
    const std::string text = lower(entry.get<std::string>());
    return text.ends_with("\\setup.exe") && std::isdigit(static_cast<unsigned char>(text[0]));
  })) << modules.dump().substr(0, 3000);

  // [int[] handle values, String[] names], index by index. The launcher's current directory
  // (the extraction directory below the sandbox's temporary root) is an open file object.
  // Wine names it \??\Z:\..., Windows \Device\HarddiskVolumeN\...: only the
  // part below the drive is compared.
  const json& files = calls[1]["result"];
  ASSERT_TRUE(files.is_array() && files.size() == 2) << files.dump().substr(0, 2000);
  const json& handles = files[0]["int[]"];
  const json& names = files[1];
  ASSERT_EQ(handles.size(), names.size());
  EXPECT_FALSE(names.empty());
  for (const json& name : names) EXPECT_FALSE(name.get<std::string>().empty());
  const std::string tempBelowDrive = winPath(box_.temp()).substr(2) + "\\";
  EXPECT_TRUE(std::any_of(
      names.begin(), names.end(),
      [&](const json& name) { return name.get<std::string>().find(tempBelowDrive) != std::string::npos; }))
      << tempBelowDrive << " in " << names.dump();
}

}  // namespace
