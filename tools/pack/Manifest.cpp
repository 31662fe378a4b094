#include "pack/Manifest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "jre/DownloadRules.h"
#include "pack/Text.h"
#include "payload/PayloadNames.h"

namespace shipkit::pack {

namespace {

using nlohmann::json;

// Thrown inside this file only; parseManifest turns it into its error text.
struct ManifestError {
  std::string field, why;
};

[[noreturn]] void fail(const std::string& field, const std::string& why) {
  throw ManifestError{field, why};
}

const char* typeName(const json& v) {
  return v.is_number_integer() ? "an integer" : v.is_number() ? "a number" : v.type_name();
}

void expectType(const json& v, json::value_t type, const std::string& field, const char* want) {
  bool ok = v.type() == type || (type == json::value_t::number_integer && v.is_number_integer());
  if (!ok) fail(field, std::string("expected ") + want + ", got " + typeName(v));
}

const std::string& stringAt(const json& v, const std::string& field) {
  expectType(v, json::value_t::string, field, "a string");
  return v.get_ref<const std::string&>();
}

void onlyKeys(const json& obj, const std::string& field, std::initializer_list<const char*> keys) {
  for (const auto& [key, value] : obj.items()) {
    bool known = false;
    for (const char* k : keys) known = known || key == k;
    if (!known) fail(field.empty() ? key : field + "." + key, "unknown key");
  }
}

int32_t parseId(const std::string& text, const std::string& field) {
  std::size_t i = text.size() > 1 && text[0] == '-' ? 1 : 0;
  bool digits = i < text.size() && text.size() - i <= 10;
  for (std::size_t k = i; digits && k < text.size(); ++k) digits = text[k] >= '0' && text[k] <= '9';
  if (digits) {
    long long v = std::stoll(text);
    if (v >= INT32_MIN && v <= INT32_MAX) return static_cast<int32_t>(v);
  }
  fail(field, "id must be a decimal 32-bit integer");
}

std::string latin1(const json& v, const std::string& field) {
  char32_t bad = 0;
  auto bytes = utf8ToLatin1(stringAt(v, field), &bad);
  if (!bytes) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "character U+%04X cannot be stored as one byte (max U+00FF)",
                  static_cast<unsigned>(bad));
    fail(field, buf);
  }
  return *bytes;
}

template <typename Value, typename Convert>
std::map<int32_t, Value> idTable(const json& obj, const std::string& field, Convert convert) {
  expectType(obj, json::value_t::object, field, "an object");
  std::map<int32_t, Value> table;
  std::map<int32_t, std::string> seen;  // id -> key as written, to report duplicates
  for (const auto& [key, value] : obj.items()) {
    std::string sub = field + "." + key;
    int32_t id = parseId(key, sub);
    if (seen.count(id)) fail(sub, "duplicate id (also given as \"" + seen[id] + "\")");
    seen[id] = key;
    table[id] = convert(value, sub);
  }
  return table;
}

std::u16string utf16(const json& v, const std::string& field) {
  auto text = utf8ToUtf16(stringAt(v, field));
  if (!text) fail(field, "not valid UTF-8");
  return *text;
}

std::string hexBytes(const json& v, const std::string& field) {
  const std::string& text = stringAt(v, field);
  std::string out;
  int pending = -1;
  for (char c : text) {
    int d = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : -1;
    if (d < 0 && (c == ' ' || c == '\n' || c == '\t') && pending < 0) continue;
    if (d < 0) fail(field, std::string("not a hex digit: '") + c + "'");
    if (pending < 0) {
      pending = d;
    } else {
      out.push_back(static_cast<char>(pending * 16 + d));
      pending = -1;
    }
  }
  if (pending >= 0) fail(field, "odd number of hex digits");
  return out;
}

PayloadData sourceFile(const json& v, const std::filesystem::path& baseDir, const std::string& field) {
  const std::string& written = stringAt(v, field);
  if (written.empty()) fail(field, "empty path");
  std::filesystem::path path = baseDir / written;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    int err = errno;
    if (fd >= 0) ::close(fd);
    fail(field, "cannot read \"" + written + "\": " + std::strerror(err));
  }
  ::close(fd);
  if (!S_ISREG(st.st_mode)) fail(field, "cannot read \"" + written + "\": not a regular file");
  PayloadData data;
  data.path = path.string();
  data.fileSize = static_cast<uint64_t>(st.st_size);
  data.field = field;
  return data;
}

