// The splash screen against the fake splashscreen.dll and the real imaging component of Wine:
// images are PNGs made here and added as RT_RCDATA resources to a copy of a small DLL.
#include <gtest/gtest.h>
#include <windows.h>
// (windows.h first)
#include <initguid.h>
#include <wincodec.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "DialogDriver.h"
#include "TestFiles.h"
#include "core/Config.h"
#include "core/ErrorDisplay.h"
#include "core/Log.h"
#include "core/RunState.h"
#include "jvm/splash/DisplayDpi.h"
#include "jvm/splash/Splash.h"
#include "win/ComPtr.h"

using namespace shipkit;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::string windowsPath(std::string linuxPath) {
  for (auto& c : linuxPath)
    if (c == '/') c = '\\';
  return "Z:" + linuxPath;
}
const std::string kTestingOut = windowsPath(TESTING_OUT);

void bigEndian(Bytes& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(v >> shift));
}
void chunk(Bytes& out, const char* type, const Bytes& data) {
  bigEndian(out, std::uint32_t(data.size()));
  Bytes typed(type, type + 4);
  typed.insert(typed.end(), data.begin(), data.end());
  out.insert(out.end(), typed.begin(), typed.end());
  bigEndian(out, std::uint32_t(crc32(0, typed.data(), uInt(typed.size()))));
}

// An opaque RGBA PNG: the left half red, the right half blue.
Bytes makePng(std::uint32_t width, std::uint32_t height) {
  Bytes raw;
  for (std::uint32_t y = 0; y < height; ++y) {
    raw.push_back(0);  // filter: none
    for (std::uint32_t x = 0; x < width; ++x) {
      const bool left = x < width / 2;
      raw.insert(raw.end(), {std::uint8_t(left ? 255 : 0), 0, std::uint8_t(left ? 0 : 255), 255});
    }
  }
  uLongf packedSize = compressBound(uLong(raw.size()));
  Bytes packed(packedSize);
  compress(packed.data(), &packedSize, raw.data(), uLong(raw.size()));
  packed.resize(packedSize);
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  Bytes header;
  bigEndian(header, width);
  bigEndian(header, height);
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter, no interlace
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", packed);
  chunk(png, "IEND", {});
  return png;
}

std::string fnv1a64(const Bytes& data) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (auto b : data) hash = (hash ^ b) * 0x100000001b3ull;
  char text[17];
  snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

Bytes readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> readLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// An image decoded by the imaging component: its size and the BGRA pixels of its middle row.
struct Decoded {
  UINT width = 0, height = 0;
  std::vector<std::uint32_t> middleRow;
};
std::optional<Decoded> decode(const Bytes& png) {
  win::ComPtr<IWICImagingFactory> factory;
  win::ComPtr<IWICStream> stream;
  win::ComPtr<IWICBitmapDecoder> decoder;
  win::ComPtr<IWICBitmapFrameDecode> frame;
  win::ComPtr<IWICFormatConverter> converter;
  Decoded d;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                              factory.putVoid())) ||
      FAILED(factory->CreateStream(stream.put())) ||
      FAILED(stream->InitializeFromMemory(const_cast<BYTE*>(png.data()), DWORD(png.size()))) ||
      FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                              decoder.put())) ||
      FAILED(decoder->GetFrame(0, frame.put())) || FAILED(frame->GetSize(&d.width, &d.height)) ||
      FAILED(factory->CreateFormatConverter(converter.put())) ||
      FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone,
                                   nullptr, 0, WICBitmapPaletteTypeCustom)))
    return std::nullopt;
  d.middleRow.resize(d.width);
  WICRect row{0, INT(d.height / 2), INT(d.width), 1};
  if (FAILED(
          converter->CopyPixels(&row, d.width * 4, d.width * 4, reinterpret_cast<BYTE*>(d.middleRow.data()))))
    return std::nullopt;
  return d;
}

class Splash : public testing::Test {
 protected:
  void SetUp() override {
    savedTables_ = core::tables();
    savedState_ = core::runState();
    char tmp[MAX_PATH];
    GetTempPathA(MAX_PATH, tmp);
    root_ = std::string(tmp) + "skt_splash_" + wintest::uniqueNameA();
    CreateDirectoryA(root_.c_str(), nullptr);
    SetEnvironmentVariableA("FAKESPLASH_REPORT", (root_ + "\\report.jsonl").c_str());
    SetEnvironmentVariableA("FAKESPLASH_IMAGES", root_.c_str());
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  }
  void TearDown() override {
    jvm::forgetSplash();
    jvm::setSplashImageModule(nullptr);
    core::setSplashCloser(nullptr);
    for (HMODULE m : modules_) FreeLibrary(m);
    SetEnvironmentVariableA("FAKESPLASH_REPORT", nullptr);
    SetEnvironmentVariableA("FAKESPLASH_IMAGES", nullptr);
    core::tables() = savedTables_;
    core::runState() = savedState_;
    CoUninitialize();
    wintest::removeTree(root_);
  }

