#include "jvm/launch/VmOptionsWin.h"

#include <windows.h>

#include <cstdio>

#include "core/Config.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "core/Paths.h"
#include "core/RunState.h"
#include "jvm/ChosenRuntime.h"
#include "jvm/launch/ExpandVariables.h"
#include "jvm/launch/OptionSources.h"
#include "win/Text.h"
#include "win/Unique.h"

namespace shipkit::jvm {

int32_t WinVmOptionsHost::configInt(int32_t id) {
  return core::configInt(id);
}
std::string WinVmOptionsHost::configString(int32_t id) {
  return core::configString(id);
}
std::wstring WinVmOptionsHost::configWString(int32_t id) {
  return core::configWString(id);
}

std::optional<std::string> WinVmOptionsHost::languageCode() {
  std::string code;
  if (!core::languageCode(code)) return std::nullopt;
  return code;
}

std::optional<std::string> WinVmOptionsHost::countryCode() {
  std::string code;
  if (!core::countryCode(code)) return std::nullopt;
  return code;
}

std::string WinVmOptionsHost::runtimeVersion() {
  return chosenRuntime().version;
}
char WinVmOptionsHost::launcherKind() {
  return core::runState().launcherKind;
}
std::string WinVmOptionsHost::extractionDir() {
  return core::runState().extractionDir;
}
std::wstring WinVmOptionsHost::launcherDirW() {
  return core::launcherDirW();
}
std::wstring WinVmOptionsHost::launcherLongPath() {
  return core::launcherLongPath();
}

std::wstring WinVmOptionsHost::moduleFileName() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring WinVmOptionsHost::expandWide(std::wstring text, bool ansiForm) {
  return jvm::expandWide(std::move(text), ansiForm);
}
std::string WinVmOptionsHost::expandNarrow(std::string text) {
  return jvm::expandNarrow(std::move(text));
}
std::string WinVmOptionsHost::toAnsi(std::wstring_view text) {
  return win::narrow(text);
}
std::wstring WinVmOptionsHost::fromAnsi(std::string_view text) {
  return win::wide(text);
}

std::wstring WinVmOptionsHost::fullPath(std::wstring_view path) {
  return core::resolvePath(path, false, true);
}
std::string WinVmOptionsHost::launcherRelative(std::string_view path) {
  return core::resolvePath(path, true);
}
bool WinVmOptionsHost::exists(const std::string& path) {
  return core::exists(path);
}

std::vector<std::string> WinVmOptionsHost::listFiles(const std::string& dir, std::string_view pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  win::UniqueFind find(::FindFirstFileA(joinPath(dir, pattern).c_str(), &data));
  if (!find) return names;
  do {
    names.emplace_back(data.cFileName);
  } while (::FindNextFileA(find.get(), &data));
  return names;
}

std::optional<OptionsFileText> WinVmOptionsHost::openOptionsFile(const std::wstring& path) {
  // Text mode: CR LF pairs arrive as LF and a Ctrl-Z ends the text, as for every text file
  // the launcher reads.
  FILE* file = _wfopen(path.c_str(), L"r");
  if (!file) return std::nullopt;
  OptionsFileText result;
  result.handle = file;
  char buffer[16384];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) result.text.append(buffer, n);
  if (std::ferror(file))
    core::logError(L"reading %s failed after %d bytes", path.c_str(), int(result.text.size()));
  std::fclose(file);
  return result;
}

std::optional<std::string> WinVmOptionsHost::environmentVariable(const std::string& name) {
  std::string value(256, '\0');
  for (;;) {
    ::SetLastError(0);
    DWORD n = ::GetEnvironmentVariableA(name.c_str(), value.data(), DWORD(value.size()));
    if (n == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (n < value.size()) {
      value.resize(n);
      return value;
    }
    value.resize(n);  // n is the size needed, terminator included
  }
}

void WinVmOptionsHost::requiredMissing(int messageId, const std::string& argument) {
  core::fatalMessage(messageId, std::string_view(argument));
}

void WinVmOptionsHost::logLine(std::wstring_view text) {
  core::logLine(L"%s", std::wstring(text).c_str());
}
void WinVmOptionsHost::logError(std::wstring_view text) {
  core::logError(L"%s", std::wstring(text).c_str());
}

std::vector<std::string> assembleVmOptions(const std::vector<std::wstring>& launcherArgs,
                                           const std::vector<std::string>& leadingOptions) {
  WinVmOptionsHost host;
  // The host ends the process when a required entry is missing, so there is always a list.
  std::optional<std::vector<std::string>> options = assembleVmOptions(host, launcherArgs, leadingOptions);
  return options ? std::move(*options) : leadingOptions;
}

}  // namespace shipkit::jvm
