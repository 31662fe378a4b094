#pragma once
// The VM option assembly over the launcher's real configuration, files, environment, log
// and error display.

#include <string>
#include <vector>

#include "jvm/launch/VmOptions.h"

namespace shipkit::jvm {

class WinVmOptionsHost : public VmOptionsHost {
 public:
  int32_t configInt(int32_t id) override;
  std::string configString(int32_t id) override;
  std::wstring configWString(int32_t id) override;
  std::optional<std::string> languageCode() override;
  std::optional<std::string> countryCode() override;
  std::string runtimeVersion() override;
  char launcherKind() override;
  std::string extractionDir() override;
  std::wstring launcherDirW() override;
  std::wstring launcherLongPath() override;
  std::wstring moduleFileName() override;
  std::wstring expandWide(std::wstring text, bool ansiForm) override;
  std::string expandNarrow(std::string text) override;
  std::string toAnsi(std::wstring_view text) override;
  std::wstring fromAnsi(std::string_view text) override;
  std::wstring fullPath(std::wstring_view path) override;
  std::string launcherRelative(std::string_view path) override;
  bool exists(const std::string& path) override;
  std::vector<std::string> listFiles(const std::string& dir, std::string_view pattern) override;
  std::optional<OptionsFileText> openOptionsFile(const std::wstring& path) override;
  std::optional<std::string> environmentVariable(const std::string& name) override;
  // Shows message 1006 or 1008 and ends the process with exit code 1.
  void requiredMissing(int messageId, const std::string& argument) override;
  void logLine(std::wstring_view text) override;
  void logError(std::wstring_view text) override;
};

// The option list for the JVM: `leadingOptions` (the launcher's system properties) first.
// A missing required class or module path entry ends the process with its message.
std::vector<std::string> assembleVmOptions(const std::vector<std::wstring>& launcherArgs,
                                           const std::vector<std::string>& leadingOptions);

}  // namespace shipkit::jvm
