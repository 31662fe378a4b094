#pragma once
// A fake virtual machine with the launcher's natives registered through the exported
// registerNatives, and a call helper that checks what every call leaves behind: no pending
// exception, no pinned buffer, no local reference.

#include <gtest/gtest.h>
#include <jni.h>
#include <objbase.h>
#include <windows.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "Vm.h"
#include "natives/registration.h"

namespace wintest {

inline void ignoreNativeReport(const wchar_t*, ...) {}

class SystemNativeCalls : public ::testing::Test {
 protected:
  explicit SystemNativeCalls(std::string cls) : cls_(std::move(cls)), vm_(nlohmann::json::object()) {}
  void SetUp() override {
    auto registerNatives = reinterpret_cast<jboolean (*)(JNIEnv*, void*, shipkit::natives::ReportFn)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "registerNatives")));
    ASSERT_NE(registerNatives, nullptr);
    ASSERT_EQ(registerNatives(vm_.env(), GetModuleHandleW(nullptr), ignoreNativeReport), JNI_TRUE);
  }

  // `method` alone names a method of the fixture's class; "Class.method" any other.
  nlohmann::json call(const std::string& method, const nlohmann::json& args) {
    const std::string target = method.find('.') == std::string::npos ? cls_ + "." + method : method;
    nlohmann::json record = vm_.callNative({{"call", target}, {"args", args}});
    EXPECT_EQ(record["exception"], nullptr) << method << " " << record.dump().substr(0, 300);
    EXPECT_EQ(record["unreleased"], 0) << method;
    EXPECT_EQ(record["localRefsLeft"], 0) << method;
    EXPECT_EQ(record.count("error"), 0u) << record["error"];
    EXPECT_TRUE(vm_.report()["callsWithPendingException"].empty()) << method;
    return record["result"];
  }

  std::string cls_;
  fakejvm::Vm vm_;
};

// A name no other run has used: a fresh GUID without its braces.
inline std::string uniqueName(const std::string& prefix) {
  GUID guid;
  CoCreateGuid(&guid);
  wchar_t text[64];
  StringFromGUID2(guid, text, 64);
  std::string out = prefix;
  for (const wchar_t* p = text; *p; ++p)
    if (*p != L'{' && *p != L'}') out += char(*p);
  return out;
}

inline std::wstring wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

inline std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The absolute Windows form of a Unix path of the build tree.
inline std::string zPath(std::string unixPath) {
  for (char& c : unixPath)
    if (c == '/') c = '\\';
  return "Z:" + unixPath;
}

// Polls a condition every 20 ms for up to `millis`.
template <typename Condition>
bool waitFor(Condition condition, DWORD millis = 10000) {
  for (DWORD waited = 0;; waited += 20) {
    if (condition()) return true;
    if (waited >= millis) return false;
    Sleep(20);
  }
}

}  // namespace wintest
