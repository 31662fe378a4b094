// The registry sources of Java runtimes against Wine's real registry: the version cache, the
// JavaSoft keys, the located-JVM list and earlier installations. Runtimes are copies of the
// java.exe test double. HKLM\SOFTWARE\JavaSoft and the larkfield keys are shared with the rest
// of the prefix: a test only removes keys it created (marked) and values it set.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "JavaExeCheckTestSupport.h"
#include "TestFiles.h"
#include "jvm/locate/RegistryRules.h"
#include "jvm/locate/RegistrySources.h"
#include "jvm/locate/Version.h"

using namespace javatest;
using shipkit::jvm::FoundJvm;
using shipkit::jvm::parseVersion;
using shipkit::jvm::VersionNumber;

namespace {

constexpr const char* kLocated = "SOFTWARE\\larkfield\\jarwrap\\locatedjvms";
constexpr const char* kInstallations = "SOFTWARE\\larkfield\\shipkit\\installations";
constexpr const char* kJre = "SOFTWARE\\JavaSoft\\JRE";
constexpr const char* kJdk = "SOFTWARE\\JavaSoft\\JDK";

std::string keyName(const std::string& path) {
  std::string name = path;
  for (char& c : name)
    if (c == '\\') c = '/';
  return name;
}

std::string describe(const std::optional<FoundJvm>& found) {
  return found ? found->javaExe + " " + found->version : "nothing";
}

class RegistrySources : public RuntimeFixture {
 protected:
  void TearDown() override {
    for (const auto& [root, key] : deleteAfter_) RegDeleteTreeA(root, key.c_str());
    RuntimeFixture::TearDown();
  }

  // Keys below an existing parent that the code under test creates.
  void deleteAfterwards(HKEY root, const std::string& key) {
    RegDeleteTreeA(root, key.c_str());
    deleteAfter_.push_back({root, key});
  }

  // A runtime home <home>\bin\java.exe whose double writes `label` to the shared journal.
  std::string addJournalled(const std::string& home, const std::string& label, const std::string& version) {
    return addRuntime(home, "journal " + path("journal.txt") + " " + label + "\n" + javaVersion(version));
  }
  std::vector<std::string> journal() const { return fileLines(path("journal.txt")); }

  // A JavaSoft-style version subkey with "JavaHome".
  void addVersionKey(const char* parent, const std::string& version, const std::string& home) {
    ASSERT_TRUE(keys_.setString(HKEY_LOCAL_MACHINE, std::string(parent) + "\\" + version, "JavaHome", home));
  }
  void setCurrentVersion(const char* key, const std::string& version) {
    keys_.create(HKEY_LOCAL_MACHINE, key);
    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS, &handle), ERROR_SUCCESS);
    if (version.empty())
      RegDeleteValueA(handle, "CurrentVersion");
    else
      RegSetValueExA(handle, "CurrentVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                     DWORD(version.size() + 1));
    RegCloseKey(handle);
  }

  // Registers a java.exe in the located-JVM list of `root` the way the list is laid out.
  std::string locate(HKEY root, const std::string& javaExe) {
    const std::string key = std::string(kLocated) + "\\" + keyName(javaExe);
    keys_.create(root, key);
    deleteAfter_.push_back({root, key});
    return key;
  }

  static bool hasSubkeys(HKEY root, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD subkeys = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(key);
    return subkeys != 0;
  }
  // Registrations that are not this test's would take part in the searches.
  static bool foreignJavaSoft() { return keyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft"); }
  static bool foreignLocated() {
    return hasSubkeys(HKEY_CURRENT_USER, kLocated) || hasSubkeys(HKEY_LOCAL_MACHINE, kLocated);
  }

  std::vector<std::pair<HKEY, std::string>> deleteAfter_;
};

}  // namespace

