#pragma once
// Natives bound in a fake virtual machine through the launcher's registerNatives and called
// as the virtual machine calls them, for the Windows tests of the natives.
#include <gtest/gtest.h>
#include <jni.h>
#include <windows.h>

#include <nlohmann/json.hpp>
#include <string>

#include "NativeCall.h"
#include "Vm.h"

namespace wintest {

inline std::string utf8(std::wstring_view text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(std::size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// Wine's ntdll exports wine_get_version; Windows' does not.
inline bool runningOnWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

class NativeCalls : public ::testing::Test {
 protected:
  void SetUp() override { registerAll(vm_); }

 public:
  // Binds all natives of this executable in the given virtual machine.
  static void registerAll(fakejvm::Vm& vm) { ASSERT_TRUE(registerAllNatives(vm)); }

 protected:
  // Calls "<Class>.<method>" as the virtual machine would. No call may leave an exception, a
  // pinned buffer or a local reference behind. The record's "args" show arrays after the call.
  nlohmann::json record(const std::string& method, const nlohmann::json& args) {
    return checkedNativeCall(vm_, method, args);
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