// { "source": path } | { "text": UTF-8 } | { "hex": "00 88" }, with `extra` keys allowed.
PayloadData payloadData(const json& obj, const std::filesystem::path& baseDir, const std::string& field,
                        const char* extra) {
  int given = int(obj.contains("source")) + int(obj.contains("text")) + int(obj.contains("hex"));
  if (given != 1) fail(field, "needs exactly one of \"source\", \"text\" or \"hex\"");
  if (extra) {
    onlyKeys(obj, field, {extra, "source", "text", "hex"});
  } else {
    onlyKeys(obj, field, {"source", "text", "hex"});
  }
  if (obj.contains("source")) return sourceFile(obj["source"], baseDir, field + ".source");
  PayloadData data;
  if (obj.contains("text")) {
    data.bytes = stringAt(obj["text"], field + ".text");
  } else {
    data.bytes = hexBytes(obj["hex"], field + ".hex");
  }
  data.field = field;
  return data;
}

FileEntry fileEntry(const json& obj, const std::filesystem::path& baseDir, const std::string& field) {
  expectType(obj, json::value_t::object, field, "an object");
  if (!obj.contains("name")) fail(field + ".name", "missing");
  FileEntry entry;
  entry.name = latin1(obj["name"], field + ".name");
  // The name list is ";"-terminated and read as a C string: an empty name or one with ";"
  // or NUL would shift every following record to the wrong name.
  if (entry.name.empty()) fail(field + ".name", "empty name");
  if (entry.name.find(';') != std::string::npos) fail(field + ".name", "name contains ';'");
  if (entry.name.find('\0') != std::string::npos) fail(field + ".name", "name contains NUL");
  // The launcher refuses the whole container when a name could leave its extraction
  // directory; a test that needs such a name declares it through config entry 2003.
  if (!payload::payloadNameIsSafe(entry.name))
    fail(field + ".name", quoteBytes(entry.name) +
                              " is not a safe relative path (use '\\' between parts; no '/', ':', "
                              "'..', empty parts, device names such as CON or NUL, parts ending in '.' "
                              "or ' ', or the characters <>\"|?*)");
  entry.data = payloadData(obj, baseDir, field, "name");
  return entry;
}

// The image's bytes, read now: an empty image is refused here rather than shown as nothing.
std::string splashBytes(const json& v, const std::filesystem::path& baseDir, const std::string& field) {
  PayloadData file = sourceFile(v, baseDir, field);
  const std::string& written = v.get_ref<const std::string&>();
  std::ifstream in(file.path, std::ios::binary);
  std::ostringstream bytes;
  if (in) bytes << in.rdbuf();
  if (!in || in.bad()) fail(field, "cannot read \"" + written + "\": " + std::strerror(errno));
  if (bytes.str().empty()) fail(field, "\"" + written + "\" is empty");
  return bytes.str();
}

std::vector<SplashImage> splashImages(const json& list, const std::filesystem::path& baseDir) {
  expectType(list, json::value_t::array, "splash", "an array");
  std::vector<SplashImage> images;
  std::map<int, std::string> seen;  // step -> field that gave it
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::string field = "splash[" + std::to_string(i) + "]";
    const json& entry = list[i];
    expectType(entry, json::value_t::object, field, "an object");
    onlyKeys(entry, field, {"scale", "source"});
    if (!entry.contains("scale")) fail(field + ".scale", "missing");
    if (!entry.contains("source")) fail(field + ".source", "missing");
    const json& scale = entry["scale"];
    if (!scale.is_number()) fail(field + ".scale", std::string("expected a number, got ") + typeName(scale));
    // Multiples of 0.25 are exact in binary, so the test is exact too.
    double steps = (scale.get<double>() - 1.0) * 4.0;
    if (!(steps >= 0 && steps <= kSplashMaxStep && steps == static_cast<double>(static_cast<int>(steps))))
      fail(field + ".scale", scale.dump() + " is not one of 1.0, 1.25, 1.5 ... 17.0 (steps of 0.25)");
    SplashImage image;
    image.step = static_cast<int>(steps);
    if (seen.count(image.step))
      fail(field + ".scale", "duplicate scale " + scale.dump() + " (also in " + seen[image.step] + ")");
    seen[image.step] = field;
    image.bytes = splashBytes(entry["source"], baseDir, field + ".source");
    images.push_back(std::move(image));
  }
  return images;
}