TEST_F(RegistrySources, VersionCacheTrustsOnlyAnExactStampAndAFittingVersion) {
  const std::string exe = path("cache\\bin\\java.exe");
  constexpr uint64_t kTime = 0x01D4E5F60718293Aull;
  const auto good = shipkit::jvm::fileTimeBytes(kTime);
  const std::string exact(good.begin(), good.end());
  std::string other = exact;
  other[0] ^= 1;
  using namespace std::string_literals;
  struct Row {
    const char* name;
    std::optional<std::string> stamp;
    std::optional<std::string> version;  // the raw bytes of "Version"
    std::size_t capacity;
    std::optional<std::string> read;
    uint64_t time = kTime;
  } rows[] = {
      {"as written", exact, "11.0.2"s, 6000, "11.0.2"},
      {"with terminator", exact, "11.0.2\0"s, 6000, "11.0.2"},
      {"failure marker", exact, "1.0.0"s, 6000, "1.0.0"},
      {"four-byte stamp", exact.substr(0, 4), "11.0.2"s, 6000, std::nullopt},
      {"four-byte stamp, high half", exact.substr(4), "11.0.2"s, 6000, std::nullopt},
      // The first four bytes of a time whose other four are zero: only the length tells.
      {"four-byte stamp, small time", "\x78\x56\x34\x12"s, "11.0.2"s, 6000, std::nullopt, 0x12345678},
      {"nine-byte stamp", exact + "\0"s, "11.0.2"s, 6000, std::nullopt},
      {"other time", other, "11.0.2"s, 6000, std::nullopt},
      {"no stamp", std::nullopt, "11.0.2"s, 6000, std::nullopt},
      {"no version", exact, std::nullopt, 6000, std::nullopt},
      {"1.6. as a whole", exact, "1.6."s, 6000, std::nullopt},
      {"1.6.0", exact, "1.6.0"s, 6000, "1.6.0"},
      {"fits 2000", exact, std::string(1999, '1'), 2000, std::string(1999, '1')},
      {"exceeds 2000", exact, std::string(2000, '1'), 2000, std::nullopt},
      {"exceeds 6000", exact, std::string(6001, '1'), 6000, std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string key = cacheKeyOf(exe);
    RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
    deleteAfterwards(HKEY_CURRENT_USER, key);
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                              nullptr),
              ERROR_SUCCESS);
    if (row.stamp)
      RegSetValueExA(handle, "LastWriteTime", 0, REG_BINARY, reinterpret_cast<const BYTE*>(row.stamp->data()),
                     DWORD(row.stamp->size()));
    if (row.version)
      RegSetValueExA(handle, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(row.version->data()),
                     DWORD(row.version->size()));
    RegCloseKey(handle);
    EXPECT_EQ(shipkit::jvm::versionCacheRead(exe, row.time, row.capacity), row.read);
  }

  // A value stored without any terminator. The byte-string setter adds one whenever the byte
  // after the counted data is zero, so this one is written through the UTF-16 setter with a
  // non-zero unit after the counted text.
  HKEY handle = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, cacheKeyOf(exe).c_str(), 0, KEY_ALL_ACCESS, &handle),
            ERROR_SUCCESS);
  RegSetValueExA(handle, "LastWriteTime", 0, REG_BINARY, good.data(), DWORD(good.size()));
  const wchar_t unterminated[] = L"11.0.2X";
  RegSetValueExW(handle, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(unterminated),
                 6 * sizeof(wchar_t));
  BYTE stored[64];
  DWORD storedSize = sizeof stored;
  ASSERT_EQ(RegQueryValueExW(handle, L"Version", nullptr, nullptr, stored, &storedSize), ERROR_SUCCESS);
  RegCloseKey(handle);
  ASSERT_EQ(storedSize, 6 * sizeof(wchar_t)) << "the value was stored with a terminator after all";
  EXPECT_EQ(shipkit::jvm::versionCacheRead(exe, kTime), "11.0.2");
}

