// A Java string whose characters cannot be had (GetStringChars answers null, as a virtual
// machine out of memory does) makes the service and account natives return their failure
// value at once: nothing reaches Windows with a null pointer in the string's place. The
// fake environment's table is copied with that one function replaced for the calls.
#include <gtest/gtest.h>
#include <jni.h>
#include <windows.h>

#include <string>

#include "NativeCallFixture.h"

namespace {

using nlohmann::json;

const jchar* JNICALL noChars(JNIEnv*, jstring, jboolean*) {
  return nullptr;
}

class StringFailure : public wintest::SystemNativeCalls {
 protected:
  StringFailure() : SystemNativeCalls("Win32Services") {}
  json callFailing(const std::string& target, const json& args) {
    JNIEnv* env = vm_.env();
    const JNINativeInterface_* saved = env->functions;
    JNINativeInterface_ failing = *saved;
    failing.GetStringChars = noChars;
    env->functions = &failing;
    json result = call(target, args);
    env->functions = saved;
    return result;
  }
};

TEST_F(StringFailure, EachNativeAnswersItsFailureValue) {
  const std::string name = wintest::uniqueName("shipkit-test-");
  struct Row {
    const char* target;
    json args;
    json expected;
  } rows[] = {
      {"Win32Services.installService0", {name, "d", "C:\\x.exe"}, 8},
      {"Win32Services.changeServiceConfig0",
       {name, nullptr, nullptr, -1, -1, "a", nullptr, nullptr, nullptr},
       8},
      {"Win32Services.setRestartServiceConfig0", {name, true, 1, 1, 1}, 8},
      {"Win32Services.setDelayedAutoStart0", {name, true}, 8},
      {"Win32Services.stopService0", {name, 0}, 8},
      {"Win32Services.startService0", {name, nullptr}, 8},
      {"Win32Services.uninstallService0", {name}, 8},
      {"Win32Services.queryStatus0", {name}, 8},
      {"Win32Services.getStartType0", {name}, 8},
      {"Win32Services.getServiceBinary0", {name}, " 8"},
      {"Win32UserInfo.executeElevated0", {"C:\\x.exe", nullptr, nullptr, 0}, false},
      {"Win32UserInfo.addUser0", {"u", "p", nullptr, nullptr, nullptr, false, false}, nullptr},
      {"Win32UserInfo.deleteUser0", {nullptr, "u"}, 8},
      {"Win32UserInfo.deleteLocalGroup0", {nullptr, "g"}, 8},
      {"Win32UserInfo.getAccountName0", {"S-1-5-18", false}, ""},
      {"Win32UserInfo.getUserProfileDirectory0", {"S-1-5-18", nullptr}, " could not convert sid 8"},
      {"Win32UserInfo.setLsaAccountRight0", {"S-1-5-32-545", "SeBatchLogonRight", true}, false},
  };
  for (const auto& row : rows) EXPECT_EQ(callFailing(row.target, row.args), row.expected) << row.target;
  // Nothing was created on the way.
  EXPECT_EQ(call("queryStatus0", {name}), 1060);
}

}  // namespace
