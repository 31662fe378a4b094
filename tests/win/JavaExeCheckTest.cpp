// The Java executable check against Wine's real processes, files and registry, with copies of
// the java.exe test double standing in for runtimes.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>

#include "JavaExeCheckTestSupport.h"
#include "jvm/locate/JavaExeCheck.h"
#include "jvm/locate/RegistrySources.h"
#include "jvm/locate/Version.h"

using namespace javatest;
using shipkit::jvm::checkJavaExe;
using shipkit::jvm::executableForRuntimeDir;
using shipkit::jvm::parseVersion;
using shipkit::jvm::VersionNumber;

namespace {

const VersionNumber kMin18 = parseVersion("1.8");
const VersionNumber kMax11 = parseVersion("11");

class JavaExeCheck : public RuntimeFixture {
 protected:
  bool check(std::string& exe, std::string& version, bool allowPreRelease = false, bool useCache = true) {
    return checkJavaExe(exe, version, kMin18, kMax11, allowPreRelease, useCache);
  }
};

}  // namespace

TEST_F(JavaExeCheck, VersionFromTheFirstLineOfTheOutput) {
  struct Row {
    const char* name;
    std::string behaviour;
    bool passes;
    std::string version;                // what the check reports
    std::optional<std::string> cached;  // the cache's "Version" afterwards
    const char* logged;                 // a line the check logs
  } rows[] = {
      {"java", javaVersion("1.8.0_201") + says("Java(TM) SE Runtime Environment (build 1.8.0_201-b09)"), true,
       "1.8.0_201", "1.8.0_201", "Java version: 1.8.0_201"},
      {"openjdk", says("openjdk version \"11.0.2\" 2019-01-15") + says("OpenJDK Runtime Environment 18.9"),
       true, "11.0.2", "11.0.2", "got version from execution 11.0.2"},
      // A notice ahead of the version line: no version, nothing cached.
      {"notice", says("Picked up JAVA_TOOL_OPTIONS: -Xmx64m") + javaVersion("1.8.0_201"), false, "",
       std::nullopt, "couldn't get version"},
      {"silent", "exit 0\n", false, "", std::nullopt, "couldn't get version"},
      // Read but outside the bounds: cached all the same.
      {"old", javaVersion("1.7.0_80"), false, "1.7.0_80", "1.7.0_80", "checkJavaExe returning 0"},
      {"new", javaVersion("12"), false, "12", "12", "checkJavaExe returning 0"},
      {"ea", javaVersion("11-ea"), false, "11-ea", "11-ea", "beta vm not allowed"},
      // Without a closing quote the version runs to the line end.
      {"unquoted", says("java version \"1.8.0_201"), true, "1.8.0_201", "1.8.0_201",
       "Java version: 1.8.0_201"},
      // A failing run is remembered as "1.0.0".
      {"failing", javaVersion("1.8.0_201") + "exit 1\n", false, "", "1.0.0", "Exit Code 1"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    LogTail log;
    const std::string exe = addRuntime(row.name, row.behaviour);
    std::string checked = exe;
    std::string version = "preset";
    EXPECT_EQ(check(checked, version), row.passes);
    EXPECT_EQ(checked, exe);
    EXPECT_EQ(version, row.version);
    EXPECT_EQ(cachedVersionValue(exe), row.cached);
    EXPECT_TRUE(log.contains(row.logged)) << log.text();
    ASSERT_EQ(runs(exe).size(), 1u);
    const std::string run = runs(exe)[0];
    EXPECT_EQ(run.substr(run.size() - 9), " -version") << run;
    // The program path is quoted: a path with blanks must not be searched as "C:\Program.exe".
    EXPECT_NE(run.find("|cmd=\""), std::string::npos) << run;
    EXPECT_EQ(tempFiles(), std::vector<std::string>{}) << "capture file left behind";
  }
}

TEST_F(JavaExeCheck, CacheHitDoesNotRunTheExecutable) {
  const std::string exe = addRuntime("rt", javaVersion("1.8.0_201"));
  std::string checked = exe, version;
  ASSERT_TRUE(check(checked, version));
  ASSERT_EQ(runs(exe).size(), 1u);

  // The executable's file is unchanged, so a different answer now would go unnoticed.
  setBehaviour(exe, javaVersion("11.0.2"));
  LogTail log;
  checked = exe;
  EXPECT_TRUE(check(checked, version));
  EXPECT_EQ(version, "1.8.0_201");
  EXPECT_EQ(runs(exe).size(), 1u);
  EXPECT_TRUE(log.contains("got version from registry 1.8.0_201")) << log.text();

  // Without the cache it runs, and the new answer replaces the cached one.
  checked = exe;
  EXPECT_TRUE(check(checked, version, false, false));
  EXPECT_EQ(version, "11.0.2");
  EXPECT_EQ(runs(exe).size(), 2u);
  EXPECT_EQ(cachedVersionValue(exe), "11.0.2");

  // Not using the cache lasts for one check only.
  checked = exe;
  EXPECT_TRUE(check(checked, version));
  EXPECT_EQ(runs(exe).size(), 2u);
}

TEST_F(JavaExeCheck, CacheEntryLayout) {
  const std::string exe = addRuntime("rt", javaVersion("1.8.0_201"));
  std::string checked = exe, version;
  ASSERT_TRUE(check(checked, version));
  std::optional<RawValue> stamp = rawValue(HKEY_CURRENT_USER, cacheKeyOf(exe), "LastWriteTime");
  ASSERT_TRUE(stamp);
  EXPECT_EQ(stamp->type, DWORD(REG_BINARY));
  const auto expected = shipkit::jvm::fileTimeBytes(lastWriteTime(exe));
  EXPECT_EQ(stamp->data, std::string(expected.begin(), expected.end()));
  std::optional<RawValue> stored = rawValue(HKEY_CURRENT_USER, cacheKeyOf(exe), "Version");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->type, DWORD(REG_SZ));
  // Written with a length that leaves out the terminating zero; the registry counts it in by
  // itself when the byte after the data is zero (Wine does what NT does here), so at most
  // one terminator may follow.
  EXPECT_EQ(stored->data.substr(0, stored->data.find('\0')), "1.8.0_201");
  EXPECT_LE(stored->data.size(), 10u);
}