TEST_F(RegistrySources, VersionCacheWriteOverwritesBothValues) {
  const std::string exe = path("cache\\bin\\java.exe");
  deleteAfterwards(HKEY_CURRENT_USER, cacheKeyOf(exe));
  shipkit::jvm::versionCacheWrite(exe, 1111, "1.8.0_201");
  shipkit::jvm::versionCacheWrite(exe, 2222, "9");
  std::optional<RawValue> stamp = rawValue(HKEY_CURRENT_USER, cacheKeyOf(exe), "LastWriteTime");
  ASSERT_TRUE(stamp);
  EXPECT_EQ(stamp->type, DWORD(REG_BINARY));
  const auto expected = shipkit::jvm::fileTimeBytes(2222);
  EXPECT_EQ(stamp->data, std::string(expected.begin(), expected.end()));
  // The shorter version replaces the longer one completely (at most a terminator follows it).
  std::optional<RawValue> version = rawValue(HKEY_CURRENT_USER, cacheKeyOf(exe), "Version");
  ASSERT_TRUE(version);
  EXPECT_EQ(version->type, DWORD(REG_SZ));
  EXPECT_EQ(version->data.substr(0, version->data.find('\0')), "9");
  EXPECT_LE(version->data.size(), 2u);
  EXPECT_EQ(shipkit::jvm::versionCacheRead(exe, 2222), "9");
  EXPECT_EQ(shipkit::jvm::versionCacheRead(exe, 1111), std::nullopt);
}

TEST_F(RegistrySources, RegisterLocatedJvmUsesTheMachineList) {
  keys_.create(HKEY_LOCAL_MACHINE, kLocated);
  const std::string exe = path("chosen\\bin\\java.exe");
  const std::string key = std::string(kLocated) + "\\" + keyName(exe);
  deleteAfterwards(HKEY_LOCAL_MACHINE, key);
  deleteAfterwards(HKEY_CURRENT_USER, key);
  shipkit::jvm::registerLocatedJvm(exe);
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, key));
  // Wine runs every test as an elevated administrator, so the machine key never refuses and
  // the fallback to the user's list cannot be reached here.
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, key));
}

TEST_F(RegistrySources, JavaSoftVersionsAreTriedGreatestTextFirst) {
  if (foreignJavaSoft()) GTEST_SKIP() << "HKLM\\SOFTWARE\\JavaSoft exists in this prefix already";
  // Only 1.8.0_201 passes; the other two in the bounds answer with a version above them.
  addJournalled("h18", "1.8.0_201", "1.8.0_201");
  addJournalled("h9", "9.0.4", "12");
  addJournalled("h11", "11.0.2", "12");
  addJournalled("h17", "1.7.0_80", "1.7.0_80");
  addJournalled("h12", "12", "12");
  addVersionKey(kJre, "1.8.0_201", path("h18"));
  addVersionKey(kJre, "9.0.4", path("h9"));
  addVersionKey(kJre, "11.0.2", path("h11"));
  // Outside the bounds by their names: never run.
  addVersionKey(kJre, "1.7.0_80", path("h17"));
  addVersionKey(kJre, "12", path("h12"));

  std::optional<FoundJvm> found = shipkit::jvm::javaSoftSearch(parseVersion("1.8"), parseVersion("11"));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->javaExe, path("h18\\bin\\java.exe"));
  EXPECT_EQ(found->version, "1.8.0_201");
  EXPECT_EQ(journal(), (std::vector<std::string>{"9.0.4", "11.0.2", "1.8.0_201"}));
}

