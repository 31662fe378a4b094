#include "jvm/launch/ExpandVariables.h"

#include <windows.h>

#include "core/Log.h"
#include "core/Paths.h"
#include "core/RunState.h"
#include "jvm/ChosenRuntime.h"
#include "jvm/launch/Expansion.h"
#include "win/Text.h"

// Under UNICODE the header maps the name to the wide function; the narrow block is the
// undecorated export.
#undef GetEnvironmentStrings

namespace shipkit::jvm {

ChosenRuntime& chosenRuntime() {
  static ChosenRuntime* runtime = new ChosenRuntime;  // never destroyed, read by late threads
  return *runtime;
}

namespace {

template <typename Char>
std::vector<std::pair<std::basic_string<Char>, std::basic_string<Char>>> environmentBlock();

template <>
std::vector<std::pair<std::wstring, std::wstring>> environmentBlock<wchar_t>() {
  std::vector<std::pair<std::wstring, std::wstring>> entries;
  wchar_t* block = ::GetEnvironmentStringsW();
  if (!block) return entries;
  for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
    std::wstring_view entry(p);
    std::size_t eq = entry.find(L'=');
    if (eq == std::wstring_view::npos) continue;
    entries.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
  }
  ::FreeEnvironmentStringsW(block);
  return entries;
}

template <>
std::vector<std::pair<std::string, std::string>> environmentBlock<char>() {
  std::vector<std::pair<std::string, std::string>> entries;
  char* block = ::GetEnvironmentStrings();
  if (!block) return entries;
  for (const char* p = block; *p; p += strlen(p) + 1) {
    std::string_view entry(p);
    std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos) continue;
    entries.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
  }
  ::FreeEnvironmentStringsA(block);
  return entries;
}

}  // namespace

std::wstring expandWide(std::wstring text, bool ansiForm) {
  ExpansionValues<wchar_t> v;
  v.launcherDir = ansiForm ? core::launcherDirWidened() : core::launcherDirW();
  v.launcherTempDir = win::wide(core::runState().extractionDir);
  v.jvmHome = win::wide(chosenRuntime().home);
  // The temporary root is looked up only when asked for: its search has side effects.
  if (text.find(L"${launcher:sys.tempDir}") != std::wstring::npos)
    v.systemTempDir = ansiForm ? win::wide(core::tempRoot()) : core::tempRootW(false);
  v.environment = environmentBlock<wchar_t>();
  expandVariables<wchar_t>(text, v,
                           [](std::wstring_view token, std::wstring_view value, std::wstring_view all) {
                             core::logLine(L"expanding2 %s to %s in %s.", std::wstring(token).c_str(),
                                           std::wstring(value).c_str(), std::wstring(all).c_str());
                           });
  return text;
}

std::string expandNarrow(std::string text) {
  ExpansionValues<char> v;
  v.launcherDir = core::launcherDir();
  v.launcherTempDir = core::runState().extractionDir;
  v.jvmHome = chosenRuntime().home;
  if (text.find("${launcher:sys.tempDir}") != std::string::npos) v.systemTempDir = core::tempRoot();
  v.environment = environmentBlock<char>();
  expandVariables<char>(text, v, [](std::string_view token, std::string_view value, std::string_view all) {
    core::logLine(L"expanding2 %S to %S in %S.", std::string(token).c_str(), std::string(value).c_str(),
                  std::string(all).c_str());
  });
  return text;
}

}  // namespace shipkit::jvm
