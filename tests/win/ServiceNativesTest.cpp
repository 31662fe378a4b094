// The Win32Services natives against Wine's real service control manager, with a real service
// (testservice.exe) that records its start arguments and stops at once, slowly while
// advancing its check point, or never. Each test uses a service name made from a fresh GUID,
// removed before and after. The configuration is read back from the service's registry key
// (Wine's sc.exe has no "qc"). Wine accepts failure actions without storing them and refuses
// delayed auto-start, so those records are checked through the natives' call table.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "NativeCallFixture.h"
#include "natives/services/ServiceCalls.h"

namespace {

using nlohmann::json;
using wintest::waitFor;
using wintest::wide;

constexpr int kNoChange = -1;  // SERVICE_NO_CHANGE as a Java int
constexpr int kAutoStart = 2, kDemandStart = 3, kDisabled = 4;

struct ServiceKey {
  LSTATUS status = ERROR_FILE_NOT_FOUND;
  std::wstring text(const wchar_t* name) const { return read(name, REG_SZ); }
  std::wstring multi(const wchar_t* name) const { return read(name, REG_MULTI_SZ); }
  DWORD dword(const wchar_t* name) const {
    DWORD value = 0xdeadbeef, size = sizeof value;
    RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
  }
  std::wstring read(const wchar_t* name, DWORD type) const {
    std::vector<wchar_t> data(4096, L'\x2a');
    DWORD size = DWORD(data.size() * 2), got = 0;
    if (RegQueryValueExW(key, name, nullptr, &got, reinterpret_cast<BYTE*>(data.data()), &size) != 0 ||
        got != type)
      return L"<missing>";
    return std::wstring(data.data(), size / 2);
  }
  ~ServiceKey() {
    if (key) RegCloseKey(key);
  }
  HKEY key = nullptr;
};

class ServiceNatives : public wintest::SystemNativeCalls {
 protected:
  ServiceNatives() : SystemNativeCalls("Win32Services") {}
  void SetUp() override {
    SystemNativeCalls::SetUp();
    name_ = wintest::uniqueName("shipkit-test-");
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    record_ = std::string(temp, temp + wcslen(temp)) + name_ + ".txt";
    saved_ = shipkit::natives::serviceCalls();
    shipkit::natives::serviceCalls().stopPollMillis = 100;
    removeService();
  }
  void TearDown() override {
    shipkit::natives::serviceCalls() = saved_;
    removeService();
    DeleteFileA(record_.c_str());
  }

  // The test service's command line for one way of stopping.
  std::string binary(const std::string& mode) const {
    return "\"" + wintest::zPath(TESTSERVICE_EXE) + "\" \"" + record_ + "\" " + mode;
  }
  int install(const std::string& mode) {
    return call("installService0", {name_, "shipkit test service", binary(mode)}).get<int>();
  }

  // Ends a service process that ignores stop requests, then deletes the service.
  void removeService() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return;
    SC_HANDLE service = OpenServiceW(manager, wide(name_).c_str(), SERVICE_ALL_ACCESS);
    if (service) {
      SERVICE_STATUS_PROCESS status{};
      DWORD size = 0;
      if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                               sizeof status, &size) &&
          status.dwCurrentState != SERVICE_STOPPED && status.dwProcessId != 0) {
        if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId)) {
          TerminateProcess(process, 9);
          WaitForSingleObject(process, 5000);
          CloseHandle(process);
        }
      }
      DeleteService(service);
      CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
  }

  ServiceKey serviceKey() const {
    ServiceKey k;
    k.status =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, (L"System\\CurrentControlSet\\Services\\" + wide(name_)).c_str(), 0,
                      KEY_READ, &k.key);
    return k;
  }

  int status() { return call("queryStatus0", {name_}).get<int>(); }
  bool becomes(int state) {
    return waitFor([&] { return status() == state; });
  }

  std::string name_;
  std::string record_;
  shipkit::natives::ServiceCalls saved_{};
};

