// The launcher's natives through the real handshake: the launcher loads the fake jvm.dll,
// registers its natives with it, and the fake Java side calls registry natives from its
// scenario. The report shows what was registered and what each call returned; reg.exe
// checks independently what reached the registry.
#include <gtest/gtest.h>
#include <unistd.h>

#include "E2eSupport.h"

using namespace e2e;

namespace {

class NativesLaunch : public JavaSideLaunch {
 protected:
  NativesLaunch() : key_("Software\\shipkit-e2e-natives-" + std::to_string(::getpid())) { removeKey(); }
  ~NativesLaunch() override { removeKey(); }

  void removeKey() { reg("delete 'HKCU\\" + key_ + "' /f >/dev/null"); }
  // reg.exe under the tests' Wine prefix.
  static ToolResult reg(const std::string& arguments) { return runWineTool("reg " + arguments); }

  std::string key_;
};

TEST_F(NativesLaunch, RegistryNativesAnswerAfterTheHandshakeRegisteredThem) {
  const std::string child = key_ + "\\child";
  RunResult r =
      run({{"main",
            {call("Registry.setValue0", {2, key_, "greeting", "hello", 1, 0}),
             call("Registry.getValue0", {2, key_, "greeting", 0}),
             call("Registry.setValue0", {2, child, "n", {{"Integer", 42}}, 2, 0}),
             call("Registry.enumSubKeys0", {2, key_, 0}), call("Registry.enumValues0", {2, key_, 0}),
             call("Registry.keyExists0", {2, key_ + "\\missing", 0})}}});
  ASSERT_EQ(r.exitCode, 0) << r.err << testing::PrintToString(log());
  json rep = report();
  ASSERT_TRUE(rep.is_object());

  const json& registered = rep["registered"];
  ASSERT_EQ(registered.size(), 79u);
  EXPECT_EQ(registered.front(), (json{{"class", "com/shipkit/runtime/installer/platform/win32/ACLHandling"},
                                      {"name", "addACE"},
                                      {"signature", "(Ljava/lang/String;ZZZZZILjava/lang/String;)Z"}}));
  EXPECT_EQ(registered.back()["class"], "com/shipkit/runtime/installer/platform/win32/Win32Services");
  EXPECT_EQ(registered.back()["name"], "getServiceBinary0");
  EXPECT_EQ(rep["initFromLauncher"], json{true}) << "no second call: registration succeeded";
  EXPECT_FALSE(contains(log(), "ERROR: registering helper dll failed"));

  const json& calls = rep["calls"];
  ASSERT_EQ(calls.size(), 6u) << calls.dump();
  const json expected[] = {true, "hello", true, json{"child"}, json{"greeting"}, false};
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i]["result"], expected[i]) << calls[i].dump();
    EXPECT_EQ(calls[i]["exception"], nullptr) << calls[i].dump();
    EXPECT_EQ(calls[i].count("error"), 0u) << calls[i].dump();
  }
  EXPECT_TRUE(rep["callsWithPendingException"].empty()) << rep["callsWithPendingException"].dump();

  ToolResult greeting = reg("query 'HKCU\\" + key_ + "' /v greeting");
  EXPECT_EQ(greeting.exitCode, 0);
  EXPECT_NE(greeting.out.find("REG_SZ    hello"), std::string::npos) << greeting.out;
  ToolResult number = reg("query 'HKCU\\" + child + "' /v n");
  EXPECT_NE(number.out.find("REG_DWORD    0x2a"), std::string::npos) << number.out;

  // A second launch deletes the tree through deleteKey0.
  r = run({{"main",
            {call("Registry.deleteKey0", {2, key_, false, 0}), call("Registry.keyExists0", {2, key_, 0})}}});
  ASSERT_EQ(r.exitCode, 0) << r.err << testing::PrintToString(log());
  EXPECT_EQ(report()["calls"][1]["result"], false);
  EXPECT_NE(reg("query 'HKCU\\" + key_ + "'").exitCode, 0) << "the key is gone";
}

TEST_F(NativesLaunch, AFailedRegistrationIsLoggedAndTheLaunchGoesOn) {
  RunResult r = run({{"missingClasses", {"com/shipkit/runtime/installer/platform/win32/Registry"}}});
  ASSERT_EQ(r.exitCode, 0) << r.err << testing::PrintToString(log());
  json rep = report();
  EXPECT_EQ(rep["initFromLauncher"], (json{true, false}));
  EXPECT_EQ(rep["registered"].size(), 54u) << "the eleven classes before Registry";
  auto lines = log();
  int missing =
      indexOf(lines, "ERROR: could not load class com/shipkit/runtime/installer/platform/win32/Registry");
  EXPECT_GE(missing, 0) << testing::PrintToString(lines);
  EXPECT_EQ(indexOf(lines, "ERROR: registering helper dll failed"), missing + 1);
  EXPECT_EQ(rep["mainClass"], "com/shipkit/runtime/launcher/WinLauncher");
}

}  // namespace
