#pragma once
// The packer's manifest: a JSON description of an installer's container.
//
// {
//   "stub": "launcher.exe",                  relative to the manifest's directory
//   "checksum": true,                        header checksum flag (default true)
//   "config": { "2001": "i", "107": "1" },   id -> value, each code point <= 0xFF (one byte)
//   "messages": { "1000": "Error" },         id -> text, stored UTF-16LE
//   "localized": [ { "key": "de", "messages": { "1000": "Fehler" } } ],   in stored order
//   "files": [ { "name": "a.jar", "source": "build/a.jar" },
//              { "name": "sub\\b.txt", "text": "inline UTF-8" },
//              { "name": "c.bin", "hex": "00 88 ff" } ],
//   "trailer": { "source": "..." } | { "text": "..." } | { "hex": "..." },
//   "header": { "magic": 123, "crc": 0, "length": 0 },  forced header fields (damaged on purpose)
//   "splash": [ { "scale": 1.0, "source": "splash.png" },  splash images for display scales
//               { "scale": 1.5, "source": "splash@150.png" } ],
//   "download": { "url": "https://...", "sha256": "64 hex digits" }   runtime download (entries
//             | { "url": "https://...", "source": "jre.tar.gz" }      150 and 170; the source is hashed)
//   "defaultMessages": true,                 fill in the default of every message left out
//   "icon": "app.ico",                       replaces the stub's icon group 1001
//   "version": { "fileVersion": "1.2.3.4", "productVersion": "1.2", "companyName": "...",
//                "fileDescription": "...", "productName": "...", "legalCopyright": "...",
//                "originalFilename": "setup.exe" },   the installer's version information
//   "dpiAware": false                        per-monitor DPI awareness in the stub's manifest
// }
// Ids are decimal int32 strings. Entries 2002 and 2003 are generated from "files" unless
// "config" gives them. A file name is a relative path with '\\' between its parts, each
// code point <= 0xFF, without ';', '/', ':', '..' or empty parts; "text" is stored as
// UTF-8, "hex" as the bytes it spells. Unknown keys are errors, so a misspelt key never
// goes unnoticed. A splash image's scale is 1.0 to 17.0 in steps of 0.25, each scale at most
// once; its bytes (any image format, not decoded here) become resource RT_RCDATA
// 10000 + (scale - 1) / 0.25 of the installer's stub, language neutral. The icon file must
// be a valid .ico; version numbers have one to four parts of 0 to 65535 ("fileVersion" is
// required, "productVersion" defaults to it); version strings are any non-empty Unicode text.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pack/ContainerWriter.h"
#include "pack/VendorResources.h"

namespace shipkit::pack {

struct SplashImage {
  int step = 0;       // the scale is 1 + step * 0.25
  std::string bytes;  // the image file's content
};

inline constexpr int kSplashResourceBase = 10000;
inline constexpr int kSplashMaxStep = 64;

struct Manifest {
  std::optional<std::filesystem::path> stub;  // resolved against the manifest's directory
  ContainerContent content;
  std::vector<SplashImage> splash;  // in manifest order
  // What a build reports but accepts.
  std::vector<std::string> warnings;
  // What the packer adds beyond the manifest's own texts and the stub's own resources.
  bool defaultMessages = true;
  std::vector<IconImage> icon;  // empty: the stub's icon stays
  std::optional<std::string> version;  // an encoded VS_VERSIONINFO
  bool dpiAware = false;
};

// Parses manifest text; relative paths are resolved against `baseDir`, and every source
// file is checked to be readable now. On failure `error` reads "manifest: <field>: <why>".
bool parseManifest(std::string_view json, const std::filesystem::path& baseDir, Manifest& out,
                   std::string& error);

bool loadManifest(const std::filesystem::path& file, Manifest& out, std::string& error);

}  // namespace shipkit::pack
