#include "jvm/locate/LoadDll.h"

#include <windows.h>

#include <cstdio>
#include <optional>

#include "core/Config.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "core/PathList.h"
#include "core/Paths.h"
#include "core/RunState.h"
#include "jvm/ChosenRuntime.h"
#include "jvm/launch/ExpandVariables.h"
#include "jvm/launch/JavaVMLauncher.h"
#include "jvm/locate/JavaExeCheck.h"
#include "jvm/locate/RegistrySources.h"
#include "jvm/locate/Version.h"
#include "win/Text.h"

namespace shipkit::jvm {

using core::logError;
using core::logLine;

namespace {

struct Bounds {
  VersionNumber minimum, maximum;
};

Bounds readBounds() {
  std::string minimum = core::configString(126);
  std::string maximum = core::configString(127);
  logLine(L"MinVersion: %S, MaxVersion: %S", minimum.c_str(), maximum.c_str());
  return {parseVersion(minimum), parseVersion(maximum)};
}

// The result of a search: the candidate that passed its check last and the library, if
// one loaded.
struct SearchState {
  std::string javaExe;
  std::string version;
  std::string location;
  int origin = kOriginNone;
  HMODULE library = nullptr;
};

RuntimeDirectoryPreparation gPrepareDirectory = nullptr;  // set at start-up, read afterwards

// A runtime directory: absolute against the launcher's directory, full, lower case.
std::string normaliseDirectory(const std::string& dir) {
  return core::resolvePath(std::string_view(dir), false);
}

bool checkLocation(std::string& javaExe, std::string& version, const std::string& dir, const Bounds& b,
                   bool allowPreRelease, bool acceptAny) {
  const std::string normalised = normaliseDirectory(dir);
  if (gPrepareDirectory) gPrepareDirectory(normalised);
  bool derived = executableForRuntimeDir(normalised, javaExe);
  if (!derived) return acceptAny;
  bool passed = checkJavaExe(javaExe, version, b.minimum, b.maximum, allowPreRelease, true);
  return passed || acceptAny;
}

bool checkEnvironmentVariable(std::string& javaExe, std::string& version, const char* name, const Bounds& b) {
  char value[6000];
  DWORD n = ::GetEnvironmentVariableA(name, value, sizeof value);
  if (n == 0 || n >= sizeof value) return false;
  std::string dir(value, n);
  for (auto& c : dir)
    if (c == '/') c = '\\';
  if (!executableForRuntimeDir(dir, javaExe)) return false;
  return checkJavaExe(javaExe, version, b.minimum, b.maximum, false, true);
}

bool checkSearchPath(std::string& javaExe, std::string& version, const Bounds& b) {
  char found[MAX_PATH * 4] = {};
  DWORD n = ::SearchPathA(nullptr, "java.exe", nullptr, sizeof found, found, nullptr);
  if (n == 0 || n >= sizeof found) return false;
  javaExe.assign(found, n);
  return checkJavaExe(javaExe, version, b.minimum, b.maximum, false, true);
}

bool isAbsoluteValue(const std::string& value) {
  return (value.size() > 1 && value[1] == ':') || value.rfind("\\\\", 0) == 0;
}

// The directory that configuration entry 10003 names, relative to the launcher's directory.
std::wstring locationFilesDir() {
  std::wstring dir = core::configWString(10003);
  return core::resolvePath(dir.empty() ? std::wstring(L".") : dir, false, true);
}

HMODULE search(SearchState& s) {
  logLine(L"Searching for a JVM");
  s.origin = kOriginNone;
  const std::string sequence = core::configString(128);
  const Bounds b = readBounds();

  // A passing check becomes the origin; its library decides whether the search ends.
  auto pass = [&](int origin, const std::string& location) {
    s.origin = origin;
    s.location = location;
    s.library = loadJvmLibrary(s.javaExe);
    return s.library != nullptr;
  };

  const std::wstring shipkitDir = locationFilesDir() + L"\\.shipkit\\";
  std::string line = firstLineOf(shipkitDir + L"pref_jre.cfg");
  if (!line.empty()) {
    logLine(L"Has preferred location %S", line.c_str());
    if (checkLocation(s.javaExe, s.version, line, b, true, false)) {
      logLine(L"Using preferred location");
      if (pass(kOriginLocation, line)) return s.library;
    }
  }
  const std::string& extraction = core::runState().extractionDir;
  line = extraction.empty() ? std::string() : firstLineOf(win::wide(extraction) + L"\\inst_jre.cfg");
  if (!line.empty()) {
    logLine(L"Has installer location %S", line.c_str());
    if (checkLocation(s.javaExe, s.version, line, b, false, false)) {
      logLine(L"Using installer location");
      if (pass(kOriginLocation, line)) return s.library;
    }
  }

  const std::vector<std::string> entries = core::splitList<char>(sequence);
  for (const auto& entry : entries) {
    const char letter = entry[0];
    const std::string value = expandNarrow(entry.substr(1));
    logLine(L"Testing location %S (type %c)", value.c_str(), int(letter));
    switch (letter) {
      case 'A':
      case 'B':
      case 'R':
        if (checkLocation(s.javaExe, s.version, value, b, false, false) && pass(kOriginLocation, value))
          return s.library;
        break;
      case 'E':
        if (checkEnvironmentVariable(s.javaExe, s.version, value.c_str(), b) &&
            pass(kOriginEnvironment, value))
          return s.library;
        break;
      case 'S':
        if (checkSearchPath(s.javaExe, s.version, b) && pass(kOriginSearchPath, value)) return s.library;
        break;
      case 'Y':
        if (std::optional<FoundJvm> found = registrySearch(b.minimum, b.maximum)) {
          s.javaExe = found->javaExe;
          s.version = found->version;
          if (pass(kOriginRegistry, s.location)) return s.library;
        }
        break;
      default:
        logLine(L"unknown location type %c", int(letter));
        break;
    }
  }

  line = firstLineOf(shipkitDir + L"inst_jre.cfg");
  if (!line.empty()) {
    logLine(L"Has installer location %S", line.c_str());
    if (checkLocation(s.javaExe, s.version, line, b, false, false)) {
      logLine(L"Using installer location");
      if (pass(kOriginLocation, line)) return s.library;
    }
  }

  // Relative runtime directories (and every B entry) are taken even when their version
  // is outside the bounds or unreadable, as long as their java.exe exists.
  for (const auto& entry : entries) {
    const char letter = entry[0];
    const std::string value = entry.substr(1);
    if (letter != 'A' && letter != 'B' && letter != 'R') continue;
    if (letter != 'B' && isAbsoluteValue(value)) continue;
    logLine(L"Testing relative location %S", value.c_str());
    checkLocation(s.javaExe, s.version, value, b, true, true);
    if (::GetFileAttributesA(s.javaExe.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    logLine(L"%S exists", s.javaExe.c_str());
    if (pass(kOriginLocation, value)) return s.library;
  }

  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    if (std::optional<FoundJvm> found = previousInstallation(root, b.minimum, b.maximum)) {
      s.javaExe = found->javaExe;
      s.version = found->version;
      logLine(root == HKEY_CURRENT_USER ? L"found JRE from previous installation (user) %S"
                                        : L"found JRE from previous installation (machine) %S",
              s.javaExe.c_str());
      if (pass(kOriginRegistry, s.location)) return s.library;
    }
  }
  logLine(L"Search sequence finished");

  for (const char* name : {"JARWRAP_JAVA_HOME", "SHIPKIT_JAVA_HOME"})
    if (checkEnvironmentVariable(s.javaExe, s.version, name, b) && pass(kOriginEnvironment, name))
      return s.library;
  return nullptr;
}

void recordChosenRuntime(const SearchState& s) {
  ChosenRuntime& chosen = chosenRuntime();
  chosen.javaExe = s.javaExe;
  chosen.version = s.version;
  std::string home = s.javaExe;
  const std::string lower = core::lowerAZ<char>(home);
  // The file name is "javaw.exe" or taken to be "java.exe", whatever a provided path says.
  const std::size_t cut = std::min<std::size_t>(lower.ends_with("javaw.exe") ? 9 : 8, home.size());
  home.resize(home.size() - cut);
  chosen.home = home + "..";
}

}  // namespace

std::string firstLineOf(const std::wstring& file) {
  FILE* f = _wfopen(file.c_str(), L"r");
  if (!f) return {};
  char buffer[6000] = {};
  std::string line;
  if (std::fgets(buffer, sizeof buffer, f)) line = buffer;
  std::fclose(f);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  return line;
}

void setRuntimeDirectoryPreparation(RuntimeDirectoryPreparation prepare) {
  gPrepareDirectory = prepare;
}

bool LoadDLL(bool showErrors, const std::string* location, bool locationIsJavaExe) {
  logLine(L"LoadDLL (%d, %S, %d)", int(showErrors), location ? location->c_str() : nullptr,
          int(locationIsJavaExe));
  SearchState s;
  if (location) {
    logLine(L"Got JRE location %S (java exe: %d)", location->c_str(), int(locationIsJavaExe));
    const Bounds b = readBounds();
    s.javaExe = *location;
    if (locationIsJavaExe) {
      if (!checkJavaExe(s.javaExe, s.version, b.minimum, b.maximum, true, false, 2000)) {
        logError(L"Provided JVM unusable");
        if (showErrors) {
          std::wstring bitness = L"64";
          core::showMessage(1016, &bitness);
        }
        return false;
      }
    } else {
      checkLocation(s.javaExe, s.version, *location, b, true, true);
    }
    s.location = *location;
    s.origin = kOriginLocation;
    s.library = loadJvmLibrary(s.javaExe);
  } else {
    search(s);
    if (s.origin == kOriginNone) {
      logError(L"No JVM found");
      if (showErrors) {
        std::wstring bitness = L"64";
        core::showMessage(1016, &bitness);
      }
      return false;
    }
  }
  recordChosenRuntime(s);
  if (!s.library) logError(L"Could not get DLL-Handle.");
  // Without a library there is no entry point either: both error lines are written.
  const bool resolved = resolveEntryPoint(s.library);
  if (!resolved) logError(L"Could not load functions");
  if (resolved) {
    logLine(L"Loading of JVM-DLL successful");
    return true;
  }
  if (showErrors) {
    std::wstring argument;
    switch (s.origin) {
      case kOriginSearchPath:
        argument = L"64";
        core::showMessage(1016, &argument);
        break;
      case kOriginLocation:
        argument = win::widenBytes(s.location);
        core::showMessage(1020, &argument);
        break;
      case kOriginEnvironment:
        argument = win::widenBytes(s.location);
        core::showMessage(1018, &argument);
        break;
      default:
        core::showMessage(1005);
        break;
    }
  }
  return false;
}

}  // namespace shipkit::jvm