  // A copy of a small DLL with the images as RT_RCDATA resources 10000 + offset, loaded as
  // an image resource module.
  HMODULE imageModule(const std::string& name, const std::vector<std::pair<int, Bytes>>& images) {
    std::string path = root_ + "\\" + name + ".dll";
    EXPECT_TRUE(CopyFileA((kTestingOut + "\\splash-noscale\\splashscreen.dll").c_str(), path.c_str(), FALSE));
    HANDLE update = BeginUpdateResourceA(path.c_str(), FALSE);
    EXPECT_NE(update, nullptr) << GetLastError();
    for (const auto& [offset, bytes] : images)
      EXPECT_TRUE(UpdateResourceW(update, MAKEINTRESOURCEW(10), MAKEINTRESOURCEW(10000 + offset),
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                                  const_cast<std::uint8_t*>(bytes.data()), DWORD(bytes.size())));
    EXPECT_TRUE(EndUpdateResourceW(update, FALSE)) << GetLastError();
    HMODULE module =
        LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    EXPECT_NE(module, nullptr) << GetLastError();
    modules_.push_back(module);
    return module;
  }

  // A runtime home whose bin holds `dll` (a path below the testing output) as splashscreen.dll,
  // or nothing when `dll` is empty.
  std::string runtime(const std::string& name, const std::string& dll) {
    std::string home = root_ + "\\" + name;
    CreateDirectoryA(home.c_str(), nullptr);
    CreateDirectoryA((home + "\\bin").c_str(), nullptr);
    if (!dll.empty()) {
      EXPECT_TRUE(
          CopyFileA((kTestingOut + "\\" + dll).c_str(), (home + "\\bin\\splashscreen.dll").c_str(), FALSE));
    }
    return home;
  }

  std::vector<std::string> report() { return readLines(root_ + "\\report.jsonl"); }

  // The log's lines written since `offset` bytes, without time stamps.
  static std::string logText() {
    std::optional<std::wstring> path = core::getLogPath();
    if (!path) return {};
    std::ifstream in(std::filesystem::path(*path), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static std::vector<std::string> logLinesSince(std::size_t offset) {
    std::vector<std::string> lines;
    std::istringstream in(logText().substr(offset));
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (std::size_t close = line.find("] "); !line.empty() && line[0] == '[' && close != std::string::npos)
        line.erase(0, close + 2);
      lines.push_back(line);
    }
    return lines;
  }

  core::Tables savedTables_;
  core::RunState savedState_;
  std::string root_;
  std::vector<HMODULE> modules_;
};

std::string field(const std::string& line, const std::string& name) {
  std::size_t at = line.find("\"" + name + "\": ");
  if (at == std::string::npos) return "";
  at += name.size() + 4;
  std::string value = line.substr(at, line.find_first_of(",}", at) - at);
  if (!value.empty() && value[0] == '"') value = value.substr(1, value.size() - 2);
  return value;
}

// A report line without its variable parts, for comparing call sequences.
std::string callOf(const std::string& line) {
  std::size_t at = line.find("\"function\": \"") + 13;
  std::string name = line.substr(at, line.find('"', at) - at);
  if (name == "SplashSetScaleFactor") return name + " " + field(line, "scale");
  return name;
}
bool startsWithAny(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const auto& l : lines)
    if (l.rfind(prefix, 0) == 0) return true;
  return false;
}

}  // namespace

