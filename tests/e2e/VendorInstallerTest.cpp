// What a vendor's installer shows and carries: texts in every dialog from a minimal manifest
// (the packer's defaults), version information as Windows reads it, and a signed installer with
// icon, version information and splash images that still verifies and runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "E2eSupport.h"

using namespace e2e;

namespace {

// A manifest that gives no texts at all: the packer fills them in.
json minimalManifest() {
  return json{{"config", {{"2001", "i"}, {"107", "1"}}},
              {"files", json::array({{{"name", "a.txt"}, {"text", "payload"}}})},
              {"defaultMessages", true}};
}

std::vector<std::string> linesOf(const fs::path& file) {
  std::vector<std::string> lines;
  std::istringstream in(Sandbox::readFile(file));
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// The "control" lines that follow `window`'s line in a controls record.
std::vector<std::string> controlsOf(const std::vector<std::string>& lines, const std::string& window) {
  std::vector<std::string> controls;
  int at = indexOf(lines, window);
  for (std::size_t i = at < 0 ? lines.size() : at + 1; i < lines.size() && lines[i].rfind("control ", 0) == 0; ++i)
    controls.push_back(lines[i]);
  return controls;
}

TEST(VendorInstaller, AMinimalManifestShowsTextsInEveryDialog) {
  struct Row {
    const char* lang;
    std::string caption, preparing, cancel, locate, download, selection, corrupt;
  };
  const Row rows[] = {
      {"en_US.UTF-8", "Setup", "Preparing the installation ...", "Cancel", "Locate", "Download",
       "This program needs a 64-bit Java(TM) Runtime Environment, which was not found on this computer. Please "
       "locate an installed java.exe.",
       "The installation file is corrupted. If it is a download please try it again."},
      {"de_DE.UTF-8", "Setup", "Die Installation wird vorbereitet ...", "Abbrechen", "Auswählen", "Herunterladen",
       "Dieses Programm benötigt eine 64-Bit-Java(TM)-Laufzeitumgebung, die auf diesem Computer nicht gefunden "
       "wurde. Bitte wählen Sie eine installierte java.exe aus.",
       "Die Installationsdatei ist beschädigt. Wurde sie heruntergeladen, laden Sie sie bitte erneut herunter."},
  };
  Sandbox box;
  fs::path exe = box.build(minimalManifest());
  // The same installer with a flipped byte in its payload: the integrity check fails.
  std::string bytes = Sandbox::readFile(exe);
  bytes.back() = static_cast<char>(bytes.back() ^ 1);
  std::ofstream(box.dir() / "corrupt.exe", std::ios::binary) << bytes;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.lang);
    fs::path controls = box.dir() / (std::string("controls-") + row.lang + ".txt");
    // The manual switch skips the search; with no download location the selection dialog asks.
    // Its Cancel goes to the first dialog box whatever its caption, which the record shows.
    RunResult r = box.run(exe, "-manual",
                          {.replies = {"|cancel"}, .lang = row.lang,
                           .runner = {"controls " + winPath(controls)}});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    std::vector<std::string> lines = linesOf(controls);
    std::vector<std::string> progress = controlsOf(lines, "window MyDialogClass|" + row.caption);
    EXPECT_TRUE(contains(progress, "control Static 1003 visible|" + row.preparing)) << testing::PrintToString(lines);
    EXPECT_TRUE(contains(progress, "control Button 2 visible|" + row.cancel)) << testing::PrintToString(progress);
    std::vector<std::string> selection = controlsOf(lines, "window #32770|" + row.caption);
    EXPECT_EQ(selection, (std::vector<std::string>{"control Button 1004 hidden|" + row.download,
                                                    "control Button 1005 visible|" + row.locate,
                                                    "control Button 2 visible|" + row.cancel,
                                                    "control Static 1003 visible|" + row.selection,
                                                    "control Static -1 visible|"}))
        << testing::PrintToString(lines);

    RunResult broken = box.run(box.dir() / "corrupt.exe", "", {.lang = row.lang});
    ASSERT_EQ(broken.dialogs.size(), 1u) << broken.err;
    EXPECT_EQ(broken.dialogs[0], row.caption + "|" + row.corrupt);
  }
}


// What resourceprobe prints for the version information of `exe`.
std::string versionProbe(Sandbox& box, const fs::path& exe) {
  RunResult probe = box.runCommandLine("\"" + winPath(outDir() / "testing" / "resourceprobe.exe") +
                                       "\" --version \"" + winPath(exe) +
                                       "\" CompanyName FileDescription FileVersion LegalCopyright "
                                       "OriginalFilename ProductName ProductVersion");
  EXPECT_EQ(probe.exitCode, 0) << probe.out << probe.err;
  return probe.out;
}

const char kFixed[] = "signature feef04bd\n";

