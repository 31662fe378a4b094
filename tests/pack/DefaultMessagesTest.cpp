// Default messages: a text, with the placeholder the launcher fills in, for every message the
// launcher reads; filled in where the manifest leaves one out, and nothing else changes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "PackTestSupport.h"
#include "pack/DefaultMessages.h"

namespace shipkit::pack::test {
namespace {

const std::filesystem::path kRoot(SHIPKIT_ROOT_DIR);

// Every message id the launcher's sources read: the numbers on the lines that show, format
// or look up a message.
std::set<int32_t> idsTheLauncherReads() {
  std::set<int32_t> ids;
  const std::regex call("essage(OrConfig)?\\(|requiredMissing\\("), id("\\b(10[0-9][0-9]|200[0-9][0-9])\\b");
  for (const auto& e : std::filesystem::recursive_directory_iterator(kRoot / "src")) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path());
    for (std::string line; std::getline(in, line);) {
      if (!std::regex_search(line, call)) continue;
      for (std::sregex_iterator m(line.begin(), line.end(), id), end; m != end; ++m)
        ids.insert(std::stoi((*m)[1]));
    }
  }
  return ids;
}

// "{0}" and printf fields in order of appearance.
std::vector<std::string> placeholders(const std::u16string& text) {
  std::string narrow(text.begin(), text.end());  // the placeholders are ASCII
  std::vector<std::string> found;
  const std::regex field("\\{0\\}|%[-+ #0-9.]*[a-zA-Z%]");
  for (std::sregex_iterator m(narrow.begin(), narrow.end(), field), end; m != end; ++m) found.push_back(m->str());
  return found;
}

TEST(PackDefaults, EveryMessageTheLauncherReadsHasADefaultWithItsPlaceholder) {
  const std::set<int32_t> read = idsTheLauncherReads();
  ASSERT_GT(read.size(), 25u) << "the scan of src/ finds the launcher's messages";
  struct Rule {
    std::set<int32_t> ids;  // empty: every other id
    std::vector<std::string> placeholders;
  };
  const Rule rules[] = {
      {{1006, 1008, 1009, 1016, 1018, 1020}, {"{0}"}},
      {{20005, 20006}, {"%S"}},
      {{20008}, {"%.2f", "%.2f", "%.1f", "%%", "%.1f"}},
      {{}, {}},
  };
  for (const char* language : {"", "de"}) {
    SCOPED_TRACE(*language ? language : "English");
    const auto& table = defaultMessages(language);
    std::set<int32_t> given;
    for (const auto& [id, text] : table) given.insert(id);
    EXPECT_EQ(given, read) << "a default for each message the launcher reads, and for no other";
    for (const auto& [id, text] : table) {
      SCOPED_TRACE(id);
      EXPECT_FALSE(text.empty());
      const Rule* rule = &rules[std::size(rules) - 1];
      for (const Rule& r : rules)
        if (r.ids.count(id)) rule = &r;
      EXPECT_EQ(placeholders(text), rule->placeholders);
    }
  }
}

uint32_t crcOf(std::string_view bytes) {
  return static_cast<uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), uInt(bytes.size())));
}

// The manifest with `extra` members added at its end.
std::string with(const std::string& manifest, const std::string& extra) {
  return manifest.substr(0, manifest.rfind('}')) + ", " + extra + "}";
}

TEST(PackDefaults, WithoutDefaultsTheOutputIsTheSameAsBefore) {
  const std::string stub =
      readFile(kRoot / "fuzz" / "corpus" / "fuzz_stub_resources" / "with_resources.exe");
  // Checksums of what the packer wrote for these manifests before it had default messages.
  struct Case {
    const char* what;
    std::string manifest;
    uint32_t crc;
    std::size_t size;
  };
  const Case cases[] = {
      {"tables and files",
       R"({"config": {"107": "1", "2001": "i"}, "messages": {"1000": "Fehler", "20013": "Wizard"},
           "localized": [{"key": "fr", "messages": {"1000": "Erreur"}}],
           "files": [{"name": "a.txt", "text": "payload"}], "trailer": {"text": "end"}})",
       0xDBE19BC1, 1189},
      {"a splash image", R"({"files": [], "splash": [{"scale": 1, "source": "s.png"}]})", 0xA159759E, 1589},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    writeFile(dir / "s.png", "not decoded");
    Built built = buildWith(dir, with(c.manifest, R"("defaultMessages": false)"), stub);
    ASSERT_TRUE(built.ok) << built.error;
    EXPECT_EQ(built.bytes.size(), c.size);
    EXPECT_EQ(crcOf(built.bytes), c.crc);
  }
}