TEST_F(ServiceNatives, InstallsConfiguresAndUninstalls) {
  ASSERT_EQ(install("stop"), 0);
  EXPECT_EQ(install("stop"), 1073) << "the service exists already";
  EXPECT_EQ(call("getStartType0", {name_}), -kDemandStart);
  EXPECT_EQ(call("getServiceBinary0", {name_}), binary("stop"));
  EXPECT_EQ(status(), -1);

  EXPECT_EQ(call("changeServiceConfig0", {name_, "Renamed", binary("slow"), kNoChange, kAutoStart, "a,,b",
                                          "NT AUTHORITY\\LocalSystem", nullptr, "What it does"}),
            0);
  EXPECT_EQ(call("getStartType0", {name_}), -kAutoStart);
  EXPECT_EQ(call("getServiceBinary0", {name_}), binary("slow"));
  {
    ServiceKey k = serviceKey();
    ASSERT_EQ(k.status, ERROR_SUCCESS);
    EXPECT_EQ(k.text(L"DisplayName"), L"Renamed" + std::wstring(1, L'\0'));
    EXPECT_EQ(k.dword(L"Start"), DWORD(kAutoStart));
    EXPECT_EQ(k.dword(L"Type"), DWORD(SERVICE_WIN32_OWN_PROCESS)) << "kept with SERVICE_NO_CHANGE";
    EXPECT_EQ(k.multi(L"DependOnService"), std::wstring(L"a\0b\0\0", 5));
    EXPECT_EQ(k.text(L"ObjectName"), std::wstring(L"LocalSystem\0", 12));
    EXPECT_EQ(k.text(L"Description"), std::wstring(L"What it does\0", 13));
  }

  // Null dependencies remove them all; null strings change nothing else; a lower-case
  // system account is passed on as it is.
  EXPECT_EQ(call("changeServiceConfig0", {name_, nullptr, nullptr, kNoChange, kDisabled, nullptr,
                                          "nt authority\\localsystem", nullptr, nullptr}),
            0);
  {
    ServiceKey k = serviceKey();
    EXPECT_EQ(k.text(L"DisplayName"), L"Renamed" + std::wstring(1, L'\0'));
    EXPECT_EQ(k.dword(L"Start"), DWORD(kDisabled));
    const std::wstring deps = k.multi(L"DependOnService");
    EXPECT_TRUE(deps == L"<missing>" || deps.find_first_not_of(L'\0') == std::wstring::npos)
        << "no dependencies left";
    EXPECT_EQ(k.text(L"ObjectName"), std::wstring(L"nt authority\\localsystem\0", 25));
    EXPECT_EQ(k.text(L"Description"), std::wstring(L"What it does\0", 13));
  }

  EXPECT_EQ(call("uninstallService0", {name_}), 0);
  EXPECT_NE(serviceKey().status, ERROR_SUCCESS) << "the service's key is gone";
  EXPECT_EQ(call("uninstallService0", {name_}), 1060);
}

// A boot-start driver's start type is 0: the one query result that is neither negative nor an
// error code.
TEST_F(ServiceNatives, ABootStartDriverAnswersZero) {
  ASSERT_EQ(install("stop"), 0);
  EXPECT_EQ(call("changeServiceConfig0", {name_, nullptr, nullptr, SERVICE_KERNEL_DRIVER, SERVICE_BOOT_START,
                                          nullptr, nullptr, nullptr, nullptr}),
            0);
  EXPECT_EQ(call("getStartType0", {name_}), 0);
  EXPECT_EQ(serviceKey().dword(L"Type"), DWORD(SERVICE_KERNEL_DRIVER));
}

