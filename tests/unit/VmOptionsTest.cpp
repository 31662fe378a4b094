// The VM option assembly over a fake host: configuration entries, files, directory
// listings and environment variables are tables; log lines and reported messages are kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "core/PathRules.h"
#include "jvm/launch/Expansion.h"
#include "jvm/launch/OptionSources.h"
#include "jvm/launch/VersionLines.h"
#include "jvm/launch/VmOptions.h"

using namespace shipkit::jvm;
using Options = std::vector<std::string>;
using Args = std::vector<std::wstring>;

namespace {

std::wstring widen(std::string_view bytes) {
  std::wstring out;
  for (char b : bytes) out += wchar_t(static_cast<unsigned char>(b));
  return out;
}

std::string lowerAscii(std::string text) {
  return shipkit::core::lowerAZ<char>(text);
}

class FakeHost : public VmOptionsHost {
 public:
  std::map<int32_t, std::string> config;
  std::optional<std::string> language;
  std::optional<std::string> country;
  std::string version;
  char kind = 'i';
  std::string extraction = "C:\\T\\x_dir1";
  std::wstring longPath = L"C:\\App\\setup.exe";
  std::wstring modulePath = L"C:\\App\\setup.exe";
  std::map<std::wstring, std::string> files;                 // options files by full path
  std::map<std::string, std::vector<std::string>> listings;  // directory -> names, listing order
  std::set<std::string> existing;                            // other paths that exist
  std::map<std::string, std::string> environment;
  std::vector<std::pair<int, std::string>> missing;  // reported required entries
  std::vector<std::wstring> log;                     // errors begin with "ERROR: "
  std::vector<std::wstring> opened;                  // options file opening attempts

  int32_t configInt(int32_t id) override {
    auto it = config.find(id);
    return it == config.end() ? 0 : std::atoi(it->second.c_str());
  }
  std::string configString(int32_t id) override {
    auto it = config.find(id);
    return it == config.end() ? std::string() : it->second;
  }
  std::wstring configWString(int32_t id) override { return widen(configString(id)); }
  std::optional<std::string> languageCode() override { return language; }
  std::optional<std::string> countryCode() override { return country; }
  std::string runtimeVersion() override { return version; }
  char launcherKind() override { return kind; }
  std::string extractionDir() override { return extraction; }
  std::wstring launcherDirW() override { return L"C:\\App\\"; }
  std::wstring launcherLongPath() override { return longPath; }
  std::wstring moduleFileName() override { return modulePath; }

  std::wstring expandWide(std::wstring text, bool) override {
    ExpansionValues<wchar_t> v;
    v.launcherDir = L"C:\\App\\";
    v.launcherTempDir = widen(extraction);
    for (const auto& [name, value] : environment) v.environment.emplace_back(widen(name), widen(value));
    expandVariables<wchar_t>(text, v);
    return text;
  }
  std::string expandNarrow(std::string text) override {
    ExpansionValues<char> v;
    v.launcherDir = "C:\\App\\";
    v.launcherTempDir = extraction;
    for (const auto& [name, value] : environment) v.environment.emplace_back(name, value);
    expandVariables<char>(text, v);
    return text;
  }
  std::string toAnsi(std::wstring_view text) override {
    std::string out;
    for (wchar_t c : text) out += c <= 0xFF ? char(c) : '?';
    return out;
  }
  std::wstring fromAnsi(std::string_view text) override { return widen(text); }

  std::wstring fullPath(std::wstring_view path) override { return std::wstring(path); }
  std::string launcherRelative(std::string_view path) override {
    if (shipkit::core::isRelative<char>(path)) return "C:\\App\\" + std::string(path);
    return std::string(path);
  }
  bool exists(const std::string& path) override {
    return existing.count(path) || listings.count(path) || files.count(widen(path));
  }
  std::vector<std::string> listFiles(const std::string& dir, std::string_view pattern) override {
    // The patterns are "*.jar" and "*.zip": a case-insensitive suffix, as on Windows.
    std::string suffix = lowerAscii(std::string(pattern.substr(1)));
    std::vector<std::string> names;
    auto it = listings.find(dir);
    if (it == listings.end()) return names;
    for (const std::string& name : it->second) {
      std::string lower = lowerAscii(name);
      if (lower.size() >= suffix.size() &&
          lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0)
        names.push_back(name);
    }
    return names;
  }
  std::optional<OptionsFileText> openOptionsFile(const std::wstring& path) override {
    opened.push_back(path);
    auto it = files.find(path);
    if (it == files.end()) return std::nullopt;
    return OptionsFileText{&it->second, it->second};
  }
  std::optional<std::string> environmentVariable(const std::string& name) override {
    auto it = environment.find(name);
    if (it == environment.end()) return std::nullopt;
    return it->second;
  }
  void requiredMissing(int messageId, const std::string& argument) override {
    missing.emplace_back(messageId, argument);
  }
  void logLine(std::wstring_view text) override { log.emplace_back(text); }
  void logError(std::wstring_view text) override { log.push_back(L"ERROR: " + std::wstring(text)); }

  // The pointer the log shows for an options file of this fake.
  std::wstring handleText(const std::wstring& path) {
    return formatLog(L"%p", static_cast<const void*>(&files.at(path)));
  }
  bool logged(std::wstring_view line) const { return std::find(log.begin(), log.end(), line) != log.end(); }
  std::vector<std::wstring> errors() const {
    std::vector<std::wstring> out;
    for (const auto& line : log)
      if (line.rfind(L"ERROR: ", 0) == 0) out.push_back(line);
    return out;
  }
};

// Runs the whole assembly and returns the list; fails the test when it reports failure.
Options assemble(FakeHost& host, const Args& args = {L"C:\\App\\setup.exe"}, const Options& leading = {}) {
  std::optional<Options> options = assembleVmOptions(host, args, leading);
  EXPECT_TRUE(options.has_value());
  return options.value_or(Options{});
}

// The assembly with the class path option (always last without module options) removed.
Options withoutClassPath(Options options) {
  EXPECT_FALSE(options.empty());
  if (!options.empty()) {
    EXPECT_EQ(options.back().rfind("-Djava.class.path=", 0), 0u) << options.back();
    options.pop_back();
  }
  return options;
}

}  // namespace