// --- Vendor resources: icon, version information, DPI awareness. ---

std::vector<IconImage> iconImages(const json& v, const std::filesystem::path& baseDir) {
  std::string bytes = splashBytes(v, baseDir, "icon");
  std::vector<IconImage> images;
  std::string why;
  if (!parseIcon(bytes, images, why)) fail("icon", "\"" + v.get<std::string>() + "\": " + why);
  return images;
}

std::string versionResource(const json& v) {
  expectType(v, json::value_t::object, "version", "an object");
  // Manifest key -> the string's name in the version resource, in the resource's order.
  static const std::pair<const char*, const char16_t*> kStrings[] = {
      {"companyName", u"CompanyName"},   {"fileDescription", u"FileDescription"},
      {"fileVersion", u"FileVersion"},   {"legalCopyright", u"LegalCopyright"},
      {"originalFilename", u"OriginalFilename"}, {"productName", u"ProductName"},
      {"productVersion", u"ProductVersion"}};
  onlyKeys(v, "version",
           {"fileVersion", "productVersion", "companyName", "fileDescription", "productName", "legalCopyright",
            "originalFilename"});
  if (!v.contains("fileVersion")) fail("version.fileVersion", "missing");
  VersionInfo info;
  auto number = [&](const char* key, uint16_t (&parts)[4]) {
    std::string why, field = std::string("version.") + key;
    const std::string& text = stringAt(v[key], field);
    if (!parseVersionNumber(text, parts, why)) fail(field, "\"" + text + "\": " + why);
  };
  number("fileVersion", info.fileVersion);
  number(v.contains("productVersion") ? "productVersion" : "fileVersion", info.productVersion);
  json values = v;
  if (!values.contains("productVersion")) values["productVersion"] = v["fileVersion"];
  for (const auto& [key, name] : kStrings) {
    if (!values.contains(key)) continue;
    std::string field = std::string("version.") + key;
    std::u16string text = utf16(values[key], field);
    if (text.empty()) fail(field, "empty text");
    if (text.find(u'\0') != std::u16string::npos) fail(field, "text contains NUL");
    info.strings.emplace_back(name, std::move(text));
  }
  std::string block = encodeVersionInfo(info);
  // Every length in the block is a 16-bit number.
  if (block.size() > 0xFFFF)
    fail("version", "the texts take " + std::to_string(block.size()) +
                        " bytes; the version information holds at most 65535");
  return block;
}

// --- End of vendor resources. ---

template <typename T>
T headerNumber(const json& v, const std::string& field, long long lo, unsigned long long hi) {
  expectType(v, json::value_t::number_integer, field, "an integer");
  bool inRange = v.is_number_unsigned() ? v.get<unsigned long long>() <= hi
                                        : v.get<long long>() >= lo &&
                                              (v.get<long long>() < 0 || v.get<unsigned long long>() <= hi);
  if (!inRange) fail(field, "out of range");
  return static_cast<T>(v.is_number_unsigned() ? v.get<unsigned long long>() : v.get<long long>());
}

// ---- "download": the runtime download location (entry 150) and the SHA-256 the launcher
// requires of the archive it fetches (entry 170), given directly or hashed from a local copy.

constexpr int32_t kDownloadLocationId = 150;
constexpr int32_t kDownloadSha256Id = 170;
constexpr std::size_t kDownloadLocationMax = 5999;  // the launcher reads the location into 6000 units

