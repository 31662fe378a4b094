#include "jvm/locate/RegistrySources.h"

#include <cstring>
#include <vector>

#include "core/Config.h"
#include "core/Log.h"
#include "core/PathList.h"
#include "win/Unique.h"

namespace shipkit::jvm {

using core::logLine;

namespace {

// Registry key names are at most 255 characters.
constexpr DWORD kKeyNameCapacity = 256;

struct OpenResult {
  win::UniqueHkey key;
  LSTATUS status = ERROR_SUCCESS;
};

OpenResult openKey(HKEY root, const std::string& path, REGSAM access) {
  OpenResult result;
  HKEY key = nullptr;
  result.status = ::RegOpenKeyExA(root, path.c_str(), 0, access, &key);
  if (result.status == ERROR_SUCCESS) result.key.reset(key);
  return result;
}

// The raw data of a value of at most `limit` bytes.
std::optional<std::string> queryValue(HKEY key, const char* name, DWORD limit, LSTATUS* status = nullptr) {
  std::string data(limit, '\0');
  DWORD size = limit;
  LSTATUS s = ::RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size);
  if (status) *status = s;
  if (s != ERROR_SUCCESS) return std::nullopt;
  data.resize(size);
  return data;
}

std::optional<std::string> readString(HKEY root, const std::string& path, const char* name, DWORD limit) {
  OpenResult opened = openKey(root, path, KEY_READ);
  if (!opened.key) return std::nullopt;
  std::optional<std::string> data = queryValue(opened.key.get(), name, limit);
  if (!data) return std::nullopt;
  return storedString(*data);
}

std::vector<std::string> subkeyNames(HKEY key) {
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[kKeyNameCapacity];
    DWORD length = kKeyNameCapacity;
    if (::RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    names.emplace_back(name, length);
  }
  return names;
}

std::optional<FoundJvm> checkRuntimeDir(const std::string& home, const VersionNumber& minimum,
                                        const VersionNumber& maximum) {
  FoundJvm found;
  if (!executableForRuntimeDir(home, found.javaExe)) return std::nullopt;
  if (!checkJavaExe(found.javaExe, found.version, minimum, maximum, false, true)) return std::nullopt;
  return found;
}

bool jdkRequired() {
  return core::configInt(131) != 0;
}

// A "CurrentVersion" outside the bounds counts as none.
std::string currentVersion(const char* key, const VersionNumber& minimum, const VersionNumber& maximum) {
  std::optional<std::string> version = readString(HKEY_LOCAL_MACHINE, key, "CurrentVersion", 100);
  if (!version || !isVersionInRangeLenient(*version, minimum, maximum)) return {};
  return *version;
}

std::optional<FoundJvm> currentVersionOfPair(const char* jdkKey, const char* jreKey,
                                             const VersionNumber& minimum, const VersionNumber& maximum) {
  const std::string jdk = currentVersion(jdkKey, minimum, maximum);
  const std::string jre = jdkRequired() ? std::string() : currentVersion(jreKey, minimum, maximum);
  const bool useJdk = isVersionGreater(jdk, jre);
  const std::string key = std::string(useJdk ? jdkKey : jreKey) + "\\" + (useJdk ? jdk : jre);
  std::optional<std::string> home = readString(HKEY_LOCAL_MACHINE, key, "JavaHome", core::kTextCapacity);
  if (!home) return std::nullopt;
  return checkRuntimeDir(*home, minimum, maximum);
}

std::optional<FoundJvm> allVersionsUnder(const char* key, const VersionNumber& minimum,
                                         const VersionNumber& maximum) {
  OpenResult opened = openKey(HKEY_LOCAL_MACHINE, key, KEY_READ);
  if (!opened.key) return std::nullopt;
  for (const std::string& name : versionKeysInTryOrder(subkeyNames(opened.key.get()), minimum, maximum)) {
    OpenResult sub = openKey(opened.key.get(), name, KEY_READ);
    if (!sub.key) continue;
    std::optional<std::string> home = queryValue(sub.key.get(), "JavaHome", core::kTextCapacity);
    if (!home) continue;
    if (std::optional<FoundJvm> found = checkRuntimeDir(storedString(*home), minimum, maximum)) return found;
  }
  return std::nullopt;
}

std::optional<FoundJvm> newestLocated(HKEY root, bool allEntries, const VersionNumber& minimum,
                                      const VersionNumber& maximum) {
  OpenResult opened = openKey(root, "SOFTWARE\\larkfield\\jarwrap\\locatedjvms", KEY_READ);
  if (!opened.key) return std::nullopt;
  std::optional<FoundJvm> best;
  for (const std::string& name : subkeyNames(opened.key.get())) {
    FoundJvm candidate{pathFromKeyName(name), {}};
    if (!allEntries && candidate.javaExe.find("skt_jres") == std::string::npos) continue;
    if (!checkJavaExe(candidate.javaExe, candidate.version, minimum, maximum, true, true)) continue;
    if (isVersionGreater(candidate.version, best ? best->version : std::string()))
      best = std::move(candidate);
  }
  return best;
}

}  // namespace

