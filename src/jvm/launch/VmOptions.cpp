#include "jvm/launch/VmOptions.h"

#include "core/PathRules.h"
#include "jvm/launch/OptionSources.h"
#include "jvm/launch/VersionLines.h"

namespace shipkit::jvm {

namespace {

bool startsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Adds one ";"-terminated entry; a value that already ends with ";" is not given a second.
void addEntry(std::string& builder, std::string_view value) {
  if (value.empty()) return;
  builder += value;
  if (value.back() != ';') builder += ';';
}

// File names compare without regard to the case of ASCII letters, as the file system does.
bool samePath(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x = wchar_t(x - L'A' + L'a');
    if (y >= L'A' && y <= L'Z') y = wchar_t(y - L'A' + L'a');
    if (x != y) return false;
  }
  return true;
}

void removeOneTrailingSemicolon(std::string& text) {
  if (!text.empty() && text.back() == ';') text.pop_back();
}

}  // namespace

void VmOptionsAssembly::dispatchOptionLine(std::wstring_view line, const std::wstring* includeDir) {
  if (startsWith(line, L"-include-options "))
    includeOptionsFile(line.substr(17), includeDir);
  else if (startsWith(line, L"-classpath "))
    classPath_.replacement = host_.toAnsi(line.substr(11));
  else if (startsWith(line, L"-classpath/p "))
    classPath_.prepend = host_.toAnsi(line.substr(13));
  else if (startsWith(line, L"-classpath/a "))
    classPath_.append = host_.toAnsi(line.substr(13));
  else if (options_.size() < kMaxOptionsAdded)
    options_.push_back(host_.toAnsi(line));
  else if (!optionsCapLogged_) {
    optionsCapLogged_ = true;
    logError(L"option %s not added: more than %d options", line, int(kMaxOptionsAdded));
  }
}

void VmOptionsAssembly::includeOptionsFile(std::wstring_view rest, const std::wstring* includeDir) {
  std::wstring expanded = host_.expandWide(std::wstring(rest), false);
  log(L"after exp from %s %s", expanded, rest);
  std::wstring path = expanded;
  if (core::isRelative<wchar_t>(expanded))
    path = (includeDir ? *includeDir : host_.launcherDirW()) + expanded;
  path = host_.fullPath(path);
  // A file that is being read already would include itself again (directly or through
  // others) without end: it is refused, as is any include past the depth and count limits.
  for (const std::wstring& open : includeStack_) {
    if (samePath(open, path)) {
      logError(L"options file %s not read: it includes itself", path);
      return;
    }
  }
  if (int(includeStack_.size()) >= kMaxIncludeDepth) {
    logError(L"options file %s not read: more than %d nested includes", path, kMaxIncludeDepth);
    return;
  }
  if (filesRead_ >= kMaxOptionsFilesRead) {
    logError(L"options file %s not read: more than %d options files", path, kMaxOptionsFilesRead);
    return;
  }
  std::optional<OptionsFileText> file = host_.openOptionsFile(path);
  log(L"adding vmoptions from (%p) <%s> (%s)", file ? file->handle : nullptr, path, expanded);
  if (file) {
    const std::wstring dir = core::directoryOf<wchar_t>(path);
    readOptionsFile(file->text, path, &dir);
  }
  log(L"adding vmoptions 2");
  log(L"adding vmoptions 3");
}

void VmOptionsAssembly::readOptionsFile(std::string_view text, std::wstring_view path,
                                        const std::wstring* includeDir) {
  ++filesRead_;
  includeStack_.emplace_back(path);
  // Editors that save UTF-8 put a byte-order mark first; it is not part of the first option.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  for (const RawOptionLine& raw : splitOptionLines(text)) {
    if (raw.cut)
      logError(L"line in %s longer than %d bytes: the rest is read as the next line", path,
               int(kOptionsLineMax));
    std::optional<std::string_view> content = optionLineContent(raw.text);
    if (!content) continue;
    dispatchOptionLine(host_.expandWide(host_.fromAnsi(*content), true), includeDir);
  }
  includeStack_.pop_back();
}

void VmOptionsAssembly::addWordList(std::wstring_view text) {
  for (const std::wstring& word : optionWords(host_.expandWide(std::wstring(text), true)))
    dispatchOptionLine(word, nullptr);
}