TEST_F(ServiceNatives, AMissingServiceAnswers1060Everywhere) {
  struct Row {
    const char* method;
    json args;
    json expected;
  } rows[] = {
      {"queryStatus0", {name_}, 1060},
      {"getStartType0", {name_}, 1060},
      {"getServiceBinary0", {name_}, " 1060"},
      {"stopService0", {name_, 0}, 1060},
      {"startService0", {name_, nullptr}, 1060},
      {"uninstallService0", {name_}, 1060},
      {"changeServiceConfig0",
       {name_, "x", nullptr, kNoChange, kNoChange, nullptr, nullptr, nullptr, nullptr},
       1060},
      {"setDelayedAutoStart0", {name_, true}, 1060},
      {"setRestartServiceConfig0", {name_, true, 1000, 3, 60}, 1060},
  };
  for (const auto& row : rows) EXPECT_EQ(call(row.method, row.args), row.expected) << row.method;
}

// Null strings reach the service manager as null pointers, which it refuses with an error
// code (Wine: 487, Windows: 123 or 87): a positive code, never a query result. A null
// element of the start arguments is refused before it reaches the manager.
TEST_F(ServiceNatives, NullArgumentsAreErrorsNotResults) {
  for (const char* method : {"queryStatus0", "getStartType0", "uninstallService0"})
    EXPECT_GT(call(method, {nullptr}).get<int>(), 0) << method;
  EXPECT_GT(call("installService0", {nullptr, nullptr, nullptr}).get<int>(), 0);
  EXPECT_GT(call("installService0", {name_, nullptr, nullptr}).get<int>(), 0) << "no binary";
  EXPECT_GT(call("startService0", {nullptr, nullptr}).get<int>(), 0);
  const std::string binary = call("getServiceBinary0", {nullptr}).get<std::string>();
  EXPECT_TRUE(binary.size() > 1 && binary[0] == ' ' &&
              binary.find_first_not_of("0123456789", 1) == std::string::npos)
      << binary;
  ASSERT_EQ(install("stop"), 0);
  EXPECT_EQ(call("startService0", {name_, {"a", nullptr}}), 87);
  EXPECT_EQ(status(), -1) << "not started";
}

TEST_F(ServiceNatives, StartsWithArgumentsAndStopsWithinItsWaitHint) {
  ASSERT_EQ(install("stop"), 0);
  EXPECT_EQ(call("stopService0", {name_, 0}), 1062) << "not running yet";
  // Wine hands the arguments to the service as one zero-separated list, so an empty argument
  // would end it there; Windows passes empty arguments on. The rows avoid them.
  ASSERT_EQ(call("startService0", {name_, {"one", "two words", "\u00e9"}}), 0);
  ASSERT_TRUE(becomes(-4)) << "running";
  ASSERT_TRUE(waitFor([&] { return !wintest::readWholeFile(record_).empty(); }));
  EXPECT_EQ(wintest::readWholeFile(record_), "started\none\ntwo words\n\xc3\xa9\n");
  EXPECT_EQ(call("startService0", {name_, nullptr}), 1056) << "already running";

  EXPECT_EQ(call("stopService0", {name_, 0}), 0);
  EXPECT_EQ(status(), -1);
  EXPECT_EQ(call("stopService0", {name_, 0}), 1062) << "not running";

  // Started again without arguments: only the service's own name reaches it.
  DeleteFileA(record_.c_str());
  ASSERT_EQ(call("startService0", {name_, nullptr}), 0);
  ASSERT_TRUE(waitFor([&] { return !wintest::readWholeFile(record_).empty(); }));
  EXPECT_EQ(wintest::readWholeFile(record_), "started\n");
  EXPECT_EQ(call("stopService0", {name_, 0}), 0);
}

