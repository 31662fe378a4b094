#pragma once
// The launcher's natives bound in a fake virtual machine through the exported
// registerNatives, and a call made as the virtual machine makes it that checks what the call
// leaves behind. Every fixture that calls natives builds on these two.
#include <gtest/gtest.h>
#include <jni.h>
#include <windows.h>

#include <nlohmann/json.hpp>
#include <string>

#include "Vm.h"
#include "natives/base/registration.h"

namespace wintest {

inline void ignoreNativesReport(const wchar_t*, ...) {}

// Registers every native of this executable in `vm`, as the launcher's handshake does.
inline bool registerAllNatives(fakejvm::Vm& vm) {
  auto registerNatives = reinterpret_cast<jboolean (*)(JNIEnv*, void*, shipkit::natives::ReportFn)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "registerNatives")));
  return registerNatives &&
         registerNatives(vm.env(), GetModuleHandleW(nullptr), ignoreNativesReport) == JNI_TRUE;
}

// Calls "<Class>.<method>" and returns the whole record (its "args" show arrays after the
// call). No call may leave an exception, a pinned buffer or a local reference behind, nor
// make a JNI call while an exception is pending.
inline nlohmann::json checkedNativeCall(fakejvm::Vm& vm, const std::string& target,
                                        const nlohmann::json& args) {
  nlohmann::json r = vm.callNative({{"call", target}, {"args", args}});
  EXPECT_EQ(r["exception"], nullptr) << target << " " << r.dump().substr(0, 300);
  EXPECT_EQ(r["unreleased"], 0) << target;
  EXPECT_EQ(r["localRefsLeft"], 0) << target;
  EXPECT_EQ(r.count("error"), 0u) << r["error"];
  EXPECT_TRUE(vm.report()["callsWithPendingException"].empty())
      << target << " " << vm.report()["callsWithPendingException"].dump();
  return r;
}

}  // namespace wintest