TEST_F(JavaExeCheck, UntrustedCacheEntriesAreIgnoredAndRewritten) {
  struct Row {
    const char* name;
    void (*spoil)(const std::string& exe);
  } rows[] = {
      {"four-byte stamp",
       [](const std::string& exe) {
         HKEY key = nullptr;
         ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, cacheKeyOf(exe).c_str(), 0, KEY_ALL_ACCESS, &key),
                   ERROR_SUCCESS);
         const auto bytes = shipkit::jvm::fileTimeBytes(lastWriteTime(exe));
         RegSetValueExA(key, "LastWriteTime", 0, REG_BINARY, bytes.data(), 4);
         RegCloseKey(key);
       }},
      {"file touched",
       [](const std::string& exe) {
         HANDLE file = CreateFileA(exe.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
         ASSERT_NE(file, INVALID_HANDLE_VALUE);
         const uint64_t later = lastWriteTime(exe) + 10'000'000ull * 3600;
         FILETIME time{DWORD(later), DWORD(later >> 32)};
         SetFileTime(file, nullptr, nullptr, &time);
         CloseHandle(file);
       }},
      {"no version",
       [](const std::string& exe) {
         HKEY key = nullptr;
         ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, cacheKeyOf(exe).c_str(), 0, KEY_ALL_ACCESS, &key),
                   ERROR_SUCCESS);
         RegDeleteValueA(key, "Version");
         RegCloseKey(key);
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string exe = addRuntime(row.name, javaVersion("1.8.0_201"));
    std::string checked = exe, version;
    ASSERT_TRUE(check(checked, version));
    row.spoil(exe);
    setBehaviour(exe, javaVersion("9.0.4"));
    checked = exe;
    EXPECT_TRUE(check(checked, version));
    EXPECT_EQ(version, "9.0.4");
    EXPECT_EQ(runs(exe).size(), 2u);
    std::optional<RawValue> stamp = rawValue(HKEY_CURRENT_USER, cacheKeyOf(exe), "LastWriteTime");
    ASSERT_TRUE(stamp);
    const auto expected = shipkit::jvm::fileTimeBytes(lastWriteTime(exe));
    EXPECT_EQ(stamp->data, std::string(expected.begin(), expected.end()));
    EXPECT_EQ(cachedVersionValue(exe), "9.0.4");
  }
}