// ---- log formatting -------------------------------------------------------------------

TEST(VmOptionsLog, DirectivesFollowTheLauncherLog) {
  struct Row {
    std::wstring got;
    std::wstring want;
  } rows[] = {
      {formatLog(L"a %s b", L"wide"), L"a wide b"},
      {formatLog(L"%S", std::string("caf\xE9")), L"caf\u00E9"},  // widened byte for unit
      {formatLog(L"%d|%d", -7, 2147483647), L"-7|2147483647"},
      {formatLog(L"(%p)", static_cast<const void*>(nullptr)), L"(0000000000000000)"},
      {formatLog(L"%p", reinterpret_cast<const void*>(std::uintptr_t(0xABCDEF12))), L"00000000ABCDEF12"},
      {formatLog(L"100%%"), L"100%"},
      {formatLog(L"%x %d"), L"%x <?>"},                   // unknown directive kept, missing argument marked
      {formatLog(L"%s", std::string("narrow")), L"<?>"},  // wrong kind is not read as the other kind
      {formatLog(L"end %"), L"end %"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.got, row.want);
}

// ---- option line dispatch -----------------------------------------------------------

TEST(VmOptionsDispatch, PrefixesAreExactAndCaseSensitive) {
  struct Row {
    std::wstring line;
    Options options;
    std::optional<std::string> replacement, prepend, append;
  } rows[] = {
      {L"-Xmx512m", {"-Xmx512m"}, {}, {}, {}},
      {L"-classpath a.jar;b.jar", {}, "a.jar;b.jar", {}, {}},
      {L"-classpath/p first.jar", {}, {}, "first.jar", {}},
      {L"-classpath/a last.jar", {}, {}, {}, "last.jar"},
      {L"-classpath", {"-classpath"}, {}, {}, {}},  // no blank: an ordinary option
      {L"-classpathx y", {"-classpathx y"}, {}, {}, {}},
      {L"-CLASSPATH a.jar", {"-CLASSPATH a.jar"}, {}, {}, {}},
      {L"-classpath/x a.jar", {"-classpath/x a.jar"}, {}, {}, {}},
      {L"-classpath /p a.jar", {}, "/p a.jar", {}, {}},  // "-classpath " wins first
      {L"-include-options", {"-include-options"}, {}, {}, {}},
      {L"-Dname=\u20AC\u00E9", {"-Dname=?\xE9"}, {}, {}, {}},  // unmappable becomes "?"
  };
  for (const auto& row : rows) {
    FakeHost host;
    VmOptionsAssembly assembly(host);
    assembly.dispatchOptionLine(row.line, nullptr);
    EXPECT_EQ(assembly.options(), row.options);
    EXPECT_EQ(assembly.classPath().replacement, row.replacement);
    EXPECT_EQ(assembly.classPath().prepend, row.prepend);
    EXPECT_EQ(assembly.classPath().append, row.append);
  }
}

TEST(VmOptionsDispatch, LaterClassPathLinesReplaceEarlierOnes) {
  FakeHost host;
  host.config[123] = "-include-options C:\\cfg\\a.vmoptions";
  host.files[L"C:\\cfg\\a.vmoptions"] = "-classpath/p first.jar\n-classpath/p second.jar\n";
  EXPECT_EQ(assemble(host), (Options{"-Djava.class.path=second.jar"}));
}

// ---- the .vmoptions syntax ------------------------------------------------------------

TEST(VmOptionsFile, LineSyntax) {
  struct Row {
    std::string text;
    Options options;
  } rows[] = {
      {"", {}},
      {"   \n\n  \r\n", {}},  // blank-only lines
      {"# comment\n", {}},
      {"   # indented comment\n", {}},
      {"#-Xmx1g\n-Xms1m", {"-Xms1m"}},                 // last line without a line end
      {"-Dx=a b c\n", {"-Dx=a b c"}},                  // blanks inside stay: one option
      {"-Xmx1g\r\n-Xms1m\r\n", {"-Xmx1g", "-Xms1m"}},  // CR LF endings
      {"-Dcr\r\r\n\n", {"-Dcr"}},
      {"  -Xss1m  \n", {"-Xss1m"}},  // only spaces are trimmed
      {"\t-Xss1m\t\n", {"\t-Xss1m\t"}},
      {"-Da\\\n-Db\n", {"-Da\\", "-Db"}},  // no continuation lines
      {"-Dx=1 # not a comment\n", {"-Dx=1 # not a comment"}},
      {std::string("-Dab\0cd\n-De\n", 12), {"-Dab", "-De"}},  // nothing after a NUL survives
      {"-Dhome=${launcher:sys.launcherDirectory}lib\n", {"-Dhome=C:\\App\\lib"}},
  };
  for (const auto& row : rows) {
    FakeHost host;
    VmOptionsAssembly assembly(host);
    assembly.readOptionsFile(row.text, L"C:\\App\\t.vmoptions", nullptr);
    EXPECT_EQ(assembly.options(), row.options) << row.text;
    EXPECT_TRUE(host.errors().empty()) << row.text;
  }
}

TEST(VmOptionsFile, LinesLongerThanTheLimitContinueAsTheNextLine) {
  const std::string full(kOptionsLineMax, 'x');
  struct Row {
    std::string text;
    Options options;
    bool error;
  } rows[] = {
      {full + "\n-Dnext\n", {full, "-Dnext"}, false},
      {full + "\r\n-Dnext\n", {full, "-Dnext"}, false},  // only the line end is beyond the limit
      {full, {full}, false},
      {full + "y\n", {full, "y"}, true},
      {full + full + "zz\n", {full, full, "zz"}, true},
  };
  for (const auto& row : rows) {
    FakeHost host;
    VmOptionsAssembly assembly(host);
    assembly.readOptionsFile(row.text, L"C:\\App\\long.vmoptions", nullptr);
    EXPECT_EQ(assembly.options(), row.options);
    std::vector<std::wstring> errors = host.errors();
    if (row.error) {
      ASSERT_FALSE(errors.empty());
      EXPECT_EQ(errors[0],
                L"ERROR: line in C:\\App\\long.vmoptions longer than 29999 bytes: the rest is read as "
                L"the next line");
    } else {
      EXPECT_TRUE(errors.empty());
    }
  }
}

TEST(VmOptionsFile, SplitReturnsEveryByte) {
  // Whatever the text, the pieces put together are the text: nothing is dropped at a cut.
  std::string text = std::string(kOptionsLineMax * 2 + 5, 'a') + "\n\n" + std::string(3, 'b');
  std::string joined;
  for (const RawOptionLine& line : splitOptionLines(text)) {
    EXPECT_LE(line.text.size(), kOptionsLineMax);
    joined += line.text;
  }
  EXPECT_EQ(joined, text);
}

// ---- word lists ------------------------------------------------------------------------

TEST(VmOptionsWords, ConfiguredParameters) {
  struct Row {
    std::string parameters;
    Options options;
  } rows[] = {
      {"-Xmx256m  -Dx=1", {"-Xmx256m", "-Dx=1"}},
      {"-Dx=\"a b\" '-Dy=c d'", {"-Dx=a b", "-Dy=c d"}},
      // Joined by the last step into one option.
      {"--add-opens java.base/java.lang=ALL-UNNAMED", {"--add-opens=java.base/java.lang=ALL-UNNAMED"}},
      {"--add-modules java.sql --add-exports a/b=c", {"--add-modules=java.sql", "--add-exports=a/b=c"}},
      {"-Dz -include-options", {"-Dz", "-include-options"}},  // last word: nothing to join with
      {"-Dtemp=%SHIPKIT_TEMPDIR%", {"-Dtemp=C:\\T\\x_dir1"}},
  };
  for (const auto& row : rows) {
    FakeHost host;
    host.config[123] = row.parameters;
    EXPECT_EQ(withoutClassPath(assemble(host)), row.options) << row.parameters;
    EXPECT_TRUE(host.logged(L"adding options"));
  }
}

TEST(VmOptionsWords, AddOpensInAFileLineStaysOneOptionWithItsBlank) {
  FakeHost host;
  host.config[166] = "1";
  host.files[L"C:\\App\\setup.vmoptions"] = "--add-opens java.base/java.lang=ALL-UNNAMED\n";
  EXPECT_EQ(withoutClassPath(assemble(host)), (Options{"--add-opens java.base/java.lang=ALL-UNNAMED"}));
}

TEST(VmOptionsWords, IncludeWordIsJoinedWithAQuotedPath) {
  FakeHost host;
  host.config[123] = "-include-options \"C:\\My Dir\\o.vmoptions\" -Dafter";
  host.files[L"C:\\My Dir\\o.vmoptions"] = "-Dinside\n";
  EXPECT_EQ(withoutClassPath(assemble(host)), (Options{"-Dinside", "-Dafter"}));
}

TEST(VmOptionsWords, JoinSplitModuleOptions) {
  struct Row {
    Options in;
    Options out;
  } rows[] = {
      {{"--add-exports", "a/b=c", "--patch-module"}, {"--add-exports=a/b=c", "--patch-module"}},
      {{"--upgrade-module-path", "p", "--limit-modules", "m", "--add-reads", "r"},
       {"--upgrade-module-path=p", "--limit-modules=m", "--add-reads=r"}},
      {{"--add-opens", "--add-opens", "x"}, {"--add-opens=--add-opens", "x"}},
      {{"--module-path", "x"}, {"--module-path", "x"}},  // not one of the split options
      {{"--add-modules=x", "y"}, {"--add-modules=x", "y"}},
      {{"--ADD-MODULES", "x"}, {"--ADD-MODULES", "x"}},
      {{}, {}},
  };
  for (auto& row : rows) {
    Options options = row.in;
    joinSplitModuleOptions(options);
    EXPECT_EQ(options, row.out);
  }
}

// ---- version-specific lines ----------------------------------------------------------

TEST(VmOptionsVersion, FeatureNumber) {
  struct Row {
    const char* version;
    int feature;
  } rows[] = {
      {"1.8.0_201", 8}, {"11.0.2", 11},    {"17", 17}, {"1", 1},    {"1.7", 7},
      {"9-ea", 9},      {"21.0.1+12", 21}, {"", -1},   {"...", -1}, {"x", 0},
  };
  for (const auto& row : rows) EXPECT_EQ(featureNumber(row.version), row.feature) << row.version;
}

TEST(VmOptionsVersion, Patterns) {
  struct Row {
    const char* pattern;
    const char* text;
    bool match;
  } rows[] = {
      {"1.8*", "1.8.0_201", true},
      {"1.8*", "11.0.2", false},
      {"11.0.?", "11.0.2", true},
      {"11.0.?", "11.0.21", false},
      {"*", "", true},
      {"", "", true},
      {"", "17", false},
      {"*0*", "11.0.2", true},
      {"1*1", "11", true},
      {"1*1", "1", false},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYbZ", false},
      {"?", "", false},
      {"1.8.0_201", "1.8.0_201", true},
      {"1.8.0_2O1", "1.8.0_201", false},
      {"*A*", "17-ea", false},  // case-sensitive
  };
  for (const auto& row : rows)
    EXPECT_EQ(matchesVersionPattern(row.pattern, row.text), row.match) << row.pattern << " / " << row.text;
  // Many stars over a long text end quickly.
  EXPECT_FALSE(matchesVersionPattern(std::string(200, '*') + "b", std::string(5000, 'a')));
}

TEST(VmOptionsVersion, Conditions) {
  using K = VersionCondition::Kind;
  struct Row {
    const char* condition;
    const char* version;
    K kind;
    int min, max;
    bool match;
  } rows[] = {
      {"1-8", "1.8.0_201", K::range, 1, 8, true},
      {"9-11", "1.8.0_201", K::range, 9, 11, false},
      {"9-11", "11.0.2", K::range, 9, 11, true},
      {"9-11", "17", K::range, 9, 11, false},
      {"-8", "1.8.0_201", K::range, 0, 8, true},  // empty minimum is 0
      {"9-", "17", K::range, 9, 0, false},        // empty maximum is 0 as well
      {"1-8-9", "1.8", K::range, 1, 8, true},     // split at the first dash
      {"8", "1.8", K::invalid, 0, 0, false},
      {"", "1.8", K::invalid, 0, 0, false},
      {"*1.8*", "1.8.0_201", K::pattern, 0, 0, true},
      {"*1.8*", "11.0.2", K::pattern, 0, 0, false},  // the marker "*" is not part of the pattern
      {"**1.8*", "11.1.8", K::pattern, 0, 0, true},
      {"*", "17", K::pattern, 0, 0, false},
      {"*17", "17", K::pattern, 0, 0, true},
  };
  for (const auto& row : rows) {
    VersionCondition c = checkVersionCondition(row.condition, row.version, featureNumber(row.version));
    EXPECT_EQ(c.kind, row.kind) << row.condition;
    EXPECT_EQ(c.matches, row.match) << row.condition << " " << row.version;
    if (row.kind == K::range) {
      EXPECT_EQ(c.min, row.min) << row.condition;
      EXPECT_EQ(c.max, row.max) << row.condition;
    }
  }
}

TEST(VmOptionsVersion, FirstMatchingLineOnly) {
  struct Row {
    const char* version;
    const char* count;  // entry 10200
    Options options;
  } rows[] = {
      {"1.8.0_201", "2", {"-Dold=1", "-Dold=2"}},
      {"11.0.2", "2", {"-Dnew"}},
      {"17", "2", {}},
      {"", "2", {}},               // no version known: the step is skipped
      {"11.0.2", "3", {"-Dnew"}},  // the third line matches as well but comes later
      {"17", "3", {"-Dlater"}},
      {"17", "0", {}},
      {"17", "-1", {}},
  };
  for (const auto& row : rows) {
    FakeHost host;
    host.version = row.version;
    host.config = {{10200, row.count}, {10201, "1-8"},  {10202, "-Dold=1 -Dold=2"}, {10203, "9-11"},
                   {10204, "-Dnew"},   {10205, "9-99"}, {10206, "-Dlater"}};
    EXPECT_EQ(withoutClassPath(assemble(host)), row.options) << row.version << " " << row.count;
  }
}

TEST(VmOptionsVersion, LogLines) {
  FakeHost host;
  host.version = "11.0.2";
  host.config = {{10200, "3"}, {10201, "8"}, {10203, "1-8"}, {10205, "*11.*"}, {10206, "-Dnew"}};
  assemble(host);
  const std::vector<std::wstring> want = {
      L"check 3 version specific vm option lines for 11.0.2",
      L"ERROR: expected dash",
      L"checking version 8 0",
      L"checking min 1 max 8 with 11",
      L"checking version 1-8 0",
      L"checking version *11.* 1",
      L"adding specific -Dnew",
  };
  auto first = std::find(host.log.begin(), host.log.end(), want[0]);
  ASSERT_NE(first, host.log.end());
  ASSERT_GE(std::size_t(host.log.end() - first), want.size());
  EXPECT_EQ(std::vector<std::wstring>(first, first + want.size()), want);

  FakeHost none;
  none.config = {{10200, "2"}, {10201, "1-8"}};
  assemble(none);
  EXPECT_TRUE(none.logged(L"check 2 version specific vm option lines for "));
  for (const auto& line : none.log) EXPECT_NE(line.rfind(L"checking", 0), 0u) << line;
}

// ---- command-line arguments ----------------------------------------------------------

TEST(VmOptionsArguments, DashJOnlyWhenConfigured) {
  const Args args = {L"C:\\App\\setup.exe",     L"-J-Xmx1g", L"-q", L"-Jx", L"-j-Dlower",
                     L"-J-classpath/a more.jar"};
  FakeHost on;
  on.config[125] = "1";
  Options options = assemble(on, args);
  EXPECT_EQ(options, (Options{"-Xmx1g", "x", "-Djava.class.path=more.jar"}));
  FakeHost off;
  EXPECT_EQ(assemble(off, args), (Options{"-Djava.class.path="}));
}

TEST(VmOptionsArguments, LocaleOptions) {
  const std::wstring f = L"-Dsun.locale.formatasdefault=";
  struct Row {
    Args args;
    std::optional<std::string> language, country;
    Options options;
  } rows[] = {
      {{f + L"false"},
       "de",
       "CH",
       {"-Dsun.locale.formatasdefault=false", "-Duser.language=de", "-Duser.country=CH"}},
      {{f + L"true"}, "de", "CH", {"-Dsun.locale.formatasdefault=true"}},
      {{f + L"false", f + L"true"},
       "de",
       "CH",
       {"-Dsun.locale.formatasdefault=true"}},  // the last one counts
      {{f + L"true", f + L"TRUE"},
       "de",
       "CH",
       {"-Dsun.locale.formatasdefault=TRUE", "-Duser.language=de", "-Duser.country=CH"}},
      {{f}, "fr", {}, {"-Dsun.locale.formatasdefault=", "-Duser.language=fr"}},
      {{f + L"false"}, {}, {}, {"-Dsun.locale.formatasdefault=false"}},
      {{L"-Dsun.locale.formatasdefault"}, "de", "CH", {}},
  };
  for (const auto& row : rows) {
    FakeHost host;
    host.language = row.language;
    host.country = row.country;
    EXPECT_EQ(withoutClassPath(assemble(host, row.args)), row.options);
  }
}

// ---- options files and includes ----------------------------------------------------

TEST(VmOptionsFile, FourLineExample) {
  FakeHost host;
  host.config[123] = "-include-options D:\\conf\\first.vmoptions";
  host.files[L"D:\\conf\\first.vmoptions"] =
      "-Xmx700m\n  # heap for large projects\n-classpath/a lib\\extra.jar\n-include-options more.vmoptions\n";
  host.files[L"D:\\conf\\more.vmoptions"] = "-Dmore=1\n";
  host.files[L"C:\\App\\more.vmoptions"] = "-Dwrong=1\n";  // the launcher's directory is not used
  host.listings["C:\\T\\x_dir1"] = {"app.jar"};
  EXPECT_EQ(assemble(host),
            (Options{"-Xmx700m", "-Dmore=1", "-Djava.class.path=C:\\T\\x_dir1\\app.jar;lib\\extra.jar"}));
  EXPECT_TRUE(host.logged(L"after exp from more.vmoptions more.vmoptions"));
  EXPECT_TRUE(host.logged(L"adding vmoptions from (" + host.handleText(L"D:\\conf\\more.vmoptions") +
                          L") <D:\\conf\\more.vmoptions> (more.vmoptions)"));
  EXPECT_TRUE(host.logged(L"adding vmoptions 2"));
  EXPECT_TRUE(host.logged(L"adding vmoptions 3"));
}

TEST(VmOptionsFile, IncludeResolution) {
  struct Row {
    std::string parameters;
    std::wstring opened;
  } rows[] = {
      {"-include-options rel.vmoptions", L"C:\\App\\rel.vmoptions"},  // from configuration: launcher dir
      {"-include-options sub\\rel.vmoptions", L"C:\\App\\sub\\rel.vmoptions"},
      {"-include-options E:\\abs.vmoptions", L"E:\\abs.vmoptions"},
      {"-include-options \\\\srv\\share\\n.vmoptions", L"\\\\srv\\share\\n.vmoptions"},
      {"-include-options ${launcher:sys.launcherDirectory}x.vmoptions", L"C:\\App\\x.vmoptions"},
  };
  for (const auto& row : rows) {
    FakeHost host;
    host.config[123] = row.parameters;
    assemble(host);
    EXPECT_EQ(host.opened, std::vector<std::wstring>{row.opened}) << row.parameters;
  }
}

TEST(VmOptionsFile, MissingIncludeAddsNothingAndLogsANullHandle) {
  FakeHost host;
  host.config[123] = "-Da -include-options nothing.vmoptions -Db";
  EXPECT_EQ(withoutClassPath(assemble(host)), (Options{"-Da", "-Db"}));
  EXPECT_TRUE(host.logged(
      L"adding vmoptions from (0000000000000000) <C:\\App\\nothing.vmoptions> (nothing.vmoptions)"));
  EXPECT_TRUE(host.logged(L"adding vmoptions 2"));
  EXPECT_TRUE(host.errors().empty());
}

// Includes that come back to a file being read are refused at once, and a fan-out without a
// cycle (each file including the next several times) is bounded by the number of files read.
TEST(VmOptionsFile, IncludeCyclesAndFanOutAreBounded) {
  auto selfIncluding = [](int times) {
    std::string text = "-Dloop\n";
    for (int i = 0; i < times; ++i) text += "-include-options LOOP.vmoptions\n";
    return text + "-Dafter\n";
  };
  std::map<std::wstring, std::string> fanOut;  // f0 includes f1 four times, ..., f15 (4^15 paths)
  for (int i = 0; i < kMaxIncludeDepth; ++i) {
    std::string text = "-Df" + std::to_string(i) + "\n";
    for (int k = 0; i + 1 < kMaxIncludeDepth && k < 4; ++k)
      text += "-include-options f" + std::to_string(i + 1) + ".vmoptions\n";
    fanOut[L"C:\\App\\f" + std::to_wstring(i) + L".vmoptions"] = text;
  }
  struct Row {
    const char* name;
    std::string first;  // the file the configuration includes
    std::map<std::wstring, std::string> files;
    std::size_t opened;
    std::wstring error;  // every error line is this one
    std::size_t errors;
  } rows[] = {
      {"self once",
       "loop",
       {{L"C:\\App\\loop.vmoptions", selfIncluding(1)}},
       1,
       L"ERROR: options file C:\\App\\LOOP.vmoptions not read: it includes itself",
       1},
      {"self four times",
       "loop",
       {{L"C:\\App\\loop.vmoptions", selfIncluding(4)}},
       1,
       L"ERROR: options file C:\\App\\LOOP.vmoptions not read: it includes itself",
       4},
      {"through another",
       "loop",
       {{L"C:\\App\\loop.vmoptions", "-Da\n-include-options C:\\App\\b.vmoptions\n"},
        {L"C:\\App\\b.vmoptions", "-Db\n-include-options loop.vmoptions\n-include-options loop.vmoptions\n"}},
       2,
       L"ERROR: options file C:\\App\\loop.vmoptions not read: it includes itself",
       2},
      {"fan-out", "f0", fanOut, std::size_t(kMaxOptionsFilesRead),
       L"ERROR: options file C:\\App\\f15.vmoptions not read: more than 256 options files", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    FakeHost host;
    host.config[123] = "-include-options " + row.first + ".vmoptions -Dend";
    host.files = row.files;
    Options options = withoutClassPath(assemble(host));
    EXPECT_EQ(options.back(), "-Dend");  // the assembly goes on after a refused include
    EXPECT_EQ(host.opened.size(), row.opened);
    std::vector<std::wstring> errors = host.errors();
    ASSERT_FALSE(errors.empty());
    if (row.errors != 0) {
      EXPECT_EQ(errors, std::vector<std::wstring>(row.errors, row.error));
    } else {
      EXPECT_NE(std::find(errors.begin(), errors.end(), row.error), errors.end());
    }
    EXPECT_LE(options.size(), kMaxOptionsAdded + 1);
  }
}

TEST(VmOptionsFile, LimitsOfOneAssembly) {
  // Many options in one file: the rest is dropped with one error line.
  FakeHost many;
  std::string text;
  for (std::size_t i = 0; i < kMaxOptionsAdded + 10; ++i) text += "-D" + std::to_string(i) + "\n";
  many.files[L"C:\\App\\many.vmoptions"] = text;
  many.config[123] = "-include-options many.vmoptions";
  EXPECT_EQ(withoutClassPath(assemble(many)).size(), kMaxOptionsAdded);
  EXPECT_EQ(many.errors().size(), 1u);
  // Nesting without a cycle still stops at the depth limit.
  FakeHost deep;
  for (int i = 0; i <= kMaxIncludeDepth; ++i)
    deep.files[L"C:\\App\\d" + std::to_wstring(i) + L".vmoptions"] =
        "-include-options d" + std::to_string(i + 1) + ".vmoptions\n";
  deep.config[123] = "-include-options d0.vmoptions";
  assemble(deep);
  EXPECT_EQ(deep.opened.size(), std::size_t(kMaxIncludeDepth));
  EXPECT_EQ(deep.errors(), std::vector<std::wstring>{L"ERROR: options file C:\\App\\d16.vmoptions not read: "
                                                     L"more than 16 nested includes"});
  // A damaged line count is not walked to its end.
  FakeHost damaged;
  damaged.version = "11.0.2";
  damaged.config = {{10200, "2147483647"}};
  assemble(damaged);
  EXPECT_EQ(std::count_if(damaged.log.begin(), damaged.log.end(),
                          [](const std::wstring& l) { return l.rfind(L"checking version", 0) == 0; }),
            kMaxVersionLines);
  // A UTF-8 byte-order mark is not part of the first option, in any file.
  FakeHost bom;
  bom.files[L"C:\\App\\bom.vmoptions"] = "\xEF\xBB\xBF-Dfirst\n-include-options two.vmoptions\n";
  bom.files[L"C:\\App\\two.vmoptions"] = "\xEF\xBB\xBF-Dsecond\n";
  bom.config[123] = "-include-options bom.vmoptions";
  EXPECT_EQ(withoutClassPath(assemble(bom)), (Options{"-Dfirst", "-Dsecond"}));
}

TEST(VmOptionsFile, DefaultFileLookup) {
  const std::wstring a = L"C:\\App\\setup.vmoptions", b = L"C:\\App\\setup.exe.vmoptions",
                     c = L"D:\\Real\\inst.vmoptions", d = L"D:\\Real\\inst.exe.vmoptions";
  struct Row {
    std::set<std::wstring> present;
    std::vector<std::wstring> tried;
    std::optional<std::wstring> found;
  } rows[] = {
      {{a, b, c}, {a}, a},    {{b, c}, {a, b}, b},    {{c, d}, {a, b, c}, c},
      {{d}, {a, b, c, d}, d}, {{}, {a, b, c, d}, {}},
  };
  for (const auto& row : rows) {
    FakeHost host;
    for (const auto& p : row.present) host.files[p] = "-Dfrom=" + std::string(p.begin(), p.end()) + "\n";
    std::optional<DefaultOptionsFile> found =
        findDefaultOptionsFile(host, L"C:\\App\\setup.exe", L"D:\\Real\\inst.exe");
    EXPECT_EQ(host.opened, row.tried);
    ASSERT_EQ(found.has_value(), row.found.has_value());
    if (found) {
      EXPECT_EQ(found->path, *row.found);
      EXPECT_EQ(found->file.text, host.files[*row.found]);
    }
  }
}

TEST(VmOptionsFile, DefaultFileLogLines) {
  FakeHost host;
  host.config[166] = "1";
  host.longPath = L"C:\\App\\setup.exe";
  host.modulePath = L"D:\\Real\\inst.exe";
  host.files[L"D:\\Real\\inst.vmoptions"] = "-Dx\n";
  EXPECT_EQ(withoutClassPath(assemble(host)), Options{"-Dx"});
  const std::wstring h = host.handleText(L"D:\\Real\\inst.vmoptions");
  const std::vector<std::wstring> want = {
      L"vmoptions2: exe C:\\App\\setup.exe file: C:\\App\\setup.vmoptions, file: 0000000000000000",
      L"vmoptions: opts2: C:\\App\\setup.exe.vmoptions, file: 0000000000000000",
      L"vmoptions2: exe D:\\Real\\inst.exe file: D:\\Real\\inst.vmoptions, file: " + h,
      L"default vmoptions file: " + h,
  };
  auto first = std::find(host.log.begin(), host.log.end(), want[0]);
  ASSERT_NE(first, host.log.end());
  ASSERT_GE(std::size_t(host.log.end() - first), want.size());
  EXPECT_EQ(std::vector<std::wstring>(first, first + want.size()), want);

  FakeHost off;  // entry 166 not set: no lookup at all
  off.files[L"C:\\App\\setup.vmoptions"] = "-Dx\n";
  EXPECT_EQ(assemble(off), Options{"-Djava.class.path="});
  EXPECT_TRUE(off.opened.empty());
}

TEST(VmOptionsFile, DefaultFileIncludesResolveAgainstTheLauncherDirectory) {
  FakeHost host;
  host.config[166] = "1";
  host.modulePath = L"D:\\Real\\inst.exe";
  host.files[L"D:\\Real\\inst.vmoptions"] = "-include-options more.vmoptions\n";
  host.files[L"C:\\App\\more.vmoptions"] = "-Dlauncher-dir\n";
  host.files[L"D:\\Real\\more.vmoptions"] = "-Dfile-dir\n";
  EXPECT_EQ(withoutClassPath(assemble(host)), Options{"-Dlauncher-dir"});
}

// ---- class path ----------------------------------------------------------------------

TEST(VmOptionsClassPath, Order) {
  struct Row {
    std::string fileLines;  // a .vmoptions file read through entry 123
    std::string preconfigured;
    std::vector<std::string> extracted, user;
    std::string classPath;
    bool preconfiguredLogged;
  } rows[] = {
      {"", "", {}, {}, "", true},
      {"",
       "",
       {"b.jar", "notes.txt", "c.zip", "a.JAR"},
       {},
       "C:\\T\\x_dir1\\b.jar;C:\\T\\x_dir1\\a.JAR;C:\\T\\x_dir1\\c.zip",
       true},
      {"",
       "",
       {"z.zip"},
       {"u.zip", "u.jar"},
       "C:\\T\\x_dir1\\z.zip;C:\\T\\x_dir1\\user\\u.jar;C:\\T\\x_dir1\\user\\u.zip",
       true},
      {"-classpath/p p.jar\n-classpath/a e.jar\n",
       "A0lib\\c.jar",
       {"x.jar"},
       {"u.jar"},
       "p.jar;C:\\T\\x_dir1\\x.jar;C:\\T\\x_dir1\\user\\u.jar;C:\\App\\lib\\c.jar;e.jar",
       true},
      // A replacement takes the preconfigured entries' place.
      {"-classpath r1.jar;r2.jar\n-classpath/a e.jar\n",
       "A0lib\\c.jar",
       {"x.jar"},
       {},
       "C:\\T\\x_dir1\\x.jar;r1.jar;r2.jar;e.jar",
       false},
      {"-classpath r.jar;\n", "", {}, {}, "r.jar", false},
      // An append alone starts the class path; no empty entry before it.
      {"-classpath/a e.jar\n", "", {}, {}, "e.jar", true},
      {"-classpath/a e.jar\n-classpath/p p.jar;\n", "", {}, {}, "p.jar;e.jar", true},
  };
  for (const auto& row : rows) {
    FakeHost host;
    host.config[123] = "-include-options C:\\cfg\\cp.vmoptions";
    host.files[L"C:\\cfg\\cp.vmoptions"] = row.fileLines;
    host.config[121] = row.preconfigured;
    host.listings["C:\\T\\x_dir1"] = row.extracted;
    host.listings["C:\\T\\x_dir1\\user"] = row.user;
    Options options = assemble(host);
    EXPECT_EQ(options, Options{"-Djava.class.path=" + row.classPath}) << row.fileLines;
    EXPECT_EQ(host.logged(L"adding preconfigured classpath"), row.preconfiguredLogged) << row.fileLines;
  }
}

TEST(VmOptionsClassPath, PreconfiguredEntries) {
  struct Row {
    std::string entries;
    std::string classPath;
    int count;
  } rows[] = {
      {"A0lib\\a.jar", "C:\\App\\lib\\a.jar", 1},
      {"D0classes;A0E:\\abs.jar", "C:\\App\\classes;E:\\abs.jar", 2},
      {";;A0a.jar;;", "C:\\App\\a.jar", 1},  // empty entries are ignored
      {"A0a.jar%SHIPKIT_PATHLIST_SEPARATOR%b.jar", "C:\\App\\a.jar;C:\\App\\b.jar", 1},
      {"A0${TOOLS}\\t.jar", "C:\\tools\\t.jar", 1},
      {"E0CP", "C:\\cp1.jar;C:\\cp2.jar", 1},
      {"E0QUOTED", "C:\\q dir\\q.jar", 1},                    // surrounding quotes dropped
      {"E0TRAILING;A0a.jar", "C:\\t.jar;C:\\App\\a.jar", 2},  // no second separator
      {"E0UNSET;A0a.jar", "C:\\App\\a.jar", 2},               // optional and not set: skipped
      {"E0EMPTY;A0a.jar", "C:\\App\\a.jar", 2},
      {"E0LONEQUOTE", "\"", 1},
      {"S0jars", "C:\\App\\jars\\one.jar;C:\\App\\jars\\two.jar;C:\\App\\jars\\three.zip", 1},
      {"S0E:\\none", "", 1},  // optional directory that does not exist
      {"X0odd;A0a.jar", "C:\\App\\a.jar", 2},
      {"A;A0a.jar", "C:\\App\\a.jar", 2},
  };
  for (const auto& row : rows) {
    FakeHost host;
    host.extraction.clear();
    host.environment = {{"CP", "C:\\cp1.jar;C:\\cp2.jar"},
                        {"QUOTED", "\"C:\\q dir\\q.jar\""},
                        {"TRAILING", "C:\\t.jar;"},
                        {"EMPTY", ""},
                        {"LONEQUOTE", "\""},
                        {"TOOLS", "C:\\tools"}};
    host.listings["C:\\App\\jars"] = {"three.zip", "one.jar", "readme", "two.jar"};
    host.config[121] = row.entries;
    EXPECT_EQ(assemble(host), Options{"-Djava.class.path=" + row.classPath}) << row.entries;
    EXPECT_TRUE(host.logged(L"entry " + widen(row.entries))) << row.entries;
    EXPECT_TRUE(host.logged(L"entries " + std::to_wstring(row.count))) << row.entries;
  }
}

TEST(VmOptionsClassPath, BadEntriesAreReportedByName) {
  FakeHost host;
  host.extraction.clear();
  host.config[121] = "X0odd;A";
  assemble(host);
  EXPECT_EQ(host.errors(), (std::vector<std::wstring>{L"ERROR: path entry X0odd has an unknown type: ignored",
                                                      L"ERROR: path entry A has no type and flag: ignored"}));
}

TEST(VmOptionsClassPath, RequiredEntries) {
  struct Row {
    int32_t id;  // 121 class path, 132 module path
    std::string entries;
    std::optional<std::pair<int, std::string>> missing;
  } rows[] = {
      {121, "A1missing.jar", std::make_pair(1006, std::string("missing.jar"))},
      {121, "A1present.jar", {}},
      {121, "A0missing.jar", {}},
      {121, "A1present.jar;A0gone.jar", {}},  // optional and missing: still fine
      {121, "A1present.jar%SHIPKIT_PATHLIST_SEPARATOR%gone.jar",
       std::make_pair(1006, std::string("present.jar;gone.jar"))},
      {121, "D1${APPHOME}\\gone", std::make_pair(1006, std::string("C:\\home\\gone"))},
      {121, "E1NOPE", std::make_pair(1008, std::string("NOPE"))},
      {121, "E1SET", {}},
      {121, "E1EMPTY", {}},  // set, though empty: not missing
      {121, "S1nodir", std::make_pair(1006, std::string("nodir"))},
      {121, "S1jars", {}},
      {121, "X1odd", {}},
      {132, "S1nodir", std::make_pair(1006, std::string("nodir"))},
      {132, "E1NOPE", std::make_pair(1008, std::string("NOPE"))},
  };
  for (const auto& row : rows) {
    FakeHost host;
    host.existing = {"C:\\App\\present.jar"};
    host.listings["C:\\App\\jars"] = {"j.jar"};
    host.environment = {{"SET", "C:\\s.jar"}, {"EMPTY", ""}, {"APPHOME", "C:\\home"}};
    host.config[row.id] = row.entries;
    host.config[123] = "-Dfirst";
    std::optional<Options> options = assembleVmOptions(host, {L"C:\\App\\setup.exe"}, {"-Dlead"});
    if (row.missing) {
      EXPECT_FALSE(options.has_value()) << row.entries;
      EXPECT_EQ(host.missing, (std::vector<std::pair<int, std::string>>{*row.missing})) << row.entries;
    } else {
      ASSERT_TRUE(options.has_value()) << row.entries;
      EXPECT_EQ(options->front(), "-Dlead");
      EXPECT_TRUE(host.missing.empty()) << row.entries;
    }
  }
}

// ---- module path -----------------------------------------------------------------------

TEST(VmOptionsModules, ModulePathAndModuleOptions) {
  struct Row {
    std::string moduleMode, mainClass, modulePath;
    char kind;
    Options options;
  } rows[] = {
      {"1",
       "com.acme.app/com.acme.app.Main",
       "",
       'i',
       {"-Djava.class.path=", "--module-path=C:\\T\\x_dir1\\app.jar;C:\\T\\x_dir1\\lib.zip",
        "--add-opens=com.acme.app/com.acme.app=com.shipkit.runtime",
        "--add-modules=com.acme.app,com.shipkit.runtime"}},
      {"1",
       "com.acme.app/com.acme.app.Main",
       "",
       'e',
       {"-Djava.class.path=", "--module-path=C:\\T\\x_dir1\\app.jar;C:\\T\\x_dir1\\lib.zip",
        "--add-opens=com.acme.app/com.acme.app=com.jarwrap.runtime",
        "--add-modules=com.acme.app,com.jarwrap.runtime"}},
      // No "." after the "/": no package to open.
      {"1",
       "mod/Main",
       "",
       'i',
       {"-Djava.class.path=", "--module-path=C:\\T\\x_dir1\\app.jar;C:\\T\\x_dir1\\lib.zip",
        "--add-modules=mod,com.shipkit.runtime"}},
      // Without a "/" the whole entry is the module.
      {"1",
       "com.acme.Main",
       "",
       'i',
       {"-Djava.class.path=", "--module-path=C:\\T\\x_dir1\\app.jar;C:\\T\\x_dir1\\lib.zip",
        "--add-modules=com.acme.Main,com.shipkit.runtime"}},
      {"1",
       "",
       "",
       'i',
       {"-Djava.class.path=", "--module-path=C:\\T\\x_dir1\\app.jar;C:\\T\\x_dir1\\lib.zip",
        "--add-modules=com.shipkit.runtime"}},
      // A configured module path draws the archives to it even without module mode.
      {"0",
       "com.acme.app/com.acme.app.Main",
       "S0mods",
       'i',
       {"-Djava.class.path=", "--module-path=C:\\App\\mods;C:\\T\\x_dir1\\app.jar;C:\\T\\x_dir1\\lib.zip",
        "--add-modules=com.shipkit.runtime"}},
      {"0", "", "", 'i', {"-Djava.class.path=C:\\T\\x_dir1\\app.jar;C:\\T\\x_dir1\\lib.zip"}},
  };
  for (const auto& row : rows) {
    FakeHost host;
    host.kind = row.kind;
    host.config[133] = row.moduleMode;
    host.config[122] = row.mainClass;
    host.config[132] = row.modulePath;
    host.listings["C:\\T\\x_dir1"] = {"lib.zip", "app.jar"};
    EXPECT_EQ(assemble(host), row.options) << row.mainClass << " " << row.modulePath;
    EXPECT_TRUE(host.logged(L"adding preconfigured modulepath"));
  }
}

TEST(VmOptionsModules, ModeWithoutAnyModulePathAddsNoModuleOptions) {
  FakeHost host;
  host.config[133] = "1";
  host.config[122] = "m/p.Main";
  EXPECT_EQ(assemble(host), Options{"-Djava.class.path="});
}

// ---- everything together ---------------------------------------------------------------

TEST(VmOptionsAssemble, FullCombination) {
  FakeHost host;
  host.version = "1.8.0_201";
  host.language = "de";
  host.country = "CH";
  host.kind = 'i';
  host.environment = {{"EXTRA_CP", "\"C:\\extra\\e.jar\""}};
  host.config = {
      {123, "-Xmx256m --add-opens java.base/java.lang=ALL-UNNAMED -include-options conf\\app.vmoptions"},
      {10200, "2"},
      {10201, "9-11"},
      {10202, "-Dnine"},
      {10203, "*1.8.0_*"},
      {10204, "-XX:+UseG1GC '-Dquoted=a b'"},
      {125, "1"},
      {166, "1"},
      {121, "A0lib\\base.jar;E0EXTRA_CP;E0UNSET"},
      {132, "A0modules\\m.jar"},
      {133, "1"},
      {122, "org.demo/org.demo.ui.Main"},
  };
  host.files[L"C:\\App\\conf\\app.vmoptions"] =
      "# application options\r\n-Dapp=1\r\n-classpath/p pre.jar\r\n-include-options nested.vmoptions\r\n";
  host.files[L"C:\\App\\conf\\nested.vmoptions"] = "--add-modules\njava.sql\n";
  host.files[L"C:\\App\\setup.vmoptions"] = "-Duser.file=yes\n-classpath/a post.jar\n";
  host.listings["C:\\T\\x_dir1"] = {"inst.jar", "data.zip"};
  host.listings["C:\\T\\x_dir1\\user"] = {"custom.jar"};
  const Args args = {L"C:\\App\\setup.exe", L"-J-Dj=1", L"-q", L"-Dsun.locale.formatasdefault=false"};
  const Options leading = {"-Djarwrap.moduleName=C:\\App\\setup.exe", "-Djarwrap.tempDir=C:\\T\\x_dir1"};

  const Options want = {
      "-Djarwrap.moduleName=C:\\App\\setup.exe",
      "-Djarwrap.tempDir=C:\\T\\x_dir1",
      "-Xmx256m",
      "--add-opens=java.base/java.lang=ALL-UNNAMED",
      "-Dapp=1",
      "--add-modules=java.sql",
      "-XX:+UseG1GC",
      "-Dquoted=a b",
      "-Dj=1",
      "-Dsun.locale.formatasdefault=false",
      "-Duser.language=de",
      "-Duser.country=CH",
      "-Duser.file=yes",
      "-Djava.class.path=pre.jar;C:\\App\\lib\\base.jar;C:\\extra\\e.jar;post.jar",
      "--module-path=C:\\App\\modules\\m.jar;C:\\T\\x_dir1\\inst.jar;C:\\T\\x_dir1\\data.zip;"
      "C:\\T\\x_dir1\\user\\custom.jar",
      "--add-opens=org.demo/org.demo.ui=com.shipkit.runtime",
      "--add-modules=org.demo,com.shipkit.runtime",
  };
  EXPECT_EQ(assemble(host, args, leading), want);
  EXPECT_TRUE(host.errors().empty());
  EXPECT_TRUE(host.missing.empty());
}