TEST_F(Splash, ImageChoiceRescalingAndLibraryFailures) {
  const Bytes image0 = makePng(40, 20), image2 = makePng(60, 30);
  struct Row {
    const char* name;
    float scale;
    bool with10002;
    const char* dll;                  // below the testing output, "" for none
    std::vector<std::string> calls;   // the fake's calls in order
    const char* loaded;               // "0", "2": the resource as it is; "WxH": a rescaled PNG
    std::vector<std::string> logged;  // log lines that start so, in this order
    std::vector<std::string> absent;  // log lines that must not start so
    bool shown;
    bool undecodable = false;  // image 10000 is bytes the imaging component cannot read
  } rows[] = {
      {"scale 1 loads 10000 without a factor",
       1.0f,
       true,
       "splash\\splashscreen.dll",
       {"SplashInit", "SplashLoadMemory"},
       "0",
       {"scale factor 1.000000", "loading splashscreen dll from ", "splash load memory returned 3 1 ("},
       {"idOffset", "setting scale factor", "ERROR: "},
       true},
      {"1.5 with 10002 takes it unscaled",
       1.5f,
       true,
       "splash\\splashscreen.dll",
       {"SplashInit", "SplashSetScaleFactor 1.5", "SplashLoadMemory"},
       "2",
       {"scale factor 1.500000", "idOffset start 2", "splash load memory returned 2 1 (",
        "setting scale factor 1.500000"},
       {"scaling splash image", "ERROR: "},
       true},
      {"1.5 with only 10000 rescales it",
       1.5f,
       false,
       "splash\\splashscreen.dll",
       {"SplashInit", "SplashSetScaleFactor 1.5", "SplashLoadMemory"},
       "60x30",
       {"idOffset start 2", "scaling splash image 1.500000", "interpolation mode ",
        "splash load memory returned 1 1 (", "setting scale factor 1.500000"},
       {"ERROR: "},
       true},
      // Nothing from 4 up to 64: the search goes down to 10002 and scales it by 2 / 1.5.
      {"2.0 with 10000 and 10002 rescales 10002",
       2.0f,
       true,
       "splash\\splashscreen.dll",
       {"SplashInit", "SplashSetScaleFactor 2", "SplashLoadMemory"},
       "80x40",
       {"idOffset start 4", "scaling splash image 1.333333", "splash load memory returned 1 1 ("},
       {"ERROR: "},
       true},
      // Close enough to 1.0: the scale-1 image goes unscaled with its own factor.
      {"1.05 keeps 10000",
       1.05f,
       true,
       "splash\\splashscreen.dll",
       {"SplashInit", "SplashSetScaleFactor 1", "SplashLoadMemory"},
       "0",
       {"idOffset start 0", "splash load memory returned 2 1 (", "setting scale factor 1.050000"},
       {"scaling splash image"},
       true},
      {"without the scale function only 10000",
       1.5f,
       true,
       "splash-noscale\\splashscreen.dll",
       {"SplashInit", "SplashLoadMemory"},
       "0",
       {"splash load memory returned 3 1 ("},
       {"idOffset"},
       true},
      {"no library",
       1.5f,
       true,
       "",
       {},
       "",
       {"loading splashscreen dll from ", "ERROR: Could not load splashscreen.dll"},
       {"SplashInit"},
       false},
      {"functions missing",
       1.0f,
       true,
       "jre\\bin\\server\\jvm.dll",
       {},
       "",
       {"ERROR: Could not find functions in splashscreen.dll"},
       {},
       false},
      // The rescaling fails: the image goes as it is, with its own scale.
      {"1.5 with an undecodable 10000",
       1.5f,
       false,
       "splash\\splashscreen.dll",
       {"SplashInit", "SplashSetScaleFactor 1", "SplashLoadMemory"},
       "0",
       {"scaling splash image 1.500000", "splash load memory returned 2 1 (",
        "setting scale factor 1.500000"},
       {"ERROR: "},
       true,
       true},
  };
  const Bytes junk = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
  int index = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::size_t logOffset = logText().size();
    DeleteFileA((root_ + "\\report.jsonl").c_str());
    const Bytes& first = row.undecodable ? junk : image0;
    std::vector<std::pair<int, Bytes>> images = {{0, first}};
    if (row.with10002) images.push_back({2, image2});
    HMODULE module = imageModule("images" + std::to_string(index), images);
    std::string home = runtime("rt" + std::to_string(index++), row.dll);

    jvm::showSplashWith(home, module, row.scale);

    EXPECT_EQ(jvm::splashShown(), row.shown);
    std::vector<std::string> calls, lines = report();
    for (const auto& line : lines) calls.push_back(callOf(line));
    EXPECT_EQ(calls, row.calls);
    std::vector<std::string> log = logLinesSince(logOffset);
    std::size_t at = 0;
    for (const auto& prefix : row.logged) {
      while (at < log.size() && log[at].rfind(prefix, 0) != 0) ++at;
      EXPECT_LT(at, log.size()) << "missing or out of order: " << prefix << "\n"
                                << testing::PrintToString(log);
    }
    for (const auto& prefix : row.absent) EXPECT_FALSE(startsWithAny(log, prefix)) << prefix;
    int errors = 0;
    for (const auto& l : log) errors += l.rfind("ERROR: ", 0) == 0;
    EXPECT_LE(errors, 1);
    if (!row.shown) {
      EXPECT_EQ(errors, 1);
      EXPECT_TRUE(startsWithAny(
          log, std::string("loading splashscreen dll from ") + home + "\\bin\\splashscreen.dll"));
    }

    const std::string load = lines.empty() ? "" : lines.back();
    const std::string loaded = row.loaded;
    if (loaded == "0" || loaded == "2") {
      const Bytes& expected = loaded == "0" ? first : image2;
      EXPECT_EQ(field(load, "fnv1a64"), fnv1a64(expected));
      EXPECT_EQ(field(load, "bytes"), std::to_string(expected.size()));
    } else if (!loaded.empty()) {
      const std::string width = loaded.substr(0, loaded.find('x')),
                        height = loaded.substr(loaded.find('x') + 1);
      EXPECT_EQ(field(load, "width") + "x" + field(load, "height"), loaded);
      // The bytes the library got, decoded on their own: the size and both halves' colours.
      const Bytes png = readBytes(root_ + "\\image" + field(load, "file") + ".bin");
      EXPECT_EQ(field(load, "fnv1a64"), fnv1a64(png));
      std::optional<Decoded> d = decode(png);
      ASSERT_TRUE(d);
      EXPECT_EQ(std::to_string(d->width) + "x" + std::to_string(d->height), loaded);
      EXPECT_EQ(d->middleRow.front(), 0xffff0000u) << "left: opaque red (BGRA)";
      EXPECT_EQ(d->middleRow.back(), 0xff0000ffu) << "right: opaque blue (BGRA)";
    }
    jvm::forgetSplash();
  }
}