TEST_F(JavaExeCheck, FailedRunIsCachedAsUnknownAndRunAgain) {
  const std::string exe = addRuntime("rt", javaVersion("1.8.0_201") + "exit 1\n");
  std::string checked = exe, version;
  EXPECT_FALSE(check(checked, version));
  EXPECT_EQ(cachedVersionValue(exe), "1.0.0");
  checked = exe;
  EXPECT_FALSE(check(checked, version));
  EXPECT_EQ(runs(exe).size(), 2u) << "a cached 1.0.0 is never trusted";

  setBehaviour(exe, javaVersion("1.8.0_201"));
  checked = exe;
  EXPECT_TRUE(check(checked, version));
  EXPECT_EQ(runs(exe).size(), 3u);
  EXPECT_EQ(cachedVersionValue(exe), "1.8.0_201");
}

TEST_F(JavaExeCheck, HangingExecutableIsTerminatedAndNotCached) {
  shipkit::jvm::setVersionQueryTimeoutMs(1000);
  const std::string exe = addRuntime("rt", javaVersion("1.8.0_201") + "hang\n");
  LogTail log;
  std::string checked = exe, version;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(check(checked, version));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(1000));
  EXPECT_LT(elapsed, std::chrono::seconds(30));
  EXPECT_TRUE(log.contains("Exit Code 259")) << log.text();
  EXPECT_TRUE(log.contains("Terminating process")) << log.text();
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, cacheKeyOf(exe)));
  // On Windows termination is asynchronous and the child keeps the capture file open for a
  // moment; the check waits for it before deleting the file. Wine has closed the child's
  // handles by the time TerminateProcess returns, so a missing wait would pass here unseen.
  EXPECT_EQ(tempFiles(), std::vector<std::string>{}) << "capture file left behind";

  ASSERT_EQ(runs(exe).size(), 1u);
  const std::string run = runs(exe)[0];
  const DWORD pid = DWORD(std::stoul(run.substr(4, run.find('|') - 4)));
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process) {
    EXPECT_EQ(WaitForSingleObject(process, 0), WAIT_OBJECT_0) << "the hanging double still runs";
    CloseHandle(process);
  }
}

