// The splash screen end to end: images packed into the installer by the packer, the display
// scale forced through J2D_UISCALE, and the runtime's splashscreen.dll played by the fake
// that records its calls. Windowed runs show it; a quiet run does not.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <fstream>

#include "E2eSupport.h"

using namespace e2e;

namespace {

void bigEndian(std::string& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(char(v >> shift));
}

void chunk(std::string& out, const char* type, const std::string& data) {
  bigEndian(out, uint32_t(data.size()));
  const std::string typed = type + data;
  out += typed;
  bigEndian(out, uint32_t(crc32(0, reinterpret_cast<const Bytef*>(typed.data()), uInt(typed.size()))));
}

// An opaque grey RGB PNG of the given size.
std::string makePng(uint32_t width, uint32_t height) {
  std::string raw;
  for (uint32_t y = 0; y < height; ++y) raw += '\0' + std::string(width * 3, char(0x80));
  uLongf size = compressBound(uLong(raw.size()));
  std::string packed(size, '\0');
  compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
           uLong(raw.size()));
  packed.resize(size);
  std::string header;
  bigEndian(header, width);
  bigEndian(header, height);
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
  std::string png = "\x89PNG\r\n\x1a\n";
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", packed);
  chunk(png, "IEND", "");
  return png;
}

std::string fnv1a64(const std::string& bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : bytes) hash = (hash ^ c) * 0x100000001b3ull;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

struct ShowCase {
  const char* name;
  const char* uiScale;  // J2D_UISCALE
  bool image150;        // the installer also carries the image for scale 1.5 (10002)
  const char* library;  // "splash", "splash-noscale" or "" (the runtime has none)
  bool mainThrows;      // an error box follows while the splash is shown
  // Expected calls: "init", "scale <f>", "load <which>" (which: 100, 150 or "rescaled"), "close".
  std::vector<std::string> calls;
  const char* logLine;  // the start of a line the log must hold
  bool quiet = false;   // "-q"; otherwise a windowed run (entry 155: no progress dialog)
};

void PrintTo(const ShowCase& c, std::ostream* os) {
  *os << c.name;
}

const std::string kImage100 = makePng(40, 20), kImage150 = makePng(60, 30);

class SplashShow : public testing::TestWithParam<ShowCase> {};

TEST_P(SplashShow, PicksScalesAndLoadsTheImage) {
  const ShowCase& c = GetParam();
  Sandbox box;
  std::ofstream(box.dir() / "splash.png", std::ios::binary) << kImage100;
  std::ofstream(box.dir() / "splash@150.png", std::ios::binary) << kImage150;
  json m = Sandbox::baseManifest();
  m["config"]["122"] = "com.example.Main";
  m["config"]["128"] = "ESKT_TEST_JRE;";
  m["splash"] = json::array({{{"scale", 1.0}, {"source", "splash.png"}}});
  if (c.mainThrows)
    m["config"]["107"] = "1";  // errors in a message box, not on the console
  else if (!c.quiet)
    m["config"]["155"] = "1";  // windowed, without the progress dialog
  if (c.image150) m["splash"].push_back({{"scale", 1.5}, {"source", "splash@150.png"}});

  fs::path rt = box.dir() / "rt";
  makeFakeRuntime(rt);
  if (*c.library)
    fs::copy_file(outDir() / "testing" / c.library / "splashscreen.dll", rt / "bin" / "splashscreen.dll");
  const fs::path report = box.dir() / "report.json", calls = box.dir() / "splash.jsonl",
                 scenario = box.dir() / "scenario.json";
  json steps = c.mainThrows
                   ? json::array({{{"throw", "broken"}, {"class", "java/lang/IllegalStateException"}}})
                   : json::array();
  std::ofstream(scenario) << json{{"main", steps}}.dump();

  // An error comes as a message box over the progress dialog.
  RunResult r = box.run(box.build(m), c.quiet ? "-q" : "",
                        {.env = {{"SHIPKIT_LOG", "yes"},
                                 {"J2D_UISCALE", c.uiScale},
                                 {"SKT_TEST_JRE", winPath(rt)},
                                 {"FAKEJVM_REPORT", winPath(report)},
                                 {"FAKEJVM_SCENARIO", winPath(scenario)},
                                 {"FAKESPLASH_REPORT", winPath(calls)}}});
  EXPECT_EQ(r.exitCode, c.mainThrows ? 1 : 0) << r.err;
  EXPECT_EQ(r.dialogs.size(), c.mainThrows ? 1u : 0u) << r.err;
  json got = json::parse(Sandbox::readFile(report), nullptr, false);
  EXPECT_TRUE(got["mainClass"].is_string()) << "the launch goes on";

  std::vector<std::string> seen;
  std::ifstream in(calls);
  for (std::string line; std::getline(in, line);) {
    const json call = json::parse(line, nullptr, false);
    const std::string f = call.value("function", "");
    if (f == "SplashInit") {
      seen.push_back("init");
    } else if (f == "SplashClose") {
      seen.push_back("close");
    } else if (f == "SplashSetScaleFactor") {
      char text[32];
      std::snprintf(text, sizeof text, "scale %g", call.value("scale", 0.0));
      seen.push_back(text);
    } else if (f == "SplashLoadMemory") {
      const std::string digest = call.value("fnv1a64", "");
      if (digest == fnv1a64(kImage100))
        seen.push_back("load 100");
      else if (digest == fnv1a64(kImage150))
        seen.push_back("load 150");
      else if (call.value("width", 0) == 60 && call.value("height", 0) == 30)
        seen.push_back("load rescaled");  // 40 x 20 at one and a half times, re-encoded
      else
        seen.push_back("load other " + line);
    }
  }
  EXPECT_EQ(seen, c.calls);
  const auto lines = box.lastLogLines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.rfind(c.logLine, 0) == 0;
  })) << testing::PrintToString(lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplashShow,
    testing::Values(
        ShowCase{"Scale1LoadsImage10000WithoutAFactor",
                 "1",
                 true,
                 "splash",
                 false,
                 {"init", "load 100"},
                 "splash load memory returned 3 1"},
        ShowCase{"Scale15TakesImage10002AsItIs",
                 "1.5",
                 true,
                 "splash",
                 false,
                 {"init", "scale 1.5", "load 150"},
                 "setting scale factor 1.500000"},
        ShowCase{"Scale15WithOnlyImage10000Rescales",
                 "1.5",
                 false,
                 "splash",
                 false,
                 {"init", "scale 1.5", "load rescaled"},
                 "scaling splash image 1.500000"},
        ShowCase{"WithoutTheScaleFunctionImage10000",
                 "1.5",
                 true,
                 "splash-noscale",
                 false,
                 {"init", "load 100"},
                 "splash load memory returned 3 1"},
        ShowCase{
            "RuntimeWithoutTheLibrary", "1.5", true, "", false, {}, "ERROR: Could not load splashscreen.dll"},
        ShowCase{"AnErrorClosesTheSplashFirst",
                 "1",
                 true,
                 "splash",
                 true,
                 {"init", "load 100", "close"},
                 "ERROR: Could not start JVM"},
        // A quiet run shows no window, the splash included.
        ShowCase{"QuietRunShowsNone", "1.5", true, "splash", false, {}, "Quiet installer.", true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