TEST_F(RegistrySources, CurrentVersionChoosesBetweenTheJdkAndJreKeys) {
  if (foreignJavaSoft()) GTEST_SKIP() << "HKLM\\SOFTWARE\\JavaSoft exists in this prefix already";
  // JDK homes have jre\bin\java.exe and lib\tools.jar; JRE homes bin\java.exe.
  for (const auto& [home, version] : std::vector<std::pair<std::string, std::string>>{
           {"jdk11", "11.0.2"}, {"jdk12", "12"}, {"jdk18", "1.8.0_202"}}) {
    addRuntime(home + "\\jre", javaVersion(version));
    makeDirs(path(home + "\\lib"));
    writeFile(path(home + "\\lib\\tools.jar"), "PK");
  }
  addRuntime("jre18", javaVersion("1.8.0_201"));
  addRuntime("jre11", javaVersion("11.0.1"));
  addVersionKey(kJdk, "11", path("jdk11"));
  addVersionKey(kJdk, "12", path("jdk12"));
  addVersionKey(kJdk, "1.8", path("jdk18"));
  addVersionKey(kJre, "1.8", path("jre18"));
  addVersionKey(kJre, "11", path("jre11"));

  struct Row {
    const char* name;
    const char* jdk;
    const char* jre;
    const char* maximum;
    const char* entry131;
    const char* chosen;  // java.exe below the root
  } rows[] = {
      {"jdk newer", "11", "1.8", "11", "0", "jdk11\\jre\\bin\\java.exe"},
      {"equal goes to the jre", "11", "11", "11", "0", "jre11\\bin\\java.exe"},
      {"jdk outside the bounds", "12", "1.8", "11", "0", "jre18\\bin\\java.exe"},
      {"lower maximum", "11", "1.8", "1.8", "0", "jre18\\bin\\java.exe"},
      {"jdk required ignores the jre", "1.8", "11", "11", "1", "jdk18\\jre\\bin\\java.exe"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    setCurrentVersion(kJdk, row.jdk);
    setCurrentVersion(kJre, row.jre);
    setConfig(131, row.entry131);
    std::optional<FoundJvm> found = shipkit::jvm::javaSoftSearch({}, parseVersion(row.maximum));
    EXPECT_EQ(found ? found->javaExe : "nothing", path(row.chosen));
  }
}

TEST_F(RegistrySources, JdkRequiredSkipsJreKeysAndRuntimesWithoutToolsJar) {
  if (foreignJavaSoft()) GTEST_SKIP() << "HKLM\\SOFTWARE\\JavaSoft exists in this prefix already";
  setConfig(131, "1");
  // A JDK registered under the JRE key: it would pass if the JRE keys were read.
  const std::string jre = addRuntime("jre11\\jre", javaVersion("11.0.2"));
  makeDirs(path("jre11\\lib"));
  writeFile(path("jre11\\lib\\tools.jar"), "PK");
  const std::string noTools = addRuntime("jdk11\\jre", javaVersion("11.0.2"));
  const std::string jdk = addRuntime("jdk18\\jre", javaVersion("1.8.0_201"));
  makeDirs(path("jdk18\\lib"));
  writeFile(path("jdk18\\lib\\tools.jar"), "PK");
  addVersionKey(kJre, "11.0.2", path("jre11"));
  addVersionKey(kJdk, "11.0.2", path("jdk11"));
  addVersionKey(kJdk, "1.8.0_201", path("jdk18"));

  std::optional<FoundJvm> found = shipkit::jvm::javaSoftSearch(parseVersion("1.8"), parseVersion("11"));
  ASSERT_TRUE(found);
  EXPECT_EQ(found->javaExe, jdk);
  EXPECT_TRUE(runs(jre).empty()) << "the JRE keys are not read";
  EXPECT_TRUE(runs(noTools).empty()) << "rejected before its version is queried";
}

TEST_F(RegistrySources, OlderJavaSoftKeysComeAfterTheNewerOnes) {
  if (foreignJavaSoft()) GTEST_SKIP() << "HKLM\\SOFTWARE\\JavaSoft exists in this prefix already";
  addJournalled("old", "old", "1.8.0_201");
  addJournalled("new", "new", "1.7.0_80");
  addVersionKey("SOFTWARE\\JavaSoft\\Java Runtime Environment", "1.8", path("old"));
  setCurrentVersion("SOFTWARE\\JavaSoft\\Java Runtime Environment", "1.8");
  addVersionKey(kJre, "1.8", path("new"));

  std::optional<FoundJvm> found = shipkit::jvm::javaSoftSearch(parseVersion("1.8"), {});
  EXPECT_EQ(describe(found), path("old\\bin\\java.exe") + " 1.8.0_201");
  EXPECT_EQ(journal(), (std::vector<std::string>{"new", "old"}));
}

TEST_F(RegistrySources, LocatedJvmsMachineWinsOnEqualVersions) {
  if (foreignLocated()) GTEST_SKIP() << "the located-JVM lists of this prefix have entries of their own";
  struct Row {
    const char* name;
    const char* user;     // version of the user's entry, or none
    const char* machine;  // version of the machine's entry, or none
    const char* chosen;
  } rows[] = {
      {"equal", "11.0.2", "11.0.2", "machine"},         {"user newer", "11.0.3", "11.0.2", "user"},
      {"machine newer", "11.0.1", "11.0.2", "machine"}, {"user only", "11.0.2", nullptr, "user"},
      {"machine only", nullptr, "11.0.2", "machine"},
  };
  int n = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string tag = std::to_string(++n);
    std::string userExe, machineExe;
    if (row.user)
      locate(HKEY_CURRENT_USER, userExe = addRuntime("skt_jres\\user" + tag, javaVersion(row.user)));
    if (row.machine)
      locate(HKEY_LOCAL_MACHINE,
             machineExe = addRuntime("skt_jres\\machine" + tag, javaVersion(row.machine)));
    std::optional<FoundJvm> found =
        shipkit::jvm::locatedJvmSearch(true, parseVersion("1.8"), parseVersion("11"));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->javaExe, std::string(row.chosen) == "user" ? userExe : machineExe);
    if (!userExe.empty())
      RegDeleteTreeA(HKEY_CURRENT_USER, (std::string(kLocated) + "\\" + keyName(userExe)).c_str());
    if (!machineExe.empty())
      RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kLocated) + "\\" + keyName(machineExe)).c_str());
  }
}