void VmOptionsAssembly::addVersionSpecificOptions() {
  int32_t count = host_.configInt(10200);
  if (count <= 0) return;
  if (count > kMaxVersionLines) {
    logError(L"%d version specific vm option lines given: only the first %d are checked", int(count),
             int(kMaxVersionLines));
    count = kMaxVersionLines;
  }
  const std::string version = host_.runtimeVersion();
  log(L"check %d version specific vm option lines for %S", int(count), version);
  if (version.empty()) return;
  const int feature = featureNumber(version);
  for (int64_t i = 0; i < count; ++i) {
    const int64_t conditionId = 10201 + 2 * i;
    if (conditionId + 1 > INT32_MAX) break;  // no entry can be numbered beyond
    const std::string condition = host_.configString(int32_t(conditionId));
    const VersionCondition check = checkVersionCondition(condition, version, feature);
    if (check.kind == VersionCondition::Kind::range)
      log(L"checking min %d max %d with %d", check.min, check.max, feature);
    else if (check.kind == VersionCondition::Kind::invalid)
      log(L"ERROR: expected dash");
    log(L"checking version %S %d", condition, int(check.matches));
    if (check.matches) {
      const std::wstring specific = host_.configWString(int32_t(conditionId + 1));
      log(L"adding specific %s", specific);
      addWordList(specific);
      return;
    }
  }
}

void VmOptionsAssembly::addLocaleOptions(const std::vector<std::wstring>& launcherArgs) {
  const std::wstring* last = nullptr;
  for (const std::wstring& arg : launcherArgs)
    if (startsWith(arg, L"-Dsun.locale.formatasdefault=")) last = &arg;
  if (!last) return;
  dispatchOptionLine(*last, nullptr);
  if (*last == L"-Dsun.locale.formatasdefault=true") return;
  if (std::optional<std::string> language = host_.languageCode())
    dispatchOptionLine(formatLog(L"-Duser.language=%S", *language), nullptr);
  if (std::optional<std::string> country = host_.countryCode())
    dispatchOptionLine(formatLog(L"-Duser.country=%S", *country), nullptr);
}

std::optional<DefaultOptionsFile> findDefaultOptionsFile(VmOptionsHost& host, std::wstring_view longPath,
                                                         std::wstring_view moduleFileName) {
  for (std::wstring_view exe : {longPath, moduleFileName}) {
    std::wstring path = optionsFileBesideExe(exe);
    std::optional<OptionsFileText> file = host.openOptionsFile(path);
    host.logLine(
        formatLog(L"vmoptions2: exe %s file: %s, file: %p", exe, path, file ? file->handle : nullptr));
    if (file) return DefaultOptionsFile{std::move(path), std::move(*file)};
    path = optionsFileAppended(exe);
    file = host.openOptionsFile(path);
    host.logLine(formatLog(L"vmoptions: opts2: %s, file: %p", path, file ? file->handle : nullptr));
    if (file) return DefaultOptionsFile{std::move(path), std::move(*file)};
  }
  return std::nullopt;
}

void VmOptionsAssembly::addDefaultOptionsFile() {
  std::optional<DefaultOptionsFile> found =
      findDefaultOptionsFile(host_, host_.launcherLongPath(), host_.moduleFileName());
  log(L"default vmoptions file: %p", found ? found->file.handle : nullptr);
  // Relative includes of the launcher's own file resolve against the launcher's directory.
  if (found) readOptionsFile(found->file.text, found->path, nullptr);
}

void VmOptionsAssembly::addArchives(const std::string& dir, std::string& builder) {
  for (std::string_view pattern : {"*.jar", "*.zip"})
    for (const std::string& name : host_.listFiles(dir, pattern)) addEntry(builder, joinPath(dir, name));
}