std::string fileSha256(const PayloadData& file, const std::string& field) {
  std::ifstream in(file.path, std::ios::binary);
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  bool ok = in && context && EVP_DigestInit_ex(context, EVP_sha256(), nullptr) == 1;
  std::vector<char> chunk(1 << 16);
  while (ok && in) {
    in.read(chunk.data(), std::streamsize(chunk.size()));
    ok = !in.bad() && EVP_DigestUpdate(context, chunk.data(), std::size_t(in.gcount())) == 1;
  }
  jre::Sha256 digest{};
  unsigned int length = 0;
  ok = ok && EVP_DigestFinal_ex(context, digest.data(), &length) == 1 && length == digest.size();
  EVP_MD_CTX_free(context);
  if (!ok) fail(field, "cannot hash \"" + file.path + "\": " + std::strerror(errno));
  return jre::digestHex(digest);
}

bool beginsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

// Writes entries 150 and 170 from "download", and warns about a location (from "download"
// or "config") that anyone on the network path could answer with a runtime of their own.
void downloadEntries(const json& root, const std::filesystem::path& baseDir, Manifest& m) {
  payload::ConfigMap& config = m.content.config;
  if (root.contains("download")) {
    const json& d = root["download"];
    expectType(d, json::value_t::object, "download", "an object");
    onlyKeys(d, "download", {"url", "sha256", "source"});
    for (int32_t id : {kDownloadLocationId, kDownloadSha256Id})
      if (config.count(id))
        fail("download", "\"config\" sets entry " + std::to_string(id) +
                             " too; give the download location and its digest in \"download\" only");
    if (!d.contains("url")) fail("download.url", "missing");
    std::string url = latin1(d["url"], "download.url");
    if (url.empty()) fail("download.url", "empty");
    if (url.find('\0') != std::string::npos) fail("download.url", "contains NUL");
    if (url.size() > kDownloadLocationMax)
      fail("download.url", std::to_string(url.size()) + " bytes, more than the launcher reads (" +
                               std::to_string(kDownloadLocationMax) + ")");
    if (d.contains("sha256") && d.contains("source"))
      fail("download", "give \"sha256\" or \"source\", not both");
    config[kDownloadLocationId] = url;
    if (d.contains("sha256")) {
      const std::string& text = stringAt(d["sha256"], "download.sha256");
      jre::RuntimeDigest pin = jre::parseRuntimeDigest(text);
      if (pin.state != jre::RuntimeDigest::State::Pinned)
        fail("download.sha256", "expected 64 hex digits, got " + quoteBytes(text));
      config[kDownloadSha256Id] = jre::digestHex(pin.value);
    } else if (d.contains("source")) {
      config[kDownloadSha256Id] =
          fileSha256(sourceFile(d["source"], baseDir, "download.source"), "download.source");
    }
  }
  auto entry = [&](int32_t id) { return config.count(id) ? config.at(id) : std::string(); };
  const std::string location = entry(kDownloadLocationId), digest = entry(kDownloadSha256Id);
  if (!location.empty() && digest.empty() && !beginsWithNoCase(location, "https://"))
    m.warnings.push_back("download location " + quoteBytes(location) +
                         " is not https:// and has no SHA-256: anyone on the network path can replace the "
                         "runtime the installer runs; give \"sha256\" or \"source\" in \"download\"");
  if (!digest.empty() && jre::parseRuntimeDigest(digest).state != jre::RuntimeDigest::State::Pinned)
    m.warnings.push_back("config entry 170 is not 64 hex digits: the launcher refuses every download");
}

// ---- end of "download"

