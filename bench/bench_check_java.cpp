// checkJavaExe latency: with a warm version cache (registry reads only) against a cold one
// (the java.exe double is run for its version), next to a bare CreateProcess-and-wait of the
// same double as the reference for what the process start alone costs on this machine, and
// the version-cache read by itself.
//
//   bench_check_java.exe [cold runs] [warm runs]     (defaults 40 and 2000)
//
// Copies the double into a directory of its own below the temporary directory and removes
// it, and its version-cache entry, at the end. Not part of the test run.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/PathRules.h"
#include "jvm/locate/JavaExeCheck.h"
#include "jvm/locate/RegistrySources.h"
#include "jvm/locate/Version.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Stats {
  double median, p90, mean, min;
};

Stats stats(std::vector<double> us) {
  std::sort(us.begin(), us.end());
  double sum = 0;
  for (double v : us) sum += v;
  return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 9 / 10)], sum / double(us.size()),
          us.front()};
}

void print(const char* name, std::size_t runs, const Stats& s) {
  std::printf("%-34s %6zu runs  median %10.1f us  p90 %10.1f us  mean %10.1f us  min %10.1f us\n", name, runs,
              s.median, s.p90, s.mean, s.min);
}

template <typename Fn>
std::vector<double> time(std::size_t runs, Fn fn) {
  std::vector<double> us;
  us.reserve(runs);
  for (std::size_t i = 0; i < runs; ++i) {
    auto start = Clock::now();
    if (!fn()) {
      std::fprintf(stderr, "run %zu failed\n", i);
      std::exit(2);
    }
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  return us;
}

bool writeFile(const std::string& path, const std::string& text) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr);
  CloseHandle(file);
  return written == text.size();
}

// The double started the way the version query starts it, standard error to the null device.
bool bareRun(const std::string& exe) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE null = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                            0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  startup.hStdError = null;
  PROCESS_INFORMATION info{};
  std::string command = exe + " -version";
  BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS,
                                nullptr, nullptr, &startup, &info);
  CloseHandle(null);
  if (!started) return false;
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  CloseHandle(info.hThread);
  return code == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t coldRuns = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 40;
  const std::size_t warmRuns = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 2000;

  std::string fake = FAKEJAVA_EXE;
  std::replace(fake.begin(), fake.end(), '/', '\\');
  fake = "Z:" + fake;
  char temp[MAX_PATH + 1] = {};
  GetTempPathA(MAX_PATH + 1, temp);
  char longTemp[MAX_PATH + 1] = {};
  GetLongPathNameA(temp, longTemp, MAX_PATH + 1);
  const std::string dir = shipkit::core::lowerAZ<char>(std::string(longTemp) + "skt_bench_" +
                                                       std::to_string(GetCurrentProcessId()));
  const std::string exe = dir + "\\bin\\java.exe";
  CreateDirectoryA(dir.c_str(), nullptr);
  CreateDirectoryA((dir + "\\bin").c_str(), nullptr);
  if (!CopyFileA(fake.c_str(), exe.c_str(), FALSE) ||
      !writeFile(exe + ".behaviour",
                 "stderr openjdk version \"11.0.2\" 2019-01-15\n"
                 "stderr OpenJDK Runtime Environment 18.9 (build 11.0.2+9)\n")) {
    std::fprintf(stderr, "cannot set up %s from %s\n", exe.c_str(), fake.c_str());
    return 1;
  }
  const shipkit::jvm::VersionNumber minimum = shipkit::jvm::parseVersion("1.8");
  const shipkit::jvm::VersionNumber maximum = shipkit::jvm::parseVersion("11");
  auto check = [&](bool useCache) {
    std::string path = exe, version;
    return shipkit::jvm::checkJavaExe(path, version, minimum, maximum, false, useCache) &&
           version == "11.0.2";
  };

  std::printf("checkJavaExe on %s\n", exe.c_str());
  bareRun(exe);  // first start of a new executable file: not measured
  const Stats reference = stats(time(coldRuns, [&] { return bareRun(exe); }));
  const Stats cold = stats(time(coldRuns, [&] { return check(false); }));
  const Stats warm = stats(time(warmRuns, [&] { return check(true); }));
  // The registry part of a warm check alone; the rest is the file lookup and the log lines.
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExA(exe.c_str(), GetFileExInfoStandard, &data);
  const uint64_t fileTime =
      (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  const Stats cacheRead =
      stats(time(warmRuns, [&] { return shipkit::jvm::versionCacheRead(exe, fileTime).has_value(); }));
  print("reference: CreateProcess + wait", coldRuns, reference);
  print("cold: version query (no cache)", coldRuns, cold);
  print("warm: version from the cache", warmRuns, warm);
  print("  of which the cache read", warmRuns, cacheRead);
  std::printf("cold / reference (median)         %.2f\n", cold.median / reference.median);
  std::printf("cold / warm (median)              %.1f\n", cold.median / warm.median);

  std::string keyName = exe;
  std::replace(keyName.begin(), keyName.end(), '\\', '/');
  RegDeleteTreeA(HKEY_CURRENT_USER, ("SOFTWARE\\larkfield\\jarwrap\\jvms\\" + keyName).c_str());
  for (const char* name : {"\\bin\\java.exe", "\\bin\\java.exe.behaviour", "\\bin\\java.exe.runs"})
    DeleteFileA((dir + name).c_str());
  RemoveDirectoryA((dir + "\\bin").c_str());
  RemoveDirectoryA(dir.c_str());
  return 0;
}