TEST_F(RegistrySources, GreatestPassingLocatedEntryWins) {
  if (foreignLocated()) GTEST_SKIP() << "the located-JVM lists of this prefix have entries of their own";
  locate(HKEY_CURRENT_USER, addRuntime("a", javaVersion("1.8.0_201")));
  // Pre-release versions are allowed for located runtimes.
  const std::string ea = addRuntime("b", javaVersion("11-ea"));
  locate(HKEY_CURRENT_USER, ea);
  locate(HKEY_CURRENT_USER, addRuntime("c", javaVersion("12")));
  locate(HKEY_CURRENT_USER, path("gone\\bin\\java.exe"));
  std::optional<FoundJvm> found =
      shipkit::jvm::locatedJvmSearch(true, parseVersion("1.8"), parseVersion("11"));
  EXPECT_EQ(describe(found), ea + " 11-ea");
}

TEST_F(RegistrySources, Entry165LimitsTheSearchToShippedRuntimes) {
  if (foreignJavaSoft()) GTEST_SKIP() << "HKLM\\SOFTWARE\\JavaSoft exists in this prefix already";
  if (foreignLocated()) GTEST_SKIP() << "the located-JVM lists of this prefix have entries of their own";
  struct Row {
    const char* entry165;
    const char* chosen;  // "plain" or "jres"
    bool javaSoftRead;
  } rows[] = {
      // JavaSoft gives 11.0.2, the newest located entry is 11.0.5: not greater, so located.
      {"0", "plain", true},
      {"1", "jres", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string("165=") + row.entry165);
    setConfig(165, row.entry165);
    const std::string tag = row.entry165;
    const std::string sun = addRuntime("sun" + tag, javaVersion("11.0.2"));
    addVersionKey(kJre, "11.0.2", path("sun" + tag));
    const std::string plain = addRuntime("plain" + tag, javaVersion("11.0.5"));
    const std::string jres = addRuntime("skt_jres\\r" + tag, javaVersion("1.8.0_201"));
    const std::string plainKey = locate(HKEY_CURRENT_USER, plain);
    const std::string jresKey = locate(HKEY_CURRENT_USER, jres);
    LogTail log;
    std::optional<FoundJvm> found = shipkit::jvm::registrySearch(parseVersion("1.8"), parseVersion("11"));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->javaExe, std::string(row.chosen) == "plain" ? plain : jres);
    EXPECT_EQ(runs(sun).size(), row.javaSoftRead ? 1u : 0u);
    EXPECT_EQ(runs(plain).size(), row.javaSoftRead ? 1u : 0u);
    EXPECT_EQ(log.contains("found sun " + sun + " 11.0.2"), row.javaSoftRead) << log.text();
    EXPECT_TRUE(log.contains("found located " + found->javaExe + " " + found->version)) << log.text();
    RegDeleteTreeA(HKEY_CURRENT_USER, plainKey.c_str());
    RegDeleteTreeA(HKEY_CURRENT_USER, jresKey.c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kJre) + "\\11.0.2").c_str());
  }
}