TEST_F(ServiceNatives, AServiceThatAdvancesItsCheckPointIsWaitedFor) {
  ASSERT_EQ(install("slow"), 0);
  ASSERT_EQ(call("startService0", {name_, json::array()}), 0);
  ASSERT_TRUE(becomes(-4));
  // Its stop lasts 1.6 s, far beyond its wait hint of 300 ms and the time-out of 0: only the
  // progress of its check point keeps the wait going.
  const DWORD start = GetTickCount();
  EXPECT_EQ(call("stopService0", {name_, 0}), 0);
  EXPECT_GE(GetTickCount() - start, 1000u);
  EXPECT_EQ(status(), -1);
}

TEST_F(ServiceNatives, AServiceThatNeverStopsEndsTheWaitWith50001) {
  ASSERT_EQ(install("ignore"), 0);
  ASSERT_EQ(call("startService0", {name_, nullptr}), 0);
  ASSERT_TRUE(becomes(-4));
  // The wait hint (100 ms) ran out long before; the caller's time-out keeps the wait going.
  const DWORD start = GetTickCount();
  EXPECT_EQ(call("stopService0", {name_, 700}), 50001);
  EXPECT_GE(GetTickCount() - start, 700u);
  EXPECT_EQ(status(), -3) << "stop pending";
  EXPECT_EQ(call("stopService0", {name_, 0}), 1061) << "a stop is pending already";
}

// The records that ChangeServiceConfig2W received, copied out at the call.
struct Config2Call {
  DWORD level = 0;
  DWORD resetPeriod = 0;
  bool rebootMessage = false, command = false, actionsPointer = false;
  std::vector<SC_ACTION> actions;
  BOOL delayed = -1;
  std::wstring description;
};
std::vector<Config2Call>* config2Calls = nullptr;

BOOL WINAPI recordConfig2(SC_HANDLE service, DWORD level, LPVOID info) {
  Config2Call c;
  c.level = level;
  if (!service) return FALSE;
  if (level == SERVICE_CONFIG_FAILURE_ACTIONS) {
    auto* r = static_cast<SERVICE_FAILURE_ACTIONSW*>(info);
    c.resetPeriod = r->dwResetPeriod;
    c.rebootMessage = r->lpRebootMsg != nullptr;
    c.command = r->lpCommand != nullptr;
    c.actionsPointer = r->lpsaActions != nullptr;
    c.actions.assign(r->lpsaActions, r->lpsaActions + r->cActions);
  } else if (level == SERVICE_CONFIG_DELAYED_AUTO_START_INFO) {
    c.delayed = static_cast<SERVICE_DELAYED_AUTO_START_INFO*>(info)->fDelayedAutostart;
  } else if (level == SERVICE_CONFIG_DESCRIPTION) {
    c.description = static_cast<SERVICE_DESCRIPTIONW*>(info)->lpDescription;
  }
  config2Calls->push_back(c);
  return TRUE;
}

class ServiceConfig2 : public ServiceNatives {
 protected:
  void SetUp() override {
    ServiceNatives::SetUp();
    config2Calls = &calls_;
  }
  void TearDown() override {
    config2Calls = nullptr;
    ServiceNatives::TearDown();
  }
  void recordCalls() {
    auto& table = shipkit::natives::serviceCalls();
    table.changeConfig2 = recordConfig2;
    table.loadedChangeConfig2 = [] { return shipkit::natives::LoadedChangeConfig2{true, recordConfig2}; };
  }
  std::vector<Config2Call> calls_;
};

TEST_F(ServiceConfig2, WineAcceptsFailureActionsAndRefusesDelayedAutoStart) {
  ASSERT_EQ(install("stop"), 0);
  // Wine answers TRUE without storing the actions; Windows stores them.
  EXPECT_EQ(call("setRestartServiceConfig0", {name_, true, 60000, 3, 86400}), 0);
  // Wine 8 fails SERVICE_CONFIG_DELAYED_AUTO_START_INFO with 124; Windows accepts it.
  EXPECT_EQ(call("setDelayedAutoStart0", {name_, true}), 124);
}

