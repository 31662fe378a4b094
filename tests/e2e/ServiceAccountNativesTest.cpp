// Service and account natives through the real handshake: the launcher registers its natives
// with the fake jvm.dll, and the fake Java side installs, queries and removes a service and
// asks for account facts. The report shows each call's result; sc.exe removes the service
// before and after in case a run stopped half-way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "E2eSupport.h"

using namespace e2e;

namespace {

void runQuietly(const std::string& arguments) {
  const std::string command =
      "'" + (repoRoot() / "scripts" / "wine-run").string() + "' " + arguments + " >/dev/null 2>&1 </dev/null";
  if (FILE* p = ::popen(command.c_str(), "r")) ::pclose(p);
}

std::string uniqueServiceName() {
  std::random_device random;
  char text[64];
  std::snprintf(text, sizeof text, "shipkit-e2e-%d-%08x%08x", int(::getpid()), random(), random());
  return text;
}

class ServiceAccountLaunch : public ::testing::Test {
 protected:
  ServiceAccountLaunch() : report_(box_.dir() / "report.json"), service_(uniqueServiceName()) {
    removeService();
    manifest_["config"]["122"] = "com.example.Main";
    manifest_["config"]["128"] = "ESKT_TEST_JRE;";
    const fs::path rt = box_.dir() / "rt";
    makeFakeRuntime(rt);
    runtime_ = rt;
  }
  ~ServiceAccountLaunch() override { removeService(); }

  void removeService() { runQuietly("sc delete " + service_); }

  RunResult run(const json& scenario) {
    const fs::path file = box_.dir() / "scenario.json";
    std::ofstream(file) << scenario.dump();
    RunOptions options;
    options.env = {{"FAKEJVM_REPORT", winPath(report_)},
                   {"FAKEJVM_SCENARIO", winPath(file)},
                   {"SKT_TEST_JRE", winPath(runtime_)}};
    return box_.run(box_.build(manifest_), "-q", options);
  }
  json report() const { return reportOf(report_); }
  static json call(const std::string& target, const json& args) { return {{"call", target}, {"args", args}}; }

  Sandbox box_;
  fs::path report_;
  std::string service_;
  fs::path runtime_;
  json manifest_ = Sandbox::baseManifest();
};

TEST_F(ServiceAccountLaunch, ServiceAndAccountNativesAnswerAfterRegistration) {
  const std::string binary = "C:\\shipkit\\no-such-service.exe";
  RunResult r =
      run({{"main",
            {call("Win32Services.queryStatus0", {service_}),
             call("Win32Services.installService0", {service_, "shipkit e2e", binary}),
             call("Win32Services.installService0", {service_, "shipkit e2e", binary}),
             call("Win32Services.queryStatus0", {service_}), call("Win32Services.getStartType0", {service_}),
             call("Win32Services.getServiceBinary0", {service_}),
             call("Win32Services.uninstallService0", {service_}),
             call("Win32Services.getServiceBinary0", {service_}),
             call("Win32UserInfo.getAccountName0", {"S-1-5-32-544", false}),
             call("Win32UserInfo.getAccountName0", {"S-1-5-20", false}),
             call("Win32UserInfo.isMemberOfGroup0", {544}),
             call("Win32UserInfo.getElevationType0", json::array()),
             call("Win32UserInfo.getUserProfileDirectory0", {"S-1-5-18", nullptr})}}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const json rep = report();
  ASSERT_TRUE(rep.is_object());
  EXPECT_EQ(rep["registered"].size(), 79u);
  const json& calls = rep["calls"];
  const json expected[] = {1060,
                           0,
                           1073,
                           -1,
                           -3,
                           binary,
                           0,
                           " 1060",
                           ".\\Administrators",
                           "NT AUTHORITY\\NetworkService",
                           true,
                           2,
                           " no user account"};
  ASSERT_EQ(calls.size(), std::size(expected)) << calls.dump();
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i]["result"], expected[i]) << i << " " << calls[i].dump();
    EXPECT_EQ(calls[i]["exception"], nullptr) << calls[i].dump();
    EXPECT_EQ(calls[i]["localRefsLeft"], 0) << calls[i].dump();
  }
  EXPECT_TRUE(rep["callsWithPendingException"].empty()) << rep["callsWithPendingException"].dump();
}

}  // namespace
