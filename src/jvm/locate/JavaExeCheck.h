#pragma once
// The one check every candidate Java runtime passes: does its java.exe exist, which version is
// it (from the version cache or by running "java -version"), is that version within the
// configured bounds, and which executable to use (javaw.exe for windowed launchers).

#include <windows.h>

#include <cstdint>
#include <string>

#include "jvm/locate/Version.h"

namespace shipkit::jvm {

// The version buffer of most callers; the final load step's is 2000 bytes.
inline constexpr std::size_t kVersionCapacity = 6000;

// `javaExe` holds the candidate java.exe on entry and, on exit, the normalised path (absolute,
// lower case, single backslashes), switched to javaw.exe beside it when configuration entry
// 107 is 1. `version` receives the detected version string; a cached version that would not
// fit `versionCapacity` bytes is not used. Pre-release versions pass when `allowPreRelease`
// or configuration entry 130 is set; `useCache` false always runs the executable.
bool checkJavaExe(std::string& javaExe, std::string& version, const VersionNumber& minimum,
                  const VersionNumber& maximum, bool allowPreRelease, bool useCache,
                  std::size_t versionCapacity = kVersionCapacity);

// The strict version test of checkJavaExe, with its "beta vm not allowed" log line.
bool isVersionAcceptable(const std::string& version, const VersionNumber& minimum,
                         const VersionNumber& maximum, bool allowPreRelease);

// Runs "<short path> -version" with standard error captured in a temporary file and reads the
// version from its first line. A failing run (non-zero exit code) is cached as "1.0.0"; a run
// still going after the time limit is terminated and cached as nothing.
bool runVersionQuery(const std::string& javaExe, uint64_t fileTime, std::string& version);

// How long the version query waits for java.exe (60000 ms unless a test shortens it).
void setVersionQueryTimeoutMs(DWORD ms);

// The java.exe of a runtime directory: <dir>\jre\bin\java.exe, or <dir>\bin\java.exe when the
// former is missing. When configuration entry 131 (JDK required) is set the result is whether
// <dir>\lib\tools.jar exists, and the executable stays <dir>\jre\bin\java.exe.
bool executableForRuntimeDir(const std::string& dir, std::string& javaExe);

}  // namespace shipkit::jvm
