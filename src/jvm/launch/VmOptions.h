#pragma once
// Assembly of the JVM option list: the leading system properties, the configured VM
// parameters, the version-specific lines, "-J" arguments, locale options, the launcher's
// .vmoptions file, the class path and the module path. Everything the assembly reads or
// reports goes through VmOptionsHost, so that it runs unchanged over a fake file system.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jvm/launch/VmOptionsLog.h"

namespace shipkit::jvm {

// Options files nest at most this deep.
inline constexpr int kMaxIncludeDepth = 16;
// Bounds of one assembly, so that files that include each other several times over (a
// fan-out that grows exponentially with the depth) or a damaged line count stay cheap.
inline constexpr int kMaxOptionsFilesRead = 256;
inline constexpr std::size_t kMaxOptionsAdded = 16384;
inline constexpr int32_t kMaxVersionLines = 4096;

// An options file as opened and read in text mode; `handle` is only shown in the log.
struct OptionsFileText {
  const void* handle = nullptr;
  std::string text;
};

class VmOptionsHost {
 public:
  virtual ~VmOptionsHost() = default;

  // Configuration entries: an absent entry is empty or 0. Texts are cut to 5999 units.
  virtual int32_t configInt(int32_t id) = 0;
  virtual std::string configString(int32_t id) = 0;
  virtual std::wstring configWString(int32_t id) = 0;
  // The two-letter codes of the user language key; none when unknown.
  virtual std::optional<std::string> languageCode() = 0;
  virtual std::optional<std::string> countryCode() = 0;
  // The chosen runtime's version string; empty when none is known.
  virtual std::string runtimeVersion() = 0;
  // The first character of the launcher kind entry.
  virtual char launcherKind() = 0;
  // The extraction directory; empty when there is none.
  virtual std::string extractionDir() = 0;

  // The launcher's directory (long form, with its trailing backslash), its long path and
  // the module file name the system reports.
  virtual std::wstring launcherDirW() = 0;
  virtual std::wstring launcherLongPath() = 0;
  virtual std::wstring moduleFileName() = 0;

  // Variable expansion; `ansiForm` puts the launcher directory in its ANSI form.
  virtual std::wstring expandWide(std::wstring text, bool ansiForm) = 0;
  virtual std::string expandNarrow(std::string text) = 0;
  // The ANSI code page of the file functions: unmappable characters become "?".
  virtual std::string toAnsi(std::wstring_view text) = 0;
  virtual std::wstring fromAnsi(std::string_view text) = 0;

  // An absolute path made full ("." and ".." resolved).
  virtual std::wstring fullPath(std::wstring_view path) = 0;
  // A narrow path made absolute against the launcher's directory.
  virtual std::string launcherRelative(std::string_view path) = 0;
  virtual bool exists(const std::string& path) = 0;
  // The names in `dir` matching `pattern` ("*.jar"), in the file system's order.
  virtual std::vector<std::string> listFiles(const std::string& dir, std::string_view pattern) = 0;
  // None when the file cannot be opened.
  virtual std::optional<OptionsFileText> openOptionsFile(const std::wstring& path) = 0;
  // None when the variable is not set.
  virtual std::optional<std::string> environmentVariable(const std::string& name) = 0;

  // A required class or module path entry is missing: message 1006 (path) or 1008
  // (variable name). The launcher ends here; a host that returns makes the assembly fail.
  virtual void requiredMissing(int messageId, const std::string& argument) = 0;
  // One formatted log line; logError's line is an error line.
  virtual void logLine(std::wstring_view text) = 0;
  virtual void logError(std::wstring_view text) = 0;
};

// The class path settings of option lines; each is replaced by the last line that sets it.
struct ClassPathOverrides {
  std::optional<std::string> replacement;  // "-classpath "
  std::optional<std::string> prepend;      // "-classpath/p "
  std::optional<std::string> append;       // "-classpath/a "
};

class VmOptionsAssembly {
 public:
  explicit VmOptionsAssembly(VmOptionsHost& host) : host_(host) {}

  // The full list, the leading options first. None when a required path entry is missing
  // (after the host was told).
  std::optional<std::vector<std::string>> assemble(const std::vector<std::wstring>& launcherArgs,
                                                   const std::vector<std::string>& leadingOptions);

  // Interprets one option line: an include, a class path setting or an option. Relative
  // includes resolve against `includeDir` (with its trailing backslash), or the launcher's
  // directory when it is null.
  void dispatchOptionLine(std::wstring_view line, const std::wstring* includeDir);
  // Processes one file's text in the .vmoptions syntax; `path` names it in error lines.
  void readOptionsFile(std::string_view text, std::wstring_view path, const std::wstring* includeDir);
  // Expands, splits and dispatches a configured word list.
  void addWordList(std::wstring_view text);

  const std::vector<std::string>& options() const { return options_; }
  const ClassPathOverrides& classPath() const { return classPath_; }

 private:
  template <typename... Args>
  void log(std::wstring_view format, const Args&... args) {
    host_.logLine(formatLog(format, args...));
  }
  template <typename... Args>
  void logError(std::wstring_view format, const Args&... args) {
    host_.logError(formatLog(format, args...));
  }

  void includeOptionsFile(std::wstring_view rest, const std::wstring* includeDir);
  void addVersionSpecificOptions();
  void addLocaleOptions(const std::vector<std::wstring>& launcherArgs);
  void addDefaultOptionsFile();
  bool addClassAndModulePath();
  bool addPathEntries(const std::string& configured, bool forModules, std::string& builder);
  void addArchives(const std::string& dir, std::string& builder);

  VmOptionsHost& host_;
  std::vector<std::string> options_;
  ClassPathOverrides classPath_;
  std::vector<std::wstring> includeStack_;  // options files being read, innermost last
  int filesRead_ = 0;
  bool optionsCapLogged_ = false;
};

// The launcher's own options file: the long path with ".exe" replaced by ".vmoptions", then
// with ".vmoptions" appended; then the same two for the module file name. Logs each try.
struct DefaultOptionsFile {
  std::wstring path;
  OptionsFileText file;
};
std::optional<DefaultOptionsFile> findDefaultOptionsFile(VmOptionsHost& host, std::wstring_view longPath,
                                                         std::wstring_view moduleFileName);

inline std::optional<std::vector<std::string>> assembleVmOptions(
    VmOptionsHost& host, const std::vector<std::wstring>& launcherArgs,
    const std::vector<std::string>& leadingOptions) {
  return VmOptionsAssembly(host).assemble(launcherArgs, leadingOptions);
}

}  // namespace shipkit::jvm
