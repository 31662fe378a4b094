#pragma once
// Natives bound in a fake virtual machine through the launcher's registerNatives and called
// as the virtual machine calls them, for the Windows tests of the natives.
#include <gtest/gtest.h>
#include <jni.h>
#include <windows.h>

#include <nlohmann/json.hpp>
#include <string>

#include "Vm.h"
#include "natives/registration.h"

namespace wintest {

inline std::string utf8(std::wstring_view text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(std::size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

inline void ignoreNativesReport(const wchar_t*, ...) {}

// Wine's ntdll exports wine_get_version; Windows' does not.
inline bool runningOnWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

class NativeCalls : public ::testing::Test {
 protected:
  void SetUp() override { registerAll(vm_); }

 public:
  // Binds all natives of this executable in the given virtual machine.
  static void registerAll(fakejvm::Vm& vm) {
    auto registerNatives = reinterpret_cast<jboolean (*)(JNIEnv*, void*, shipkit::natives::ReportFn)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "registerNatives")));
    ASSERT_NE(registerNatives, nullptr);
    ASSERT_EQ(registerNatives(vm.env(), GetModuleHandleW(nullptr), ignoreNativesReport), JNI_TRUE);
  }

 protected:
  // Calls "<Class>.<method>" as the virtual machine would. No call may leave an exception, a
  // pinned buffer or a local reference behind. The record's "args" show arrays after the call.
  nlohmann::json record(const std::string& method, const nlohmann::json& args) {
    nlohmann::json r = vm_.callNative({{"call", method}, {"args", args}});
    EXPECT_EQ(r["exception"], nullptr) << method << " " << r.dump().substr(0, 300);
    EXPECT_EQ(r["unreleased"], 0) << method;
    EXPECT_EQ(r["localRefsLeft"], 0) << method;
    EXPECT_EQ(r.count("error"), 0u) << r["error"];
    EXPECT_TRUE(vm_.report()["callsWithPendingException"].empty())
        << method << " " << vm_.report()["callsWithPendingException"].dump();
    return r;
  }
  nlohmann::json call(const std::string& method, const nlohmann::json& args) {
    return record(method, args)["result"];
  }

  // An exported native by its JNI short name.
  template <typename Fn>
  static Fn exported(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), name)));
  }

  fakejvm::Vm vm_;
};

}  // namespace wintest