TEST_F(JavaExeCheck, JavaOptionsAreHiddenFromTheChildAndRestored) {
  struct Row {
    const char* name;
    std::string behaviour;
    DWORD timeoutMs;
  } rows[] = {
      {"passing", javaVersion("1.8.0_201"), 60000},
      {"failing", javaVersion("1.8.0_201") + "exit 1\n", 60000},
      {"hanging", "hang\n", 1000},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    shipkit::jvm::setVersionQueryTimeoutMs(row.timeoutMs);
    // Every variable that makes a JVM print "Picked up ..." before its version line is hidden
    // from the query and comes back exactly, also with text outside the ANSI code page.
    const wchar_t* names[] = {L"_JAVA_OPTIONS", L"JAVA_TOOL_OPTIONS", L"JDK_JAVA_OPTIONS"};
    const std::wstring value = L"-Xmx64m -Dskt=\u4e2d\u00e4";
    const std::string exe = addRuntime(row.name,
                                       "record-env _JAVA_OPTIONS\nrecord-env JAVA_TOOL_OPTIONS\n"
                                       "record-env JDK_JAVA_OPTIONS\n" +
                                           row.behaviour);
    for (const wchar_t* name : names) ASSERT_TRUE(SetEnvironmentVariableW(name, value.c_str()));
    LogTail log;
    std::string checked = exe, version;
    check(checked, version);
    for (const wchar_t* name : names) {
      wchar_t back[64] = {};
      EXPECT_EQ(GetEnvironmentVariableW(name, back, 64), value.size());
      EXPECT_EQ(std::wstring(back), value);
    }
    EXPECT_TRUE(log.contains("_JAVA_OPTIONS is -Xmx64m -Dskt=")) << log.text();
    EXPECT_TRUE(log.contains("JAVA_TOOL_OPTIONS is -Xmx64m")) << log.text();
    ASSERT_EQ(runs(exe).size(), 1u);
    for (const char* unset :
         {"|_JAVA_OPTIONS=<unset>", "|JAVA_TOOL_OPTIONS=<unset>", "|JDK_JAVA_OPTIONS=<unset>"})
      EXPECT_NE(runs(exe)[0].find(unset), std::string::npos) << runs(exe)[0];
  }
  for (const wchar_t* name : {L"JAVA_TOOL_OPTIONS", L"JDK_JAVA_OPTIONS"})
    SetEnvironmentVariableW(name, nullptr);
  SetEnvironmentVariableA("_JAVA_OPTIONS", nullptr);

  // Unset before, unset after.
  shipkit::jvm::setVersionQueryTimeoutMs(60000);
  const std::string exe = addRuntime("unset", "record-env _JAVA_OPTIONS\n" + javaVersion("1.8.0_201"));
  LogTail log;
  std::string checked = exe, version;
  EXPECT_TRUE(check(checked, version));
  EXPECT_EQ(GetEnvironmentVariableA("_JAVA_OPTIONS", nullptr, 0), 0u);
  EXPECT_FALSE(log.contains("_JAVA_OPTIONS is"));
}

TEST_F(JavaExeCheck, WindowedLauncherSwitchesToJavaw) {
  struct Row {
    const char* name;
    const char* entry107;
    bool withJavaw;
    bool passes;
    const char* exeName;
  } rows[] = {
      {"javaw present", "1", true, true, "javaw.exe"},
      {"javaw missing", "1", false, false, "javaw.exe"},
      {"console launcher", "0", true, true, "java.exe"},
      {"other value", "2", true, true, "java.exe"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    setConfig(107, row.entry107);
    const std::string exe = addRuntime(row.name, javaVersion("1.8.0_201"), row.withJavaw);
    std::string checked = exe, version;
    EXPECT_EQ(check(checked, version), row.passes);
    EXPECT_EQ(checked, path(row.name) + "\\bin\\" + row.exeName);
    // The version always comes from java.exe, and is cached under its name.
    EXPECT_EQ(runs(exe).size(), 1u);
    EXPECT_EQ(cachedVersionValue(exe), "1.8.0_201");
    EXPECT_TRUE(runs(path(row.name) + "\\bin\\javaw.exe").empty());
  }
  // A version outside the bounds is not switched.
  setConfig(107, "1");
  const std::string exe = addRuntime("old", javaVersion("1.7.0_80"), true);
  std::string checked = exe, version;
  EXPECT_FALSE(check(checked, version));
  EXPECT_EQ(checked, exe);
}

TEST_F(JavaExeCheck, PreReleaseAllowedByCallerOrConfiguration) {
  struct Row {
    const char* name;
    bool allowPreRelease;
    const char* entry130;
    bool passes;
  } rows[] = {
      {"refused", false, "0", false},
      {"caller", true, "0", true},
      {"config", false, "1", true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    setConfig(130, row.entry130);
    const std::string exe = addRuntime(row.name, javaVersion("11-ea"));
    LogTail log;
    std::string checked = exe, version;
    EXPECT_EQ(check(checked, version, row.allowPreRelease), row.passes);
    EXPECT_EQ(version, "11-ea");
    EXPECT_EQ(log.contains("beta vm not allowed"), !row.passes) << log.text();
  }
}

TEST_F(JavaExeCheck, PathIsNormalisedBeforeUse) {
  const std::string exe = addRuntime("rt", javaVersion("1.8.0_201"));
  std::string upper = exe;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  // Upper case, doubled backslashes and a detour: the check works on the plain lower-case path.
  const std::size_t bin = upper.rfind("\\BIN\\");
  std::string odd = upper.substr(0, bin) + "\\\\BIN\\..\\BIN\\\\JAVA.EXE";
  std::string version;
  EXPECT_TRUE(check(odd, version));
  EXPECT_EQ(odd, exe);
  EXPECT_TRUE(cachedVersionValue(exe));

  // A relative path is taken from the launcher's directory, and rewritten even when missing.
  LogTail log;
  std::string relative = "Skt_Missing\\Bin\\Java.exe";
  EXPECT_FALSE(check(relative, version));
  EXPECT_EQ(relative,
            shipkit::core::lowerAZ<char>(shipkit::core::launcherDir()) + "skt_missing\\bin\\java.exe");
  EXPECT_TRUE(log.contains("file doesn't exist")) << log.text();
  EXPECT_TRUE(log.contains("checkJavaExe returning 0")) << log.text();
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, cacheKeyOf(relative)));
}

