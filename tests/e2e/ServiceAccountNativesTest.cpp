// Service and account natives through the real handshake: the launcher registers its natives
// with the fake jvm.dll, and the fake Java side installs, queries and removes a service and
// asks for account facts. The report shows each call's result; sc.exe removes the service
// before and after in case a run stopped half-way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <random>

#include "E2eSupport.h"

using namespace e2e;

namespace {

std::string uniqueServiceName() {
  std::random_device random;
  char text[64];
  std::snprintf(text, sizeof text, "shipkit-e2e-%d-%08x%08x", int(::getpid()), random(), random());
  return text;
}

class ServiceAccountLaunch : public JavaSideLaunch {
 protected:
  ServiceAccountLaunch() : service_(uniqueServiceName()) { removeService(); }
  ~ServiceAccountLaunch() override { removeService(); }

  void removeService() { runWineTool("sc delete " + service_ + " >/dev/null"); }

  std::string service_;
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
