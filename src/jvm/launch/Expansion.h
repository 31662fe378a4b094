#pragma once
// The launcher's placeholders in configured texts: its directory, its temporary directory,
// the path-list separator, the chosen runtime's home, the system temporary directory and
// "${NAME}" for every environment variable. No system calls: the values come in.

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace shipkit::jvm {

template <typename Char>
struct ExpansionValues {
  using String = std::basic_string<Char>;
  String launcherDir;      // with its trailing backslash
  String launcherTempDir;  // the extraction directory
  String jvmHome;          // empty before a runtime is chosen
  String systemTempDir;
  // The environment block in block order, each entry split at its first "=".
  std::vector<std::pair<String, String>> environment;
};

template <typename Char>
using ExpansionLogger =
    std::function<void(std::basic_string_view<Char> token, std::basic_string_view<Char> value,
                       std::basic_string_view<Char> text)>;

// Replaces every occurrence of `token` after the previous replacement's end, so a value
// containing its own token is not expanded again. Logs each replacement.
template <typename Char>
void replaceAll(std::basic_string<Char>& text, std::basic_string_view<Char> token,
                std::basic_string_view<Char> value, const ExpansionLogger<Char>& log) {
  if (token.empty()) return;
  std::size_t pos = 0;
  while ((pos = text.find(token, pos)) != std::basic_string<Char>::npos) {
    text.replace(pos, token.size(), value);
    pos += value.size();
    if (log) log(token, value, text);
  }
}

// The token table in replacement order, then "${NAME}" and "${UPPER-CASED NAME}" for each
// environment entry in block order. The text grows as needed: nothing is cut.
template <typename Char>
void expandVariables(std::basic_string<Char>& text, const ExpansionValues<Char>& v,
                     const ExpansionLogger<Char>& log = {}) {
  using String = std::basic_string<Char>;
  auto s = [](const char* ascii) {
    String out;
    for (; *ascii; ++ascii) out += Char(*ascii);
    return out;
  };
  const String separator = s(";");
  const std::pair<const char*, const String*> table[] = {
      {"%JARWRAP_EXEDIR%", &v.launcherDir},
      {"%SHIPKIT_EXEDIR%", &v.launcherDir},
      {"%JARWRAP_TEMPDIR%", &v.launcherTempDir},
      {"%SHIPKIT_TEMPDIR%", &v.launcherTempDir},
      {"%JARWRAP_PATHLIST_SEPARATOR%", &separator},
      {"%SHIPKIT_PATHLIST_SEPARATOR%", &separator},
      {"%JARWRAP_JVM_HOME%", &v.jvmHome},
      {"%SHIPKIT_JVM_HOME%", &v.jvmHome},
      {"${JARWRAP_EXEDIR}", &v.launcherDir},
      {"${SHIPKIT_EXEDIR}", &v.launcherDir},
      {"${JARWRAP_TEMPDIR}", &v.launcherTempDir},
      {"${SHIPKIT_TEMPDIR}", &v.launcherTempDir},
      {"${JARWRAP_PATHLIST_SEPARATOR}", &separator},
      {"${SHIPKIT_PATHLIST_SEPARATOR}", &separator},
      {"${JARWRAP_JVM_HOME}", &v.jvmHome},
      {"${SHIPKIT_JVM_HOME}", &v.jvmHome},
      {"${launcher:sys.launcherDirectory}", &v.launcherDir},
      {"${launcher:sys.launcherTempDirectory}", &v.launcherTempDir},
      {"${launcher:sys.pathlistSeparator}", &separator},
      {"${launcher:sys.jvmHome}", &v.jvmHome},
      {"${launcher:sys.tempDir}", &v.systemTempDir},
  };
  for (const auto& [token, value] : table) replaceAll<Char>(text, s(token), *value, log);
  for (const auto& [name, value] : v.environment) {
    String token = s("${") + name + s("}");
    replaceAll<Char>(text, token, value, log);
    String upper = token;
    for (auto& c : upper)
      if (c >= Char('a') && c <= Char('z')) c = Char(c - Char('a') + Char('A'));
    // For a name already in upper case this is the same token: a second pass would expand
    // a value that contains its own token once more.
    if (upper != token) replaceAll<Char>(text, upper, value, log);
  }
}

}  // namespace shipkit::jvm
