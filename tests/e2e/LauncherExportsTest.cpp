// The launcher's export table, read from the built launcher.exe: the Java side's natives
// and registerNatives must be exported by their undecorated names, since the handshake and
// the registration find them with GetProcAddress. The PE file is parsed here, with every
// offset checked against the file's size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "E2eSupport.h"

using namespace e2e;

namespace {

// clang-format off
const char* const kExpectedExports[] = {
    "registerNatives",
    "Java_com_shipkit_runtime_installer_platform_win32_ACLHandling_addACE",
    "Java_com_shipkit_runtime_installer_platform_win32_FileVersion_compare0",
    "Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getSpecialFolder0",
    "Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getPathFromRegistry0",
    "Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getWindowsDirectory0",
    "Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getSystemDirectory0",
    "Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getDriveType0",
    "Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getShortPathName0",
    "Java_com_shipkit_runtime_installer_platform_win32_FolderInfo_getUniversalPathName0",
    "Java_com_shipkit_runtime_installer_platform_win32_Misc_reboot0",
    "Java_com_shipkit_runtime_installer_platform_win32_Misc_getRunningModules0",
    "Java_com_shipkit_runtime_installer_platform_win32_Misc_getEnvVarPairs0",
    "Java_com_shipkit_runtime_installer_platform_win32_Misc_broadcastSettingChange0",
    "Java_com_shipkit_runtime_installer_platform_win32_Misc_getPhysicalMemory0",
    "Java_com_shipkit_runtime_installer_platform_win32_Misc_getFreeDiskSpace0",
    "Java_com_shipkit_runtime_installer_platform_win32_Misc_moveWithDelayUntilReboot0",
    "Java_com_shipkit_runtime_installer_platform_win32_Misc_toFront0",
    "Java_com_shipkit_runtime_installer_platform_win32_Misc_terminateProcesses0",
    "Java_com_shipkit_runtime_installer_platform_win32_Misc_getWindowTitle0",
    "Java_com_shipkit_runtime_installer_platform_win32_Misc_setForegroundWindow0",
    "Java_com_shipkit_runtime_installer_platform_win32_Misc_getTopLevelWindows0",
    "Java_com_shipkit_runtime_installer_platform_win32_Misc_getPidFromHandle0",
    "Java_com_shipkit_runtime_installer_platform_win32_ObjectPicker_show0",
    "Java_com_shipkit_runtime_installer_platform_win32_ShellLink_createWide0",
    "Java_com_shipkit_runtime_installer_platform_win32_ShellLink_create0",
    "Java_com_shipkit_runtime_installer_platform_win32_ShellLink_changeNotify0",
    "Java_com_shipkit_runtime_installer_platform_win32_ShellLink_initialize0",
    "Java_com_shipkit_runtime_installer_platform_win32_ShellLink_uninitialize",
    "Java_com_shipkit_runtime_installer_platform_win32_VistaFileChooser_initialize0",
    "Java_com_shipkit_runtime_installer_platform_win32_VistaFileChooser_displayDialog0",
    "Java_com_shipkit_runtime_installer_platform_win32_VistaTaskDialog_show0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_getInvalidHandle0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_createListener0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_readDataBlock0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_writeDataBlock0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_connectClient0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_connectNamedPipe0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_disconnectNamedPipe0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_closeHandle0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_isProcessAlive0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32CommunicationBackend_getCurrentProcessId0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Proxy_getIEConfig0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Proxy_getDefaultConfig0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Proxy_getAutoProxyConfig0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Proxy_loadFunctions0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_isMemberOfGroup0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_executeElevated0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_getElevationType0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_addUser0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_deleteUser0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_deleteLocalGroup0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_getAccountName0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_getUserProfileDirectory0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_getUserSid0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32UserInfo_setLsaAccountRight0",
    "Java_com_shipkit_runtime_installer_platform_win32_Registry_keyExists0",
    "Java_com_shipkit_runtime_installer_platform_win32_Registry_createKey0",
    "Java_com_shipkit_runtime_installer_platform_win32_Registry_getValue0",
    "Java_com_shipkit_runtime_installer_platform_win32_Registry_setValue0",
    "Java_com_shipkit_runtime_installer_platform_win32_Registry_deleteValue0",
    "Java_com_shipkit_runtime_installer_platform_win32_Registry_deleteKey0",
    "Java_com_shipkit_runtime_installer_platform_win32_Registry_saveKey0",
    "Java_com_shipkit_runtime_installer_platform_win32_Registry_restoreKey0",
    "Java_com_shipkit_runtime_installer_platform_win32_Registry_enumSubKeys0",
    "Java_com_shipkit_runtime_installer_platform_win32_Registry_enumValues0",
    "Java_com_shipkit_runtime_installer_platform_win32_Registry_changeNotifyAssociations0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Exec_launch0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Handle_list0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Handle_close0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Handle_getDeviceName0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Services_installService0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Services_changeServiceConfig0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Services_setRestartServiceConfig0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Services_setDelayedAutoStart0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Services_stopService0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Services_startService0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Services_uninstallService0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Services_queryStatus0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Services_getStartType0",
    "Java_com_shipkit_runtime_installer_platform_win32_Win32Services_getServiceBinary0",
};
// clang-format on

struct Export {
  std::string name;
  std::uint32_t rva;       // of the function
  bool forwarded = false;  // the address points back into the export directory
};

struct ExportTable {
  std::string error;  // empty when the table was read
  std::vector<Export> exports;
};

// Little-endian fields, each read only after checking that it lies inside the file.
class Reader {
 public:
  explicit Reader(const std::string& bytes) : b_(bytes) {}
  bool has(std::uint64_t offset, std::uint64_t size) const {
    return offset <= b_.size() && size <= b_.size() - offset;
  }
  std::optional<std::uint32_t> u32(std::uint64_t o) const {
    if (!has(o, 4)) return std::nullopt;
    return std::uint32_t(byte(o)) | std::uint32_t(byte(o + 1)) << 8 | std::uint32_t(byte(o + 2)) << 16 |
           std::uint32_t(byte(o + 3)) << 24;
  }
  std::optional<std::uint16_t> u16(std::uint64_t o) const {
    if (!has(o, 2)) return std::nullopt;
    return std::uint16_t(byte(o) | byte(o + 1) << 8);
  }
  std::optional<std::string> cstring(std::uint64_t o) const {
    std::string s;
    for (; has(o, 1); ++o) {
      if (b_[o] == '\0') return s;
      s += b_[o];
    }
    return std::nullopt;
  }