// An error shown while the splash is up closes it first, once: the library's SplashClose has
// run when the message box appears, and a second error does not close again.
TEST_F(Splash, ErrorDisplayClosesTheSplashBeforeItsBox) {
  const std::wstring caption = L"Splash test " + wintest::uniqueName();
  core::tables().messages[1000] = std::u16string(caption.begin(), caption.end());
  core::runState().messageBoxMode = true;
  core::runState().errorOwner = nullptr;
  HMODULE module = imageModule("images", {{0, makePng(8, 8)}});
  jvm::setSplashImageModule(module);
  EXPECT_TRUE(jvm::hasSplashImage());
  jvm::showSplashWith(runtime("rt", "splash\\splashscreen.dll"), module, 1.0f);
  ASSERT_TRUE(jvm::splashShown());

  for (int error = 0; error < 2; ++error) {
    std::vector<std::string> seenAtBox;
    wintest::DialogDriver driver(caption, [&](HWND box) {
      seenAtBox = report();
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    });
    core::showError(L"something failed");
    ASSERT_TRUE(driver.finish()) << "the error box appeared";
    std::vector<std::string> calls;
    for (const auto& line : seenAtBox) calls.push_back(callOf(line));
    EXPECT_EQ(calls, (std::vector<std::string>{"SplashInit", "SplashLoadMemory", "SplashClose"})) << error;
    EXPECT_FALSE(jvm::splashShown());
  }
  jvm::showOrCloseSplash(false);  // nothing left to close
  EXPECT_EQ(report().size(), 3u);
}

TEST_F(Splash, ModulesWithoutImage10000AskForNoSplash) {
  jvm::setSplashImageModule(imageModule("only2", {{2, makePng(4, 4)}}));
  EXPECT_FALSE(jvm::hasSplashImage());
  jvm::setSplashImageModule(GetModuleHandleW(nullptr));
  EXPECT_FALSE(jvm::hasSplashImage()) << "the test program carries no images";
}

// The override is a scale factor (2 means 200 %), read once per process.
TEST(DisplayDpi, UiScaleOverrideIsAScaleReadOnce) {
  SetEnvironmentVariableA("J2D_UISCALE", "1.5");
  std::optional<jvm::Dpi> dpi = jvm::displayDpi();
  ASSERT_TRUE(dpi);
  EXPECT_FLOAT_EQ(dpi->x, 144.0f);
  EXPECT_FLOAT_EQ(dpi->y, 144.0f);
  SetEnvironmentVariableA("J2D_UISCALE", "3");
  EXPECT_FLOAT_EQ(jvm::displayScale(), 1.5f) << "cached from the first read";
  SetEnvironmentVariableA("J2D_UISCALE", nullptr);
}