TEST_F(ServiceConfig2, FailureActionRecords) {
  ASSERT_EQ(install("stop"), 0);
  recordCalls();
  struct Row {
    const char* name;
    bool restart;
    int delay, count, reset;
    std::vector<DWORD> types;
  } rows[] = {
      {"ThreeRestartsAndANoAction",
       true,
       60000,
       3,
       86400,
       {SC_ACTION_RESTART, SC_ACTION_RESTART, SC_ACTION_RESTART, SC_ACTION_NONE}},
      {"CountZeroIsOneRestart", true, 5000, 0, 3600, {SC_ACTION_RESTART}},
      {"NoRestartWithCountThree", false, 60000, 3, 86400, {}},
      {"NoRestartWithCountZero", false, 0, 0, 0, {}},
  };
  for (const auto& row : rows) {
    calls_.clear();
    EXPECT_EQ(call("setRestartServiceConfig0", {name_, row.restart, row.delay, row.count, row.reset}), 0)
        << row.name;
    ASSERT_EQ(calls_.size(), 1u) << row.name;
    const Config2Call& c = calls_[0];
    EXPECT_EQ(c.level, DWORD(SERVICE_CONFIG_FAILURE_ACTIONS)) << row.name;
    EXPECT_EQ(c.resetPeriod, DWORD(row.reset)) << row.name;
    EXPECT_FALSE(c.rebootMessage) << row.name;
    EXPECT_FALSE(c.command) << row.name;
    EXPECT_TRUE(c.actionsPointer) << row.name << ": set even with no actions, which clears them";
    ASSERT_EQ(c.actions.size(), row.types.size()) << row.name;
    for (std::size_t i = 0; i < c.actions.size(); ++i) {
      EXPECT_EQ(DWORD(c.actions[i].Type), row.types[i]) << row.name << " " << i;
      EXPECT_EQ(c.actions[i].Delay, DWORD(row.delay)) << row.name << " " << i;
    }
  }
}

TEST_F(ServiceConfig2, FailureActionsNeedTheLoadedAdvapi32) {
  ASSERT_EQ(install("stop"), 0);
  auto& table = shipkit::natives::serviceCalls();
  table.loadedChangeConfig2 = [] { return shipkit::natives::LoadedChangeConfig2{true, nullptr}; };
  EXPECT_EQ(call("setRestartServiceConfig0", {name_, true, 1000, 1, 60}), 1) << "function missing";
  table.loadedChangeConfig2 = [] { return shipkit::natives::LoadedChangeConfig2{false, nullptr}; };
  EXPECT_EQ(call("setRestartServiceConfig0", {name_, true, 1000, 1, 60}), 0)
      << "advapi32 not loaded: no change";
}

TEST_F(ServiceConfig2, DelayedAutoStartAndDescriptionRecords) {
  ASSERT_EQ(install("stop"), 0);
  recordCalls();
  EXPECT_EQ(call("setDelayedAutoStart0", {name_, true}), 0);
  EXPECT_EQ(call("setDelayedAutoStart0", {name_, false}), 0);
  EXPECT_EQ(call("changeServiceConfig0",
                 {name_, nullptr, nullptr, kNoChange, kNoChange, nullptr, nullptr, nullptr, "described"}),
            0);
  // A failed configuration change sets no description.
  EXPECT_NE(call("changeServiceConfig0",
                 {name_, nullptr, nullptr, kNoChange, 77, nullptr, nullptr, nullptr, "not this"}),
            0);
  ASSERT_EQ(calls_.size(), 3u);
  EXPECT_EQ(calls_[0].delayed, TRUE);
  EXPECT_EQ(calls_[1].delayed, FALSE);
  EXPECT_EQ(calls_[2].level, DWORD(SERVICE_CONFIG_DESCRIPTION));
  EXPECT_EQ(calls_[2].description, L"described");
  EXPECT_EQ(serviceKey().dword(L"Start"), DWORD(kDemandStart)) << "delayed auto-start leaves the start type";
}

}  // namespace