TEST(PackDefaults, BuildFillsInWhatTheManifestLeavesOutAndNothingElse) {
  const std::string base = R"({"messages": {"1000": "Fehler", "20013": "My Setup"}, "files": []})";
  // What each id holds: the manifest's text where it gives one, else the default.
  auto expected = [](const std::string& language, const std::map<int32_t, std::u16string>& own) {
    std::map<int32_t, std::u16string> all = defaultMessages(language);
    for (const auto& [id, text] : own) all[id] = text;
    return all;
  };
  const std::map<int32_t, std::u16string> own = {{1000, u"Fehler"}, {20013, u"My Setup"}};
  struct Case {
    const char* what;
    std::string manifest;
    std::map<int32_t, std::u16string> english, german;  // as the launcher reads them
    std::size_t sets;
  };
  const Case cases[] = {
      {"English and German filled in", base, expected("", own), expected("de", own), 1},
      // The vendor's own "de" set stands; no German defaults are added.
      {"the manifest's own German set",
       with(base, R"("localized": [{"key": "de", "messages": {"20012": "Abbruch"}}])"), expected("", own),
       [&] {
         auto m = expected("", own);
         m[20012] = u"Abbruch";
         return m;
       }(),
       1},
      // A later set of the vendor's wins over the German defaults for de_CH.
      {"a vendor set for de_CH",
       with(base, R"("localized": [{"key": "de_CH", "messages": {"20012": "Abbrechen!"}}])"),
       expected("", own),
       [&] {
         auto m = expected("de", own);
         m[20012] = u"Abbrechen!";
         return m;
       }(),
       2},
      {"defaults turned off", with(base, R"("defaultMessages": false)"), own, own, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    Built built = buildWith(dir, c.manifest);
    ASSERT_TRUE(built.ok) << built.error;
    EXPECT_EQ(readInstaller(built.bytes, "en_US").messages, c.english);
    ReadBack german = readInstaller(built.bytes, "de_CH");
    EXPECT_EQ(german.messages, c.german);
    EXPECT_EQ(german.sets.size(), c.sets);
  }
}

TEST(PackDefaults, DefaultsAreTheOnlyDifferenceAndTheCommandsSaySo) {
  ScratchDir dir;
  const std::string base = R"({"messages": {"20013": "My Setup"}, "files": [{"name": "a", "text": "x"}]})";
  Built filled = buildWith(dir, base);
  ASSERT_TRUE(filled.ok) << filled.error;
  // The same texts written out in the manifest, defaults off: the same bytes.
  nlohmann::json english, german;
  for (const auto& [id, text] : defaultMessages(""))
    if (id != 20013) english[std::to_string(id)] = std::string(text.begin(), text.end());
  for (const auto& [id, text] : defaultMessages("de")) {
    if (id == 20013) continue;
    std::string utf8;
    for (char16_t c : text) {
      if (c < 0x80) {
        utf8 += static_cast<char>(c);
      } else {  // the German texts need no more than two bytes per character
        utf8 += static_cast<char>(0xC0 | (c >> 6));
        utf8 += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    german[std::to_string(id)] = utf8;
  }
  english["20013"] = "My Setup";
  nlohmann::json spelled = {{"messages", english},
                            {"localized", {{{"key", "de"}, {"messages", german}}}},
                            {"files", {{{"name", "a"}, {"text", "x"}}}},
                            {"defaultMessages", false}};
  Built written = buildWith(dir, spelled.dump());
  ASSERT_TRUE(written.ok) << written.error;
  EXPECT_TRUE(filled.bytes == written.bytes);

  writeFile(dir / "manifest.json", base);
  writeFile(dir / "stub.exe", makePe({}));
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> lines;     // each must be in the output
    std::vector<std::string> notLines;  // none of these
  };
  const std::string out = (dir / "out.exe").string();
  const Case cases[] = {
      {{"build", "--stub", (dir / "stub.exe").string(), "--manifest", (dir / "manifest.json").string(), "--out", out},
       {"filled in 28 default messages and their German texts for \"de\""},
       {}},
      {{"inspect", out},
       {"message 1000: \"Error\" (default)", "message 20013: \"My Setup\"",
        "localized 0 message 1000: \"Fehler\" (default)", "localized 0 message count: 28"},
       {"message 20013: \"My Setup\" (default)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0]);
    CliRun run = runPack(c.args);
    ASSERT_EQ(run.code, 0) << run.err;
    for (const auto& line : c.lines) EXPECT_NE(run.out.find(line + "\n"), std::string::npos) << line << "\n" << run.out;
    for (const auto& line : c.notLines) EXPECT_EQ(run.out.find(line + "\n"), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace shipkit::pack::test