TEST_F(RegistrySources, PreviousInstallationTriesEachListedDirectory) {
  const std::string appId = "skt-test-app-" + wintest::uniqueNameA();
  setConfig(160, appId);
  addRuntime("old\\jre", javaVersion("1.7.0_80"));
  const std::string good = addRuntime("good\\jre", javaVersion("11.0.2"));
  const std::string list = path("missing") + ";;" + path("old") + ";" + path("good") + ";";
  for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    SCOPED_TRACE(root == HKEY_CURRENT_USER ? "user" : "machine");
    if (!keys_.setString(root, kInstallations, appId.c_str(), list)) FAIL() << "value exists already";
    LogTail log;
    std::optional<FoundJvm> found =
        shipkit::jvm::previousInstallation(root, parseVersion("1.8"), parseVersion("11"));
    EXPECT_EQ(describe(found), good + " 11.0.2");
    EXPECT_TRUE(log.contains("checking app id " + appId + " (0, ")) << log.text();
    EXPECT_TRUE(log.contains("found installations: " + list)) << log.text();
    EXPECT_TRUE(log.contains("java version did not match in " + path("missing") + "\\jre")) << log.text();
    EXPECT_TRUE(log.contains("java version did not match in " + path("old") + "\\jre")) << log.text();
    // The first view found it; the 64-bit view is not asked.
    EXPECT_EQ(log.count("checking app id"), 1u) << log.text();
  }
}

TEST_F(RegistrySources, PreviousInstallationWithoutToolsJarWhenJdkRequired) {
  const std::string appId = "skt-test-app-" + wintest::uniqueNameA();
  setConfig(160, appId);
  setConfig(131, "1");
  const std::string exe = addRuntime("inst\\jre\\jre", javaVersion("11.0.2"));
  ASSERT_TRUE(keys_.setString(HKEY_CURRENT_USER, kInstallations, appId.c_str(), path("inst")));
  LogTail log;
  EXPECT_FALSE(shipkit::jvm::previousInstallation(HKEY_CURRENT_USER, {}, {}));
  EXPECT_EQ(log.count("did not find java in " + path("inst") + "\\jre"), 2u) << log.text();
  EXPECT_TRUE(runs(exe).empty());

  makeDirs(path("inst\\jre\\lib"));
  writeFile(path("inst\\jre\\lib\\tools.jar"), "PK");
  EXPECT_EQ(describe(shipkit::jvm::previousInstallation(HKEY_CURRENT_USER, {}, {})), exe + " 11.0.2");
}

TEST_F(RegistrySources, PreviousInstallationFailuresAreLoggedPerView) {
  const std::string appId = "skt-test-app-" + wintest::uniqueNameA();
  {
    LogTail log;
    EXPECT_FALSE(shipkit::jvm::previousInstallation(HKEY_CURRENT_USER, {}, {}));
    EXPECT_EQ(log.count("checking app id  (0, "), 1u) << log.text();
    EXPECT_FALSE(log.contains("installation node")) << log.text();
  }
  setConfig(160, appId);
  if (!keyExists(HKEY_CURRENT_USER, kInstallations)) {
    LogTail log;
    EXPECT_FALSE(shipkit::jvm::previousInstallation(HKEY_CURRENT_USER, {}, {}));
    EXPECT_EQ(log.count("could not open installation node 2"), 2u) << log.text();
    EXPECT_TRUE(log.contains("checking app id " + appId + " (256, ")) << log.text();
  }
  keys_.create(HKEY_CURRENT_USER, kInstallations);
  LogTail log;
  EXPECT_FALSE(shipkit::jvm::previousInstallation(HKEY_CURRENT_USER, {}, {}));
  EXPECT_EQ(log.count("could not query value node 2"), 2u) << log.text();
}
