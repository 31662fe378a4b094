#pragma once
// Java runtimes known to the registry: the JavaSoft keys that Java installers write, the list
// of runtimes users located by hand, the directories of earlier installations of this
// application, and the version cache that spares running an unchanged java.exe. All keys are
// read and written with the byte-string (ANSI) registry functions.

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>

#include "jvm/locate/JavaExeCheck.h"
#include "jvm/locate/RegistryRules.h"
#include "jvm/locate/Version.h"

namespace shipkit::jvm {

// The cached version of a java.exe (normalised path) whose file still has `fileTime`; none when
// the entry is missing, its "LastWriteTime" is not exactly those 8 bytes, or its "Version"
// cannot be read or would not fit `capacity` bytes.
std::optional<std::string> versionCacheRead(const std::string& javaExe, uint64_t fileTime,
                                            std::size_t capacity = kVersionCapacity);
// Creates or overwrites the entry; failures are ignored.
void versionCacheWrite(const std::string& javaExe, uint64_t fileTime, const std::string& version);

// Adds a java.exe the user chose to the located-JVM list: for the machine, else for the user.
void registerLocatedJvm(const std::string& javaExe);

// The "Y" entry of the search sequence: the JavaSoft keys (unless configuration entry 165 is
// set) and the located-JVM list, whichever gives the newer runtime.
std::optional<FoundJvm> registrySearch(const VersionNumber& minimum, const VersionNumber& maximum);

// The six JavaSoft steps; the first runtime that passes its check.
std::optional<FoundJvm> javaSoftSearch(const VersionNumber& minimum, const VersionNumber& maximum);

// The newest passing runtime of the located-JVM list, per user and per machine; with
// `allEntries` false only paths containing "skt_jres" are considered.
std::optional<FoundJvm> locatedJvmSearch(bool allEntries, const VersionNumber& minimum,
                                         const VersionNumber& maximum);

// A runtime in the "jre" directory of an earlier installation of this application (configuration
// entry 160 names it) under `root` (HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE).
std::optional<FoundJvm> previousInstallation(HKEY root, const VersionNumber& minimum,
                                             const VersionNumber& maximum);

}  // namespace shipkit::jvm