TEST_F(JavaExeCheck, CachedVersionLongerThanTheCallersBufferIsNotUsed) {
  const std::string exe = addRuntime("rt", javaVersion("1.8.0_201"));
  std::string checked = exe, version;
  ASSERT_TRUE(check(checked, version));
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, cacheKeyOf(exe).c_str(), 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  const std::string stored = "1.8.0_201" + std::string(1991, '9');  // 2000 characters
  RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(stored.data()),
                 DWORD(stored.size()));
  RegCloseKey(key);

  // A 6000-byte buffer takes it (and the huge number passes the bounds), a 2000-byte one must not.
  checked = exe;
  EXPECT_TRUE(checkJavaExe(checked, version, {}, {}, false, true, 6000));
  EXPECT_EQ(version, stored);
  EXPECT_EQ(runs(exe).size(), 1u);
  checked = exe;
  EXPECT_TRUE(checkJavaExe(checked, version, kMin18, kMax11, false, true, 2000));
  EXPECT_EQ(version, "1.8.0_201");
  EXPECT_EQ(runs(exe).size(), 2u);
}

TEST_F(JavaExeCheck, ExecutableForARuntimeDirectory) {
  struct Row {
    const char* name;
    bool jreBin;    // <dir>\jre\bin\java.exe present
    bool bin;       // <dir>\bin\java.exe present
    bool toolsJar;  // <dir>\lib\tools.jar present
    const char* entry131;
    bool result;
    const char* exe;
  } rows[] = {
      {"jdk layout", true, true, false, "0", true, "\\jre\\bin\\java.exe"},
      {"jre layout", false, true, false, "0", true, "\\bin\\java.exe"},
      {"nothing", false, false, false, "0", true, "\\bin\\java.exe"},
      {"jdk required, tools.jar", true, true, true, "1", true, "\\jre\\bin\\java.exe"},
      {"jdk required, no tools.jar", true, true, false, "1", false, "\\jre\\bin\\java.exe"},
      {"jdk required, bin only", false, true, true, "1", true, "\\jre\\bin\\java.exe"},
  };
  int n = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    setConfig(131, row.entry131);
    const std::string dir = path("dir" + std::to_string(++n));
    makeDirs(dir);
    if (row.jreBin) addRuntime("dir" + std::to_string(n) + "\\jre", javaVersion("1.8.0_201"));
    if (row.bin) addRuntime("dir" + std::to_string(n), javaVersion("1.8.0_201"));
    if (row.toolsJar) {
      makeDirs(dir + "\\lib");
      writeFile(dir + "\\lib\\tools.jar", "PK");
    }
    std::string exe = "preset";
    EXPECT_EQ(executableForRuntimeDir(dir, exe), row.result);
    EXPECT_EQ(exe, dir + row.exe);
  }
}