 private:
  unsigned byte(std::uint64_t o) const { return static_cast<unsigned char>(b_[o]); }
  const std::string& b_;
};

struct Section {
  std::uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

ExportTable readExports(const std::string& bytes) {
  ExportTable t;
  Reader r(bytes);
  auto fail = [&t](const std::string& what) {
    t.error = what;
    return t;
  };
  if (r.u16(0) != 0x5A4D) return fail("no MZ header");
  auto peOffset = r.u32(0x3C);
  if (!peOffset || r.u32(*peOffset) != 0x00004550) return fail("no PE signature");
  const std::uint64_t coff = *peOffset + 4;
  auto sectionCount = r.u16(coff + 2);
  auto optionalSize = r.u16(coff + 16);
  if (!sectionCount || !optionalSize) return fail("truncated COFF header");
  const std::uint64_t optional = coff + 20;
  if (r.u16(optional) != 0x20B) return fail("not PE32+");
  // PE32+: the data directories begin at 112; entry 0 is the export directory.
  auto directoryCount = r.u32(optional + 108);
  if (!directoryCount || *directoryCount < 1) return fail("no data directories");
  auto exportRva = r.u32(optional + 112);
  auto exportSize = r.u32(optional + 116);
  if (!exportRva || !exportSize || *exportRva == 0) return fail("no export directory");

  std::vector<Section> sections;
  const std::uint64_t sectionTable = optional + *optionalSize;
  for (unsigned i = 0; i < *sectionCount; ++i) {
    const std::uint64_t s = sectionTable + 40ull * i;
    auto vsize = r.u32(s + 8), va = r.u32(s + 12), rawSize = r.u32(s + 16), rawOffset = r.u32(s + 20);
    if (!vsize || !va || !rawSize || !rawOffset) return fail("truncated section table");
    sections.push_back({*va, *vsize, *rawOffset, *rawSize});
  }
  auto fileOffset = [&sections](std::uint32_t rva) -> std::optional<std::uint64_t> {
    for (const Section& s : sections) {
      if (rva >= s.virtualAddress && rva - s.virtualAddress < std::min(s.virtualSize, s.rawSize))
        return std::uint64_t(s.rawOffset) + (rva - s.virtualAddress);
    }
    return std::nullopt;
  };

  auto dir = fileOffset(*exportRva);
  if (!dir || !r.has(*dir, 40)) return fail("export directory outside the file");
  auto functionCount = r.u32(*dir + 20), nameCount = r.u32(*dir + 24);
  auto functionsRva = r.u32(*dir + 28), namesRva = r.u32(*dir + 32), ordinalsRva = r.u32(*dir + 36);
  auto functions = fileOffset(*functionsRva), names = fileOffset(*namesRva),
       ordinals = fileOffset(*ordinalsRva);
  if (!functions || !names || !ordinals) return fail("export tables outside the file");
  for (std::uint32_t i = 0; i < *nameCount; ++i) {
    auto entryRva = r.u32(*names + 4ull * i);
    auto ordinal = r.u16(*ordinals + 2ull * i);
    if (!entryRva || !ordinal) return fail("truncated name table");
    auto nameOffset = fileOffset(*entryRva);
    auto name = nameOffset ? r.cstring(*nameOffset) : std::nullopt;
    if (!name) return fail("export name outside the file");
    if (*ordinal >= *functionCount) return fail("ordinal beyond the address table");
    auto functionRva = r.u32(*functions + 4ull * *ordinal);
    if (!functionRva) return fail("truncated address table");
    const bool forwarded = *functionRva >= *exportRva && *functionRva - *exportRva < *exportSize;
    t.exports.push_back({*name, *functionRva, forwarded});
  }
  return t;
}

TEST(LauncherExports, ExactlyTheNativesAndRegisterNativesUndecorated) {
  const fs::path launcher = outDir() / "launcher.exe";
  const std::string bytes = Sandbox::readFile(launcher);
  ASSERT_FALSE(bytes.empty()) << launcher;
  ExportTable table = readExports(bytes);
  ASSERT_EQ(table.error, "");

  std::set<std::string> expected(std::begin(kExpectedExports), std::end(kExpectedExports));
  ASSERT_EQ(expected.size(), 81u) << "80 natives and registerNatives, no duplicates in this list";
  std::multiset<std::string> names;
  for (const Export& e : table.exports) names.insert(e.name);
  EXPECT_EQ(names, std::multiset<std::string>(expected.begin(), expected.end()));
  for (const Export& e : table.exports) {
    EXPECT_FALSE(e.forwarded) << e.name;
    EXPECT_NE(e.rva, 0u) << e.name;
  }
}

// The parser itself, on damaged copies: every failure is reported, never read past the end.
TEST(LauncherExports, DamagedFilesAreRejectedWithoutReadingPastTheEnd) {
  const std::string bytes = Sandbox::readFile(outDir() / "launcher.exe");
  ASSERT_GT(bytes.size(), 0x400u);
  ASSERT_EQ(readExports(bytes).error, "");
  const std::size_t peOffset =
      static_cast<unsigned char>(bytes[0x3C]) | static_cast<unsigned char>(bytes[0x3D]) << 8;
  struct {
    const char* name;
    std::string data;
  } cases[] = {
      {"Empty", ""},
      {"OnlyMz", bytes.substr(0, 2)},
      {"CutBeforePeHeader", bytes.substr(0, peOffset + 2)},
      {"CutInOptionalHeader", bytes.substr(0, peOffset + 24 + 100)},
      {"CutInSectionTable", bytes.substr(0, peOffset + 24 + 240 + 20)},
      {"PeOffsetBeyondEnd",
       [&] {
         std::string b = bytes.substr(0, 0x100);
         b[0x3C] = '\xF0';
         b[0x3D] = '\xFF';
         return b;
       }()},
  };
  for (const auto& c : cases) EXPECT_NE(readExports(c.data).error, "") << c.name;
}

}  // namespace
