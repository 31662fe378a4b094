#include "jvm/locate/JavaExeCheck.h"

#include <cstdio>
#include <iterator>
#include <optional>

#include "core/Config.h"
#include "core/Log.h"
#include "core/PathRules.h"
#include "core/Paths.h"
#include "jvm/locate/RegistrySources.h"
#include "win/Environment.h"
#include "win/Text.h"
#include "win/Unique.h"

namespace shipkit::jvm {

using core::logLine;

namespace {

// A failed run is cached under this version so that the next check runs the executable again.
constexpr char kVersionUnknown[] = "1.0.0";

DWORD versionQueryTimeoutMs = 60000;
// After TerminateProcess the child still holds the captured standard error until it is gone;
// the temporary file can only be deleted then.
constexpr DWORD kTerminationWaitMs = 5000;

uint64_t toUint64(const FILETIME& time) {
  return (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Absolute against the launcher's directory, full, lower case (through UTF-16 so that letters
// beyond A-Z are lowered too, kept only when it converts back without loss), single backslashes.
std::string normalisePath(const std::string& path) {
  std::string full = path;
  if (core::isRelative<char>(path)) full = core::launcherDir() + path;
  DWORD size = ::GetFullPathNameA(full.c_str(), 0, nullptr, nullptr);
  if (size > 0) {
    std::string buffer(size, '\0');
    DWORD n = ::GetFullPathNameA(full.c_str(), size, buffer.data(), nullptr);
    if (n > 0 && n < size) full = buffer.substr(0, n);
  }
  std::wstring wide = win::wide(full);
  if (!wide.empty()) {
    ::CharLowerBuffW(wide.data(), DWORD(wide.size()));
    bool clean = false;
    std::string lowered = win::narrow(wide, &clean);
    if (clean) full = lowered;
  }
  return core::collapseBackslashes<char>(full);
}

// Each of these variables makes a JVM print a "Picked up ..." notice ahead of its version
// line, so they are kept out of the child's environment and put back afterwards, through the
// wide functions so that they come back unchanged.
class JavaOptionsAside {
 public:
  JavaOptionsAside() {
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
      saved_[i] = win::environmentVariable(kNames[i]);
      if (!saved_[i]) continue;
      logLine(L"%s is %s", kNames[i], saved_[i]->c_str());
      win::setEnvironmentVariable(kNames[i], nullptr);
    }
  }
  JavaOptionsAside(const JavaOptionsAside&) = delete;
  JavaOptionsAside& operator=(const JavaOptionsAside&) = delete;
  ~JavaOptionsAside() { restore(); }
  void restore() {
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
      if (saved_[i]) win::setEnvironmentVariable(kNames[i], &*saved_[i]);
      saved_[i].reset();
    }
  }

 private:
  static constexpr const wchar_t* kNames[] = {L"_JAVA_OPTIONS", L"JAVA_TOOL_OPTIONS", L"JDK_JAVA_OPTIONS"};
  std::optional<std::wstring> saved_[std::size(kNames)];
};

// The first line of the captured output as a text-mode read sees it.
std::optional<std::string> readFirstLine(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rt");
  if (!file) return std::nullopt;
  char line[kVersionLineMax + 1];
  const bool got = std::fgets(line, sizeof line, file) != nullptr;
  std::fclose(file);
  if (!got) return std::nullopt;
  return std::string(line);
}

bool check(std::string& javaExe, std::string& version, const VersionNumber& minimum,
           const VersionNumber& maximum, bool allowPreRelease, bool useCache, std::size_t versionCapacity) {
  javaExe = normalisePath(javaExe);
  WIN32_FIND_DATAA data;
  win::UniqueFind find(::FindFirstFileA(javaExe.c_str(), &data));
  if (!find) {
    logLine(L"file doesn't exist");
    return false;
  }
  logLine(L"file exists");
  const uint64_t fileTime = toUint64(data.ftLastWriteTime);
  version.clear();

  std::optional<std::string> cached;
  if (useCache) cached = versionCacheRead(javaExe, fileTime, versionCapacity);
  if (cached && *cached != kVersionUnknown) {
    version = *cached;
    logLine(L"got version from registry %S", version.c_str());
  } else {
    if (!runVersionQuery(javaExe, fileTime, version)) {
      logLine(L"couldn't get version");
      return false;
    }
    logLine(L"got version from execution %S", version.c_str());
    versionCacheWrite(javaExe, fileTime, version);
  }

  bool result = isVersionAcceptable(version, minimum, maximum, allowPreRelease);
  if (result && core::configInt(107) == 1 && javaExe.size() >= 4) {
    javaExe.replace(javaExe.size() - 4, 4, "w.exe");
    result = core::exists(javaExe);
  }
  return result;
}

}  // namespace

void setVersionQueryTimeoutMs(DWORD ms) {
  versionQueryTimeoutMs = ms;
}

bool checkJavaExe(std::string& javaExe, std::string& version, const VersionNumber& minimum,
                  const VersionNumber& maximum, bool allowPreRelease, bool useCache,
                  std::size_t versionCapacity) {
  logLine(L"checkJavaExe (%S, [out], %d, %d, %d)", javaExe.c_str(), int(minimum.size()), int(maximum.size()),
          int(allowPreRelease));
  const bool result = check(javaExe, version, minimum, maximum, allowPreRelease, useCache, versionCapacity);
  logLine(L"checkJavaExe returning %d", int(result));
  return result;
}

bool isVersionAcceptable(const std::string& version, const VersionNumber& minimum,
                         const VersionNumber& maximum, bool allowPreRelease) {
  const bool preReleaseAllowed = allowPreRelease || core::configInt(130) != 0;
  switch (judgeVersion(version, minimum, maximum, preReleaseAllowed)) {
    case VersionVerdict::accepted:
      return true;
    case VersionVerdict::preRelease:
      logLine(L"beta vm not allowed");
      return false;
    case VersionVerdict::outOfRange:
      return false;
  }
  return false;
}

bool runVersionQuery(const std::string& javaExe, uint64_t fileTime, std::string& version) {
  std::string shortPath(core::kTextCapacity, '\0');
  DWORD n = ::GetShortPathNameA(javaExe.c_str(), shortPath.data(), DWORD(shortPath.size()));
  if (n == 0 || n >= shortPath.size()) {
    logLine(L"Could not get short path name for %S", javaExe.c_str());
    shortPath = javaExe;
  } else {
    shortPath.resize(n);
  }
  // Quoted, so that a path with blanks (no short name) is not read as "C:\Program.exe ...".
  std::string command = "\"" + shortPath + "\" -version";

  JavaOptionsAside javaOptions;

  // The child writes its version to standard error; an inheritable duplicate of the file
  // becomes that handle. Without the file the child simply has no standard error.
  const std::string tempName = core::tempFileName();
  win::UniqueHandle childStderr;
  {
    win::UniqueFile file(::CreateFileA(tempName.c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
      HANDLE self = ::GetCurrentProcess();
      ::DuplicateHandle(self, file.get(), self, childStderr.put(), 0, TRUE, DUPLICATE_SAME_ACCESS);
    }
  }

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = nullptr;
  startup.hStdOutput = nullptr;
  startup.hStdError = childStderr.get();
  PROCESS_INFORMATION info{};
  const BOOL started = ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE,
                                        NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &info);
  const DWORD startError = ::GetLastError();
  if (started) ::WaitForSingleObject(info.hProcess, versionQueryTimeoutMs);
  javaOptions.restore();

  if (!started) {
    logLine(L"Could not create process %S > %S (error %d)", command.c_str(), tempName.c_str(),
            int(startError));
    childStderr.reset();
    ::DeleteFileA(tempName.c_str());
    return false;
  }
  win::UniqueHandle process(info.hProcess);
  win::UniqueHandle thread(info.hThread);
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.get(), &exitCode);
  logLine(L"Exit Code %d", int(exitCode));
  if (exitCode == STILL_ACTIVE) {
    logLine(L"Terminating process");
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), kTerminationWaitMs);
    childStderr.reset();
    ::DeleteFileA(tempName.c_str());
    return false;
  }
  if (exitCode != 0) {
    versionCacheWrite(javaExe, fileTime, kVersionUnknown);
    childStderr.reset();
    ::DeleteFileA(tempName.c_str());
    return false;
  }
  process.reset();
  thread.reset();
  childStderr.reset();

  std::optional<std::string> line = readFirstLine(tempName);
  ::DeleteFileA(tempName.c_str());
  std::optional<std::string> parsed = line ? versionFromFirstLine(*line) : std::nullopt;
  if (!parsed) return false;
  version = *parsed;
  logLine(L"Java version: %S", version.c_str());
  return true;
}

bool executableForRuntimeDir(const std::string& dir, std::string& javaExe) {
  javaExe = dir + "\\jre\\bin\\java.exe";
  if (core::configInt(131) != 0) return core::exists(dir + "\\lib\\tools.jar");
  if (!core::exists(javaExe)) javaExe = dir + "\\bin\\java.exe";
  return true;
}

}  // namespace shipkit::jvm