bool VmOptionsAssembly::addPathEntries(const std::string& configured, bool forModules, std::string& builder) {
  log(L"entry %S", configured);
  const std::vector<PathEntry> entries = parsePathEntries(configured);
  log(L"entries %d", int(entries.size()));
  for (const PathEntry& entry : entries) {
    if (!entry.valid) {
      logError(L"path entry %S has no type and flag: ignored", entry.text);
      continue;
    }
    const std::string value = host_.expandNarrow(std::string(entry.value));
    switch (entry.type) {
      case 'A':
      case 'D': {
        // Every listed path must exist for the entry to count as found; with one path this
        // is the test of that path.
        std::string joined;
        bool found = true;
        for (std::string_view piece : splitPathList(value)) {
          std::string path = host_.launcherRelative(piece);
          found = found && host_.exists(path);
          if (!joined.empty()) joined += ';';
          joined += path;
        }
        if (joined.empty()) found = false;
        if (entry.required && !found) {
          host_.requiredMissing(1006, value);
          return false;
        }
        addEntry(builder, joined);
        break;
      }
      case 'E': {
        std::optional<std::string> variable = host_.environmentVariable(value);
        if (!variable) {
          if (entry.required) {
            host_.requiredMissing(1008, value);
            return false;
          }
          break;
        }
        std::string_view text = *variable;
        if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
          text = text.substr(1, text.size() - 2);
        addEntry(builder, text);
        break;
      }
      case 'S': {
        const std::string dir = host_.launcherRelative(value);
        if (entry.required && !host_.exists(dir)) {
          host_.requiredMissing(1006, value);
          return false;
        }
        if (forModules)
          addEntry(builder, dir);
        else
          addArchives(dir, builder);
        break;
      }
      default:
        logError(L"path entry %S has an unknown type: ignored", entry.text);
        break;
    }
  }
  return true;
}

bool VmOptionsAssembly::addClassAndModulePath() {
  std::string modulePath;
  log(L"adding preconfigured modulepath");
  if (!addPathEntries(host_.configString(132), true, modulePath)) return false;
  const bool moduleMode = host_.configInt(133) != 0;

  // The class path entries, each ending in ";"; "-Djava.class.path=" is put before them at
  // the end.
  std::string classPath;
  if (classPath_.prepend) addEntry(classPath, *classPath_.prepend);
  std::string& archives = !modulePath.empty() || moduleMode ? modulePath : classPath;
  const std::string extractionDir = host_.extractionDir();
  // Without an extraction directory there are no extracted archives (and an empty
  // directory name must not turn into the current drive's root).
  if (!extractionDir.empty()) {
    addArchives(extractionDir, archives);
    addArchives(joinPath(extractionDir, "user"), archives);
  }
  if (classPath_.replacement) {
    addEntry(classPath, *classPath_.replacement);
  } else {
    log(L"adding preconfigured classpath");
    if (!addPathEntries(host_.configString(121), false, classPath)) return false;
  }
  if (classPath_.append && !classPath_.append->empty()) {
    // No separator before the first entry: an empty entry would put the current directory
    // on the class path.
    if (!classPath.empty() && classPath.back() != ';') classPath += ';';
    classPath += *classPath_.append;
  }
  removeOneTrailingSemicolon(classPath);
  options_.push_back("-Djava.class.path=" + classPath);

  if (modulePath.empty()) return true;
  removeOneTrailingSemicolon(modulePath);
  options_.push_back("--module-path=" + modulePath);
  const std::string runtimeModule =
      host_.launcherKind() == 'i' ? "com.shipkit.runtime" : "com.jarwrap.runtime";
  std::string addModules = "--add-modules=";
  if (moduleMode) {
    // The main class is "module/qualified.ClassName": its package is opened to the runtime
    // module, and its module is added.
    const std::string mainClass = host_.configString(122);
    const std::size_t slash = mainClass.find('/');
    if (slash != std::string::npos && mainClass.find('.', slash + 1) != std::string::npos)
      options_.push_back("--add-opens=" + mainClass.substr(0, mainClass.rfind('.')) + "=" + runtimeModule);
    const std::string module = mainClass.substr(0, slash);
    if (!module.empty()) addModules += module + ",";
  }
  addModules += runtimeModule;
  options_.push_back(addModules);
  return true;
}

std::optional<std::vector<std::string>> VmOptionsAssembly::assemble(
    const std::vector<std::wstring>& launcherArgs, const std::vector<std::string>& leadingOptions) {
  options_ = leadingOptions;
  classPath_ = {};
  includeStack_.clear();
  filesRead_ = 0;
  optionsCapLogged_ = false;

  const std::wstring parameters = host_.configWString(123);
  log(L"adding options");
  addWordList(parameters);

  addVersionSpecificOptions();

  if (host_.configInt(125) != 0)
    for (const std::wstring& arg : launcherArgs)
      if (startsWith(arg, L"-J")) dispatchOptionLine(std::wstring_view(arg).substr(2), nullptr);

  addLocaleOptions(launcherArgs);

  if (host_.configInt(166) != 0) addDefaultOptionsFile();

  if (!addClassAndModulePath()) return std::nullopt;

  joinSplitModuleOptions(options_);
  return options_;
}

}  // namespace shipkit::jvm
