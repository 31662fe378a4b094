// Latency of the process and handle natives called through the fake JNI environment, next
// to the bare Windows calls they are built on as the reference for what the system itself
// costs on this machine:
//   getRunningModules0   against EnumProcesses + OpenProcess + QueryFullProcessImageNameW
//   list0                against NtQuerySystemInformation of the extended handle list
//   getEnvVarPairs0      against GetEnvironmentStringsW
//
//   bench_process_natives.exe [runs]     (default 200)
//
// Not part of the test run.

#include <jni.h>
// clang-format off
#include <windows.h>
#include <psapi.h>  // needs windows.h first
// clang-format on

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Vm.h"

extern "C" {
jobjectArray JNICALL
Java_com_shipkit_runtime_installer_platform_win32_Misc_getRunningModules0(JNIEnv*, jclass, jboolean) noexcept;
jobjectArray JNICALL Java_com_shipkit_runtime_installer_platform_win32_Misc_getEnvVarPairs0(JNIEnv*,
                                                                                            jclass) noexcept;
jobjectArray JNICALL Java_com_shipkit_runtime_installer_platform_win32_Win32Handle_list0(JNIEnv*,
                                                                                         jclass) noexcept;
}

namespace {

using Clock = std::chrono::steady_clock;

template <typename Fn>
void measure(const char* name, int runs, Fn fn) {
  std::vector<double> us;
  std::size_t items = 0;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    items = fn();
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(us.begin(), us.end());
  std::printf("%-40s %5d runs  %5zu items  median %9.1f us  p90 %9.1f us  min %9.1f us\n", name, runs, items,
              us[us.size() / 2], us[us.size() * 9 / 10], us.front());
}

std::size_t arrayLength(JNIEnv* env, jobjectArray array) {
  if (!array) {
    std::fprintf(stderr, "a native returned null\n");
    std::exit(2);
  }
  const std::size_t n = std::size_t(env->GetArrayLength(array));
  env->DeleteLocalRef(array);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  fakejvm::Vm vm;
  JNIEnv* env = vm.env();

  measure("getRunningModules0", runs, [&] {
    return arrayLength(env, Java_com_shipkit_runtime_installer_platform_win32_Misc_getRunningModules0(
                                env, nullptr, JNI_TRUE));
  });
  measure("reference: EnumProcesses + image names", runs, [] {
    std::vector<DWORD> ids(8196);
    DWORD needed = 0;
    EnumProcesses(ids.data(), DWORD(ids.size() * 4), &needed);
    std::size_t n = 0;
    for (DWORD i = 0; i < needed / 4; ++i) {
      HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, ids[i]);
      if (!p) continue;
      wchar_t path[4096];
      DWORD size = 4096;
      if (QueryFullProcessImageNameW(p, 0, path, &size)) ++n;
      CloseHandle(p);
    }
    return n;
  });

  measure("list0", runs, [&] {
    jobjectArray result = Java_com_shipkit_runtime_installer_platform_win32_Win32Handle_list0(env, nullptr);
    if (!result) return arrayLength(env, result);
    jobject names = env->GetObjectArrayElement(result, 1);
    const std::size_t n = arrayLength(env, static_cast<jobjectArray>(names));
    env->DeleteLocalRef(result);
    return n;
  });
  using Query = LONG(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  measure("reference: NtQuerySystemInformation(64)", runs, [&] {
    std::vector<std::uint64_t> buffer(65536 / 8);
    ULONG returned = 0;
    while (query(64, buffer.data(), ULONG(buffer.size() * 8), &returned) == LONG(0xC0000004))
      buffer.resize(buffer.size() * 2);
    return std::size_t(buffer[0]);
  });

  measure("getEnvVarPairs0", runs, [&] {
    return arrayLength(env,
                       Java_com_shipkit_runtime_installer_platform_win32_Misc_getEnvVarPairs0(env, nullptr));
  });
  measure("reference: GetEnvironmentStringsW", runs, [] {
    wchar_t* block = GetEnvironmentStringsW();
    std::size_t n = 0;
    for (const wchar_t* p = block; *p; p += wcslen(p) + 1) ++n;
    FreeEnvironmentStringsW(block);
    return n;
  });
  std::printf("fake JVM: %zu local references left\n", vm.liveLocalRefs());
  return 0;
}