void parseInto(const json& root, const std::filesystem::path& baseDir, Manifest& m) {
  expectType(root, json::value_t::object, "(top level)", "an object");
  onlyKeys(root, "",
           {"stub", "checksum", "config", "messages", "localized", "files", "trailer", "header", "splash",
            "download", "defaultMessages", "icon", "version", "dpiAware"});
  ContainerContent& c = m.content;
  if (root.contains("stub")) {
    const std::string& stub = stringAt(root["stub"], "stub");
    if (stub.empty()) fail("stub", "empty path");
    m.stub = baseDir / stub;
  }
  if (root.contains("checksum")) {
    expectType(root["checksum"], json::value_t::boolean, "checksum", "true or false");
    c.checksum = root["checksum"].get<bool>();
  }
  if (root.contains("config")) c.config = idTable<std::string>(root["config"], "config", latin1);
  if (root.contains("messages")) c.messages = idTable<std::u16string>(root["messages"], "messages", utf16);
  if (root.contains("localized")) {
    const json& sets = root["localized"];
    expectType(sets, json::value_t::array, "localized", "an array");
    for (std::size_t i = 0; i < sets.size(); ++i) {
      std::string field = "localized[" + std::to_string(i) + "]";
      expectType(sets[i], json::value_t::object, field, "an object");
      onlyKeys(sets[i], field, {"key", "messages"});
      if (!sets[i].contains("key")) fail(field + ".key", "missing");
      LocalizedMessages set;
      set.key = latin1(sets[i]["key"], field + ".key");
      if (sets[i].contains("messages"))
        set.messages = idTable<std::u16string>(sets[i]["messages"], field + ".messages", utf16);
      c.localized.push_back(std::move(set));
    }
  }
  if (root.contains("files")) {
    const json& files = root["files"];
    expectType(files, json::value_t::array, "files", "an array");
    for (std::size_t i = 0; i < files.size(); ++i)
      c.files.push_back(fileEntry(files[i], baseDir, "files[" + std::to_string(i) + "]"));
  }
  if (root.contains("trailer")) {
    expectType(root["trailer"], json::value_t::object, "trailer", "an object");
    c.trailer = payloadData(root["trailer"], baseDir, "trailer", nullptr);
  }
  if (root.contains("header")) {
    const json& h = root["header"];
    expectType(h, json::value_t::object, "header", "an object");
    onlyKeys(h, "header", {"magic", "crc", "length"});
    if (h.contains("magic")) c.magic = headerNumber<uint32_t>(h["magic"], "header.magic", 0, UINT32_MAX);
    if (h.contains("crc")) c.crc = headerNumber<uint32_t>(h["crc"], "header.crc", 0, UINT32_MAX);
    if (h.contains("length"))
      c.checksummedLength = headerNumber<int64_t>(h["length"], "header.length", INT64_MIN, INT64_MAX);
  }
  if (root.contains("splash")) m.splash = splashImages(root["splash"], baseDir);
  downloadEntries(root, baseDir, m);
  // Vendor resources and default messages.
  if (root.contains("defaultMessages")) {
    expectType(root["defaultMessages"], json::value_t::boolean, "defaultMessages", "true or false");
    m.defaultMessages = root["defaultMessages"].get<bool>();
  }
  if (root.contains("icon")) m.icon = iconImages(root["icon"], baseDir);
  if (root.contains("version")) m.version = versionResource(root["version"]);
  if (root.contains("dpiAware")) {
    expectType(root["dpiAware"], json::value_t::boolean, "dpiAware", "true or false");
    m.dpiAware = root["dpiAware"].get<bool>();
  }
}

}  // namespace

bool parseManifest(std::string_view text, const std::filesystem::path& baseDir, Manifest& out,
                   std::string& error) {
  out = {};
  json root = json::parse(text, nullptr, false);
  if (root.is_discarded()) {
    // Parse again with exceptions only to obtain the position of the syntax error.
    try {
      (void)json::parse(text);
    } catch (const json::parse_error& e) {
      std::string what = e.what();
      std::size_t bracket = what.find("] ");
      error = "manifest: " + (bracket == std::string::npos ? what : what.substr(bracket + 2));
    }
    if (error.empty()) error = "manifest: not valid JSON";
    return false;
  }
  try {
    parseInto(root, baseDir, out);
  } catch (const ManifestError& e) {
    error = "manifest: " + e.field + ": " + e.why;
    out = {};
    return false;
  }
  return true;
}

bool loadManifest(const std::filesystem::path& file, Manifest& out, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  if (!in || in.bad()) {
    error = "manifest: cannot read \"" + file.string() + "\": " + std::strerror(errno);
    return false;
  }
  std::filesystem::path dir = file.parent_path();
  return parseManifest(text.str(), dir.empty() ? "." : dir, out, error);
}

}  // namespace shipkit::pack