TEST(VendorInstaller, WindowsReadsEveryVersionFieldGiven) {
  struct Row {
    const char* what;
    json version;
    std::string expected;
  };
  const std::string company = "Gr\xC3\xB6\xC3\x9F" "e & S\xC3\xB6hne \xE6\xA0\xAA\xE5\xBC\x8F\xE4\xBC\x9A\xE7\xA4\xBE "
                              "\xF0\x9F\x98\x80";  // umlauts, CJK and a character beyond the BMP
  const Row rows[] = {
      {"every field",
       {{"fileVersion", "1.2.3.4"},
        {"productVersion", "65535.0.7"},
        {"companyName", company},
        {"fileDescription", "Example App Setup"},
        {"productName", "Example App"},
        {"legalCopyright", "\xC2\xA9 2026 Example"},
        {"originalFilename", "setup.exe"}},
       std::string(kFixed) + "file 1.2.3.4\nproduct 65535.0.7.0\ntype 1 os 00040004\ntranslation 000004b0\n" +
           "CompanyName " + hexOf(company) + "\nFileDescription " + hexOf("Example App Setup") +
           "\nFileVersion " + hexOf("1.2.3.4") + "\nLegalCopyright " + hexOf("\xC2\xA9 2026 Example") +
           "\nOriginalFilename " + hexOf("setup.exe") + "\nProductName " + hexOf("Example App") +
           "\nProductVersion " + hexOf("65535.0.7") + "\n"},
      {"a file version alone",
       {{"fileVersion", "7"}},
       std::string(kFixed) + "file 7.0.0.0\nproduct 7.0.0.0\ntype 1 os 00040004\ntranslation 000004b0\n" +
           "CompanyName absent\nFileDescription absent\nFileVersion " + hexOf("7") +
           "\nLegalCopyright absent\nOriginalFilename absent\nProductName absent\nProductVersion " + hexOf("7") +
           "\n"},
  };
  Sandbox box;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    json m = minimalManifest();
    m["version"] = row.version;
    EXPECT_EQ(versionProbe(box, box.build(m)), row.expected);
  }
}

// A 16 x 16 icon with one 32-bit bitmap.
std::string bitmapIcon() {
  auto le = [](std::string& s, uint32_t v, int width) {
    for (int i = 0; i < width; ++i) s += static_cast<char>(v >> (8 * i));
  };
  std::string image;
  le(image, 40, 4), le(image, 16, 4), le(image, 32, 4), le(image, 1, 2), le(image, 32, 2);
  image.append(24, '\0');
  for (int i = 0; i < 16 * 16; ++i) le(image, 0xFF2080C0u + i, 4);  // colours
  image.append(16 * 4, '\0');                                        // AND mask: all shown
  std::string ico;
  le(ico, 0, 2), le(ico, 1, 2), le(ico, 1, 2);
  ico += std::string("\x10\x10\0\0", 4);
  le(ico, 1, 2), le(ico, 32, 2), le(ico, uint32_t(image.size()), 4), le(ico, 22, 4);
  return ico + image;
}

TEST(VendorInstaller, ASignedInstallerWithIconVersionAndSplashVerifiesAndRuns) {
  Sandbox box;
  const std::string splash = std::string("\x89PNG\r\n\x1a\n one", 12);
  std::ofstream(box.dir() / "splash.png", std::ios::binary) << splash;
  std::ofstream(box.dir() / "app.ico", std::ios::binary) << bitmapIcon();
  json m = minimalManifest();
  m["splash"] = json::array({{{"scale", 1.0}, {"source", "splash.png"}}});
  m["icon"] = "app.ico";
  m["version"] = {{"fileVersion", "3.1.4.1"}, {"productName", "Example App"}};
  m["dpiAware"] = true;
  fs::path exe = box.build(m);

  const std::string d = "'" + box.dir().string() + "'";
  sh("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + d + "/key.pem -out " + d +
     "/cert.pem -days 2 -subj /CN=shipkit-test >/dev/null 2>&1");
  sh("osslsigncode sign -certs " + d + "/cert.pem -key " + d + "/key.pem -n 'Example App' -in '" + exe.string() +
     "' -out " + d + "/signed.exe >/dev/null");
  sh("osslsigncode verify -CAfile " + d + "/cert.pem -in " + d + "/signed.exe >/dev/null");
  fs::path signedExe = box.dir() / "signed.exe";

  RunResult r = box.run(signedExe, "-q -manual", {.env = {{"SHIPKIT_LOG", "yes"}}});
  ASSERT_EQ(r.exitCode, 83) << r.err;
  EXPECT_TRUE(contains(box.lastLogLines(), "extracting files done")) << testing::PrintToString(box.lastLogLines());
  EXPECT_EQ(versionProbe(box, signedExe), std::string(kFixed) +
                                              "file 3.1.4.1\nproduct 3.1.4.1\ntype 1 os 00040004\n"
                                              "translation 000004b0\nCompanyName absent\nFileDescription absent\n"
                                              "FileVersion " +
                                              hexOf("3.1.4.1") +
                                              "\nLegalCopyright absent\nOriginalFilename absent\nProductName " +
                                              hexOf("Example App") + "\nProductVersion " + hexOf("3.1.4.1") + "\n");
  RunResult images = box.runCommandLine("\"" + winPath(outDir() / "testing" / "resourceprobe.exe") + "\" \"" +
                                        winPath(signedExe) + "\" 10000");
  EXPECT_EQ(images.out, "10000 " + hexOf(splash) + "\n");
}

}  // namespace
