// The installer's icon, version information and DPI awareness: read back with icoutils
// (icotool makes the icons, wrestool extracts what the packer wrote), and bad input refused.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>

#include "PackTestSupport.h"
#include "pack/StubResources.h"
#include "pack/VendorResources.h"

namespace shipkit::pack::test {
namespace {


// A command's standard output; the test fails when it fails.
std::string run(const std::string& command) {
  std::FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r");
  std::string out;
  if (!p) {
    ADD_FAILURE() << "cannot run " << command;
    return out;
  }
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  EXPECT_EQ(::pclose(p), 0) << command << " (icoutils: run scripts/deps.sh)";
  return out;
}

std::string wrestool(const std::string& args, const std::filesystem::path& file) {
  return run("wrestool " + args + " " + shellQuote(file.string()));
}

void chunk(std::string& png, const char* type, const std::string& data) {
  auto be32 = [&](uint32_t v) {
    for (int i = 3; i >= 0; --i) png += static_cast<char>(v >> (8 * i));
  };
  be32(static_cast<uint32_t>(data.size()));
  std::string body = std::string(type) + data;
  png += body;
  be32(static_cast<uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
}

// An RGBA PNG of `size` x `size` pixels in a pattern that depends on `seed`.
std::string png(uint32_t size, int seed) {
  std::string raw;
  for (uint32_t y = 0; y < size; ++y) {
    raw += '\0';  // no filter
    for (uint32_t x = 0; x < size; ++x)
      raw += {static_cast<char>(x * 7 + seed), static_cast<char>(y * 5), static_cast<char>(seed * 31), '\xFF'};
  }
  uLongf packedSize = compressBound(uLong(raw.size()));
  std::string packed(packedSize, '\0');
  ::compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
             uLong(raw.size()));
  packed.resize(packedSize);
  std::string header;
  for (uint32_t v : {size, size})
    for (int i = 3; i >= 0; --i) header += static_cast<char>(v >> (8 * i));
  header += std::string("\x08\x06\x00\x00\x00", 5);
  std::string out("\x89PNG\r\n\x1a\n", 8);
  chunk(out, "IHDR", header);
  chunk(out, "IDAT", packed);
  chunk(out, "IEND", "");
  return out;
}

// The images of an .ico file in directory order, as the file's directory locates them.
std::vector<std::string> icoImages(const std::string& ico) {
  std::vector<std::string> images;
  for (uint32_t i = 0, n = le32(ico, 4) & 0xFFFF; i < n; ++i)
    images.push_back(ico.substr(le32(ico, 6 + 16 * i + 12), le32(ico, 6 + 16 * i + 8)));
  return images;
}

TEST(PackIcon, IconFilesReplaceTheStubsIconByteForByte) {
  ScratchDir dir;
  for (uint32_t size : {16u, 32u, 48u, 256u}) writeFile(dir / (std::to_string(size) + ".png"), png(size, size));
  const std::string quoted = shellQuote(dir.path().string());
  run("cd " + quoted + " && icotool -c -o one.ico 32.png");
  run("cd " + quoted + " && icotool -c -o sizes.ico 16.png 32.png 48.png -r 256.png");
  run("cd " + quoted + " && icotool -c -o pngs.ico -r 16.png -r 48.png");
  const std::string stub = readFile(kStub);
  writeFile(dir / "launcher.exe", stub);
  const std::string ownGroup = wrestool("-x -R --type=14 --name=1001", dir / "launcher.exe");
  ASSERT_FALSE(ownGroup.empty());
  const std::string ownManifest = wrestool("-x -R --type=24 --name=1", dir / "launcher.exe");
  struct Case {
    const char* what;
    const char* stub;
    const char* ico;
  };
  const Case cases[] = {
      {"one bitmap", "launcher.exe", "one.ico"},
      {"three bitmaps and a PNG", "launcher.exe", "sizes.ico"},
      {"PNG images only", "launcher.exe", "pngs.ico"},
      // An installer that got an icon, as a stub again: its images give way to the new ones.
      {"an icon replaced again", "first.exe", "one.ico"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string ico = readFile(dir / c.ico);
    Built built = buildWith(dir, std::string(R"({"files": [], "icon": ")") + c.ico + "\"}", readFile(dir / c.stub));
    ASSERT_TRUE(built.ok) << built.error;
    if (!std::filesystem::exists(dir / "first.exe")) writeFile(dir / "first.exe", built.bytes);
    // wrestool rebuilds an .ico from the group and its images: the file given, exactly, and
    // then as many zero bytes as the group resource has (wrestool's own padding).
    const std::vector<std::string> images = icoImages(ico);
    const std::string back = wrestool("-x --type=14 --name=1001", dir / "out.exe");
    EXPECT_TRUE(back.substr(0, ico.size()) == ico);
    EXPECT_TRUE(back.substr(std::min(ico.size(), back.size())) == std::string(6 + 14 * images.size(), '\0'));
    std::string list = wrestool("-l --type=3", dir / "out.exe");
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), static_cast<long>(images.size())) << list;
    for (std::size_t i = 0; i < images.size(); ++i) {
      std::string name = std::to_string(i + 1);
      EXPECT_TRUE(wrestool("-x -R --type=3 --name=" + name + " --language=1033", dir / "out.exe") == images[i])
          << "image " << name;
    }
    EXPECT_TRUE(wrestool("-x -R --type=24 --name=1", dir / "out.exe") == ownManifest) << "the rest stays";
    EXPECT_TRUE(readInstaller(built.bytes).ok);
  }
}

TEST(PackIcon, FilesThatAreNoValidIconAreRefusedNamingTheFault) {
  auto ico = [](uint16_t type, uint16_t count, std::vector<std::pair<uint32_t, uint32_t>> entries,
                const std::string& data) {
    std::string f(6 + 16 * entries.size(), '\0');
    f[2] = static_cast<char>(type), f[4] = static_cast<char>(count);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      for (int k = 0; k < 4; ++k) {
        f[6 + 16 * i + 8 + k] = static_cast<char>(entries[i].first >> (8 * k));
        f[6 + 16 * i + 12 + k] = static_cast<char>(entries[i].second >> (8 * k));
      }
    }
    return f + data;
  };
  const std::string dib = std::string("\x28\0\0\0", 4) + std::string(60, '\x11');
  struct Case {
    const char* what;
    std::string file;
    std::string error;
  };
  const Case cases[] = {
      {"an empty file", "", "\"app.ico\" is empty"},
      {"a PNG file", png(16, 1), "\"app.ico\": not an icon file: the header does not start with 00 00 01 00"},
      {"five bytes", std::string(5, '\0'), "\"app.ico\": not an icon file: 5 bytes, shorter than the 6-byte header"},
      {"a cursor", ico(2, 1, {{64, 22}}, dib), "\"app.ico\": a cursor file, not an icon"},
      {"no images", ico(1, 0, {}, ""), "\"app.ico\": the icon file holds no images"},
      {"a directory past the end", ico(1, 3, {{64, 22}}, ""),
       "\"app.ico\": the directory of 3 images needs 54 bytes, the file has 22"},
      {"an image past the end", ico(1, 1, {{65, 22}}, dib),
       "\"app.ico\": image 1 (offset 22, 65 bytes) lies outside the file's image data (bytes 22 to 86)"},
      {"an image inside the directory", ico(1, 1, {{16, 6}}, dib),
       "\"app.ico\": image 1 (offset 6, 16 bytes) lies outside the file's image data (bytes 22 to 86)"},
      {"an empty image", ico(1, 1, {{0, 22}}, dib), "\"app.ico\": image 1 (offset 22, 0 bytes) is empty"},
      {"an image of another format", ico(1, 2, {{64, 38}, {10, 102}}, dib + "GIF89a....."),
       "\"app.ico\": image 2 (offset 102, 10 bytes) is neither a PNG image nor a bitmap (DIB)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    writeFile(dir / "app.ico", c.file);
    Built built = buildWith(dir, R"({"files": [], "icon": "app.ico"})");
    EXPECT_FALSE(built.ok);
    EXPECT_EQ(built.error, "manifest: icon: " + c.error);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.exe"));
  }
}

TEST(PackVersion, BadVersionInformationIsRefusedNamingTheField) {
  struct Case {
    const char* version;
    const char* error;
  };
  const Case cases[] = {
      {R"("1.2")", "version: expected an object, got string"},
      {R"({"productVersion": "1.2"})", "version.fileVersion: missing"},
      {R"({"fileVersion": "1.2.3.4.5"})", "version.fileVersion: \"1.2.3.4.5\": more than four parts"},
      {R"({"fileVersion": "1.65536"})", "version.fileVersion: \"1.65536\": part 2 (65536) is above 65535"},
      {R"({"fileVersion": "1..2"})", "version.fileVersion: \"1..2\": part 2 (\"\") is not a number from 0 to 65535"},
      {R"({"fileVersion": "1.2."})", "version.fileVersion: \"1.2.\": part 3 (\"\") is not a number from 0 to 65535"},
      {R"({"fileVersion": "v1"})", "version.fileVersion: \"v1\": part 1 (\"v1\") is not a number from 0 to 65535"},
      {R"({"fileVersion": "-1"})", "version.fileVersion: \"-1\": part 1 (\"-1\") is not a number from 0 to 65535"},
      {R"({"fileVersion": "1.000002"})",
       "version.fileVersion: \"1.000002\": part 2 (\"000002\") is not a number from 0 to 65535"},
      {R"({"fileVersion": 1})", "version.fileVersion: expected a string, got an integer"},
      {R"({"fileVersion": "1", "productVersion": "2.99999"})",
       "version.productVersion: \"2.99999\": part 2 (99999) is above 65535"},
      {R"({"fileVersion": "1", "companyName": ""})", "version.companyName: empty text"},
      {R"({"fileVersion": "1", "productName": "a\u0000b"})", "version.productName: text contains NUL"},
      {R"({"fileVersion": "1", "comment": "x"})", "version.comment: unknown key"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    ScratchDir dir;
    Built built = buildWith(dir, std::string(R"({"files": [], "version": )") + c.version + "}");
    EXPECT_FALSE(built.ok);
    EXPECT_EQ(built.error, std::string("manifest: ") + c.error);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.exe"));
  }
}

TEST(PackDpiAware, TheStubsManifestGetsPerMonitorAwarenessAndKeepsTheRest) {
  ScratchDir dir;
  const std::string stub = readFile(kStub);
  writeFile(dir / "launcher.exe", stub);
  const std::string own = wrestool("-x -R --type=24 --name=1", dir / "launcher.exe");
  ASSERT_NE(own.find("asInvoker"), std::string::npos);
  const std::string added =
      "  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\">\n    <windowsSettings>\n"
      "      <dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>\n"
      "      <dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, "
      "PerMonitor</dpiAwareness>\n    </windowsSettings>\n  </application>\n";
  struct Case {
    const char* what;
    const char* field;
    bool added;
  };
  const Case cases[] = {
      {"aware", R"(, "dpiAware": true)", true},
      {"unaware by choice", R"(, "dpiAware": false)", false},
      {"unaware by default", "", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Built built = buildWith(dir, std::string(R"({"files": [])") + c.field + "}", stub);
    ASSERT_TRUE(built.ok) << built.error;
    const std::string manifest = wrestool("-x -R --type=24 --name=1 --language=1033", dir / "out.exe");
    std::size_t at = manifest.find(added);
    EXPECT_EQ(at != std::string::npos, c.added) << manifest;
    // Without the added block it is the stub's own: asInvoker, the common controls, supportedOS.
    std::string rest = at == std::string::npos ? manifest : manifest.substr(0, at) + manifest.substr(at + added.size());
    EXPECT_EQ(rest, own);
    for (const char* kept : {"level=\"asInvoker\"", "Microsoft.Windows.Common-Controls", "<supportedOS Id="})
      EXPECT_NE(manifest.find(kept), std::string::npos) << kept;
  }
  // A stub with no manifest, and one that declares its awareness already.
  std::string already, again, error;
  ASSERT_TRUE(declareDpiAware(own, already, error)) << error;
  EXPECT_FALSE(declareDpiAware(already, again, error));
  EXPECT_EQ(error, "the stub's manifest already declares its DPI awareness");
  Built bare = buildWith(dir, R"({"files": [], "dpiAware": true})",
                         readFile(std::filesystem::path(SHIPKIT_ROOT_DIR) /
                                  "fuzz/corpus/fuzz_stub_resources/without_resources.exe"));
  EXPECT_FALSE(bare.ok);
  EXPECT_EQ(bare.error,
            "stub: cannot add the resources: the stub has no application manifest (resource 24, 1) in one language");
}

}  // namespace
}  // namespace shipkit::pack::test