std::optional<std::string> versionCacheRead(const std::string& javaExe, uint64_t fileTime,
                                            std::size_t capacity) {
  OpenResult opened =
      openKey(HKEY_CURRENT_USER, "SOFTWARE\\larkfield\\jarwrap\\jvms\\" + keyNameForm(javaExe), KEY_READ);
  if (!opened.key) return std::nullopt;
  // A stamp of any other length, or one the buffer cannot hold, is not trusted.
  uint8_t stamp[8] = {};
  DWORD size = sizeof stamp;
  if (::RegQueryValueExA(opened.key.get(), "LastWriteTime", nullptr, nullptr, stamp, &size) !=
          ERROR_SUCCESS ||
      size != sizeof stamp)
    return std::nullopt;
  const auto expected = fileTimeBytes(fileTime);
  if (std::memcmp(stamp, expected.data(), expected.size()) != 0) return std::nullopt;
  std::optional<std::string> data = queryValue(opened.key.get(), "Version", core::kTextCapacity);
  if (!data) return std::nullopt;
  return cachedVersion(*data, capacity);
}

void versionCacheWrite(const std::string& javaExe, uint64_t fileTime, const std::string& version) {
  const std::string path = "SOFTWARE\\larkfield\\jarwrap\\jvms\\" + keyNameForm(javaExe);
  HKEY raw = nullptr;
  if (::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &raw, nullptr) != ERROR_SUCCESS)
    return;
  win::UniqueHkey key(raw);
  const auto stamp = fileTimeBytes(fileTime);
  ::RegSetValueExA(key.get(), "LastWriteTime", 0, REG_BINARY, stamp.data(), DWORD(stamp.size()));
  // Stored without its terminating zero; readers supply it.
  ::RegSetValueExA(key.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.data()),
                   DWORD(version.size()));
}

void registerLocatedJvm(const std::string& javaExe) {
  const std::string path = "SOFTWARE\\larkfield\\jarwrap\\locatedjvms\\" + keyNameForm(javaExe);
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    HKEY raw = nullptr;
    if (::RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                          &raw, nullptr) == ERROR_SUCCESS) {
      ::RegCloseKey(raw);
      return;
    }
  }
}

std::optional<FoundJvm> javaSoftSearch(const VersionNumber& minimum, const VersionNumber& maximum) {
  const bool jdkOnly = jdkRequired();
  if (auto found =
          currentVersionOfPair("SOFTWARE\\JavaSoft\\JDK", "SOFTWARE\\JavaSoft\\JRE", minimum, maximum))
    return found;
  if (!jdkOnly)
    if (auto found = allVersionsUnder("SOFTWARE\\JavaSoft\\JRE", minimum, maximum)) return found;
  if (auto found = allVersionsUnder("SOFTWARE\\JavaSoft\\JDK", minimum, maximum)) return found;
  if (auto found = currentVersionOfPair("SOFTWARE\\JavaSoft\\Java Development Kit",
                                        "SOFTWARE\\JavaSoft\\Java Runtime Environment", minimum, maximum))
    return found;
  if (!jdkOnly)
    if (auto found = allVersionsUnder("SOFTWARE\\JavaSoft\\Java Runtime Environment", minimum, maximum))
      return found;
  return allVersionsUnder("SOFTWARE\\JavaSoft\\Java Development Kit", minimum, maximum);
}

std::optional<FoundJvm> locatedJvmSearch(bool allEntries, const VersionNumber& minimum,
                                         const VersionNumber& maximum) {
  std::optional<FoundJvm> user = newestLocated(HKEY_CURRENT_USER, allEntries, minimum, maximum);
  std::optional<FoundJvm> machine = newestLocated(HKEY_LOCAL_MACHINE, allEntries, minimum, maximum);
  return chooseLocated(std::move(user), std::move(machine));
}

std::optional<FoundJvm> registrySearch(const VersionNumber& minimum, const VersionNumber& maximum) {
  const bool restricted = core::configInt(165) != 0;
  std::optional<FoundJvm> javaSoft;
  if (!restricted) {
    javaSoft = javaSoftSearch(minimum, maximum);
    if (javaSoft) logLine(L"found sun %S %S", javaSoft->javaExe.c_str(), javaSoft->version.c_str());
  }
  std::optional<FoundJvm> located = locatedJvmSearch(!restricted, minimum, maximum);
  if (located) logLine(L"found located %S %S", located->javaExe.c_str(), located->version.c_str());
  return chooseRegistryResult(std::move(javaSoft), std::move(located));
}

std::optional<FoundJvm> previousInstallation(HKEY root, const VersionNumber& minimum,
                                             const VersionNumber& maximum) {
  const std::string appId = core::configString(160);
  for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_64KEY)}) {
    logLine(L"checking app id %S (%d, %p)", appId.c_str(), int(view), static_cast<void*>(root));
    if (appId.empty()) return std::nullopt;
    OpenResult opened = openKey(root, "SOFTWARE\\larkfield\\shipkit\\installations", KEY_READ | view);
    if (!opened.key) {
      logLine(L"could not open installation node %d", int(opened.status));
      continue;
    }
    LSTATUS status = ERROR_SUCCESS;
    std::optional<std::string> data =
        queryValue(opened.key.get(), appId.c_str(), core::kTextCapacity, &status);
    if (!data) {
      logLine(L"could not query value node %d", int(status));
      continue;
    }
    const std::string list = storedString(*data);
    logLine(L"found installations: %S", list.c_str());
    for (const std::string& dir : core::splitList<char>(list)) {
      const std::string jreDir = dir + "\\jre";
      FoundJvm found;
      if (!executableForRuntimeDir(jreDir, found.javaExe)) {
        logLine(L"did not find java in %S", jreDir.c_str());
        continue;
      }
      if (checkJavaExe(found.javaExe, found.version, minimum, maximum, false, true)) return found;
      logLine(L"java version did not match in %S", jreDir.c_str());
    }
  }
  return std::nullopt;
}

}  // namespace shipkit::jvm
