// Splash images in the installer's stub: resources read back with icoutils' wrestool, an
// independent reader; the stub's own resources unchanged; the container still found.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "AllocationProbe.h"
#include "PackTestSupport.h"
#include "pack/PeResources.h"
#include "pack/PeStub.h"
#include "pack/StubResources.h"

namespace shipkit::pack::test {
namespace {


// wrestool's standard output; the test fails when it cannot run or fails.
std::string wrestool(const std::string& args, const std::filesystem::path& file) {
  std::string command = "wrestool " + args + " " + shellQuote(file.string()) + " 2>/dev/null";
  std::FILE* p = ::popen(command.c_str(), "r");
  std::string out;
  if (!p) {
    ADD_FAILURE() << "cannot run " << command;
    return out;
  }
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  int status = ::pclose(p);
  EXPECT_EQ(status, 0) << command << " (wrestool comes with icoutils: run scripts/deps.sh)";
  return out;
}

// "--type=T --name=N --language=L" of every resource, with its bytes.
std::map<std::string, std::string> resources(const std::filesystem::path& file) {
  std::map<std::string, std::string> all;
  std::string list = wrestool("-l", file);
  for (std::size_t at = 0, end; (end = list.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string line = list.substr(at, end - at);
    std::string key = line.substr(0, line.find(" ["));
    all[key] = wrestool("-x -R " + key, file);
  }
  return all;
}

std::string image(char seed, std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7);
  return s;
}

TEST(PackSplash, ImagesBecomeNeutralRcdataResourcesBesideTheStubsOwn) {
  ScratchDir dir;
  const std::string stub = readFile(kStub);
  writeFile(dir / "launcher.exe", stub);
  const std::map<std::string, std::string> own = resources(dir / "launcher.exe");
  ASSERT_TRUE(own.count("--type=14 --name=1001 --language=1033")) << "the stub's icon group";
  ASSERT_TRUE(own.count("--type=24 --name=1 --language=1033")) << "the stub's manifest";
  std::string bare = stub;  // no resource directory at all
  bare.replace(le32(stub, 60) + 24 + 112 + 8 * 2, 8, 8, '\0');
  writeFile(dir / "bare.exe", bare);
  // A small image with a named resource type, "AB".
  writeFile(dir / "named.exe", readFile(std::filesystem::path(SHIPKIT_ROOT_DIR) /
                                        "fuzz/corpus/fuzz_stub_resources/with_resources.exe"));
  writeFile(dir / "s100.png", image('a', 3000));
  writeFile(dir / "s150.png", image('b', 4501));  // odd size: the next image is realigned
  writeFile(dir / "s200.png", image('c', 1));
  writeFile(dir / "s1700.png", image('d', 17));
  writeFile(dir / "other150.png", image('e', 50));
  const std::string files = R"("files": [{"name": "a.txt", "text": "payload"}])";
  struct Case {
    const char* what;
    std::string stub;  // file in dir; its resources are expected too, unless replaced
    std::string splash;
    std::map<int, std::string> images;  // resource id -> source file
  };
  const Case cases[] = {
      {"three scales, listed out of order",
       "launcher.exe",
       R"([{"scale": 2, "source": "s200.png"}, {"scale": 1.0, "source": "s100.png"},
           {"scale": 1.5, "source": "s150.png"}])",
       {{10000, "s100.png"}, {10002, "s150.png"}, {10004, "s200.png"}}},
      {"the highest scale",
       "launcher.exe",
       R"([{"scale": 17.0, "source": "s1700.png"}])",
       {{10064, "s1700.png"}}},
      {"a stub without resources",
       "bare.exe",
       R"([{"scale": 1.25, "source": "s100.png"}])",
       {{10001, "s100.png"}}},
      {"a stub with a named resource type",
       "named.exe",
       R"([{"scale": 1, "source": "s200.png"}])",
       {{10000, "s200.png"}}},
      // The first installer serves as a stub again: its tree, read from the section the
      // packer appended, keeps 10000 and 10004 and gets a new 10002.
      {"an image replaced in an installer",
       "first.exe",
       R"([{"scale": 1.5, "source": "other150.png"}])",
       {{10002, "other150.png"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string manifest = "{" + files + R"(, "splash": )" + c.splash + "}";
    const std::string before = readFile(dir / c.stub);
    Built built = buildWith(dir, manifest, before);
    ASSERT_TRUE(built.ok) << built.error;
    Built again = buildWith(dir, manifest, before);
    EXPECT_TRUE(built.bytes == again.bytes) << "the output is deterministic";
    if (!std::filesystem::exists(dir / "first.exe")) writeFile(dir / "first.exe", built.bytes);

    std::map<std::string, std::string> expected = resources(dir / c.stub);
    for (const auto& [id, source] : c.images)
      expected["--type=10 --name=" + std::to_string(id) + " --language=0"] = readFile(dir / source);
    std::map<std::string, std::string> got = resources(dir / "out.exe");
    EXPECT_EQ(got.size(), expected.size());
    for (const auto& [key, bytes] : expected) {
      ASSERT_TRUE(got.count(key)) << key;
      EXPECT_TRUE(got[key] == bytes) << key << ": " << got[key].size() << " bytes, expected " << bytes.size();
    }

    // The launcher's reader finds the container after the new last section, and every
    // section of the stub keeps its place and bytes.
    ReadBack r = readInstaller(built.bytes);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.files, (std::vector<std::pair<std::string, std::string>>{{"a.txt", "payload"}}));
    StubLayout original, now;
    std::string error;
    ASSERT_TRUE(analyzeStub(before, original, error, /*allowSectionCut=*/true)) << error;
    ASSERT_TRUE(analyzeStub(built.bytes, now, error)) << error;
    EXPECT_EQ(r.pe.containerStart(), now.containerStart);
    ASSERT_EQ(now.sections.size(), original.sections.size() + 1);
    EXPECT_EQ(now.sections.back().name, ".rsrc2");
    for (std::size_t i = 0; i < original.sections.size(); ++i) {
      const SectionInfo& s = original.sections[i];
      EXPECT_EQ(now.sections[i].rawOffset, s.rawOffset);
      EXPECT_TRUE(built.bytes.substr(s.rawOffset, s.rawSize) == before.substr(s.rawOffset, s.rawSize))
          << s.name;
    }
  }
}

TEST(PackSplash, BadSplashEntriesNameTheFieldAndWriteNothing) {
  struct Case {
    const char* splash;
    const char* error;
  };
  const Case cases[] = {
      {R"({"scale": 1, "source": "a.png"})", "splash: expected an array, got object"},
      {R"(["a.png"])", "splash[0]: expected an object, got string"},
      {R"([{"source": "a.png"}])", "splash[0].scale: missing"},
      {R"([{"scale": 1.0}])", "splash[0].source: missing"},
      {R"([{"scale": 1.0, "source": "a.png", "text": "x"}])", "splash[0].text: unknown key"},
      {R"([{"scale": "1.5", "source": "a.png"}])", "splash[0].scale: expected a number, got string"},
      {R"([{"scale": 1.1, "source": "a.png"}])",
       "splash[0].scale: 1.1 is not one of 1.0, 1.25, 1.5 ... 17.0 (steps of 0.25)"},
      {R"([{"scale": 0.75, "source": "a.png"}])",
       "splash[0].scale: 0.75 is not one of 1.0, 1.25, 1.5 ... 17.0 (steps of 0.25)"},
      {R"([{"scale": 17.25, "source": "a.png"}])",
       "splash[0].scale: 17.25 is not one of 1.0, 1.25, 1.5 ... 17.0 (steps of 0.25)"},
      {R"([{"scale": -1e300, "source": "a.png"}])",
       "splash[0].scale: -1e+300 is not one of 1.0, 1.25, 1.5 ... 17.0 (steps of 0.25)"},
      {R"([{"scale": 1.5, "source": "a.png"}, {"scale": 1.50, "source": "a.png"}])",
       "splash[1].scale: duplicate scale 1.5 (also in splash[0])"},
      {R"([{"scale": 1, "source": 1}])", "splash[0].source: expected a string, got an integer"},
      {R"([{"scale": 1, "source": ""}])", "splash[0].source: empty path"},
      {R"([{"scale": 1, "source": "missing.png"}])",
       "splash[0].source: cannot read \"missing.png\": No such file or directory"},
      {R"([{"scale": 1, "source": "dir"}])", "splash[0].source: cannot read \"dir\": not a regular file"},
      {R"([{"scale": 1, "source": "empty.png"}])", "splash[0].source: \"empty.png\" is empty"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.splash);
    ScratchDir dir;
    std::filesystem::create_directory(dir / "dir");
    writeFile(dir / "a.png", "PNG");
    writeFile(dir / "empty.png", "");
    Built built = buildWith(dir, std::string(R"({"splash": )") + c.splash + "}");
    EXPECT_FALSE(built.ok);
    EXPECT_EQ(built.error, std::string("manifest: ") + c.error);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.exe"));
  }
}

TEST(PackSplash, StubsThatCannotTakeTheImagesAreRefused) {
  const std::string stub = readFile(kStub);
  StubLayout layout;
  std::string error;
  ASSERT_TRUE(analyzeStub(stub, layout, error)) << error;
  const uint64_t opt = layout.peOffset + 24;
  const uint64_t tableEnd = opt + layout.optionalHeaderSize + 40 * layout.sections.size();
  const uint64_t resourceEntry = opt + 112 + 8 * 2;  // PE32+ data directory 2
  const uint32_t resourceRva = le32(stub, resourceEntry);
  uint64_t resourceAt = 0;  // file offset of the resource tree's root
  for (std::size_t i = 0; i < layout.sections.size(); ++i) {
    uint64_t header = opt + layout.optionalHeaderSize + 40 * i;
    if (le32(stub, header + 12) == resourceRva) resourceAt = layout.sections[i].rawOffset;
  }
  ASSERT_NE(resourceAt, 0u);
  // root -> first type -> first name -> first language's data entry
  const uint64_t firstType = resourceAt + (le32(stub, resourceAt + 20) & 0x7FFFFFFF);
  const uint64_t firstName = resourceAt + (le32(stub, firstType + 20) & 0x7FFFFFFF);
  const uint64_t firstData = resourceAt + le32(stub, firstName + 20);
  auto patched = [&](uint64_t at, uint32_t value) {
    std::string b = stub;
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(value >> (8 * i));
    return b;
  };
  const std::string prefix = "stub: cannot add the splash images: ";
  struct Case {
    const char* what;
    std::string stub;
    std::string error;
  };
  const Case cases[] = {
      {"headers end at the section table", patched(opt + 60, static_cast<uint32_t>(tableEnd)),
       "no room for another section header: the section table ends at offset " + std::to_string(tableEnd) +
           " and the first section's data (or the end of the headers) is at " + std::to_string(tableEnd)},
      {"bytes after the table in use", patched(tableEnd + 36, 1),
       "no room for another section header: the bytes after the section table (offset " +
           std::to_string(tableEnd) + ") are in use"},
      {"file alignment zero", patched(opt + 36, 0),
       "the section alignment must be a power of two, the file alignment one up to 65536"},
      {"file alignment 128 KiB", patched(opt + 36, 0x20000),
       "the section alignment must be a power of two, the file alignment one up to 65536"},
      {"resource directory outside every section", patched(resourceEntry, 0x7FFF0000),
       "the resource tree cannot be read: resource bytes at RVA 0x7FFF0000 (16 bytes) are not in the file"},
      // The first type's entry points back at the root directory.
      {"directory loop", patched(resourceAt + 16 + 4, 0x80000000u),
       "the resource tree cannot be read: the resource directory at offset 0x0 is referenced twice"},
      {"a data entry's bytes outside every section", patched(firstData, 0x7FFF0000),
       "the resource tree cannot be read: resource bytes at RVA 0x7FFF0000 (" +
           std::to_string(le32(stub, firstData + 4)) + " bytes) are not in the file"},
      {"a data entry larger than the file", patched(firstData + 4, 0x7FFFFFF0),
       "the resource tree cannot be read: the resource tree's entries, names and data add up to more than the "
       "file holds"},
      {"section alignment below the page size", patched(opt + 32, 0x200),
       "the section alignment (512) is below the page size (4096): such an image needs raw offsets equal to "
       "RVAs, which the new section cannot have"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    writeFile(dir / "a.png", "PNG");
    Built built = buildWith(dir, R"({"splash": [{"scale": 1, "source": "a.png"}]})", c.stub);
    EXPECT_FALSE(built.ok);
    EXPECT_EQ(built.error, prefix + c.error);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"a.png", "manifest.json", "stub.exe"}));
  }
}

TEST(PackResourceTree, NamedEntriesStayFirstAndNumberedOnesAscend) {
  auto leaf = [](std::string bytes, uint32_t codePage) {
    auto dir = std::make_unique<ResourceDirectory>();
    ResourceEntry e;
    e.id = 1033;
    e.data = {std::move(bytes), codePage, 7};
    dir->entries.push_back(std::move(e));
    return dir;
  };
  auto entry = [](std::u16string name, uint32_t id, std::unique_ptr<ResourceDirectory> dir) {
    ResourceEntry e;
    e.named = !name.empty();
    e.name = std::move(name);
    e.id = id;
    e.directory = std::move(dir);
    return e;
  };
  ResourceDirectory tree;
  tree.timeDateStamp = 0x12345678;
  auto typeZed = std::make_unique<ResourceDirectory>();
  typeZed->entries.push_back(entry(u"LOGO", 0, leaf("named data", 1252)));
  tree.entries.push_back(entry(u"ZED", 0, std::move(typeZed)));  // names keep their order
  auto typeAlpha = std::make_unique<ResourceDirectory>();
  typeAlpha->entries.push_back(entry({}, 5, leaf("odd", 0)));
  tree.entries.push_back(entry(u"ALPHA", 0, std::move(typeAlpha)));
  auto icons = std::make_unique<ResourceDirectory>();
  icons->entries.push_back(entry({}, 1, leaf(std::string(5, 'i'), 0)));
  tree.entries.push_back(entry({}, 3, std::move(icons)));
  tree.entries.push_back(entry({}, 24, std::make_unique<ResourceDirectory>()));
  setResource(tree, kRtRcdata, 10002, 0, "second");
  setResource(tree, kRtRcdata, 10000, 0, "first");
  setResource(tree, kRtRcdata, 10002, 0, "replaced");

  const uint32_t rva = 0x5000;
  std::string bytes = serializeResourceTree(tree, rva);
  EXPECT_EQ(le32(bytes, 4), 0x12345678u);
  EXPECT_EQ(le32(bytes, 12), 2u | 3u << 16);  // two named entries, three numbered
  std::vector<uint32_t> rootIds;
  for (int i = 2; i < 5; ++i) rootIds.push_back(le32(bytes, 16 + 8 * i));
  EXPECT_EQ(rootIds, (std::vector<uint32_t>{3, 10, 24}));
  uint32_t zedName = le32(bytes, 16) & 0x7FFFFFFF;
  EXPECT_EQ(bytes.substr(zedName, 8), std::string("\3\0Z\0E\0D\0", 8));

  // Read back from an image whose only section holds the bytes: the same tree.
  ResourceDirectory back;
  std::string error;
  ASSERT_TRUE(readResourceTree(bytes, {{rva, uint32_t(bytes.size()), 0, uint32_t(bytes.size())}}, rva,
                               uint32_t(bytes.size()), back, error))
      << error;
  EXPECT_TRUE(serializeResourceTree(back, rva) == bytes);
  const ResourceDirectory& rcdata = *back.entries[3].directory;
  ASSERT_EQ(rcdata.entries.size(), 2u);
  EXPECT_EQ(rcdata.entries[0].id, 10000u);
  EXPECT_EQ(rcdata.entries[1].directory->entries.size(), 1u) << "one language after the replacement";
  const ResourceData& replaced = rcdata.entries[1].directory->entries[0].data;
  EXPECT_EQ(replaced.bytes, "replaced");
  EXPECT_EQ(back.entries[0].directory->entries[0].directory->entries[0].data.codePage, 1252u);
  EXPECT_EQ(back.entries[0].directory->entries[0].name, u"LOGO");
}

// A resource section whose root lists `entries` entries that all share one name of
// `nameLength` units (when named) and one data entry of `dataSize` bytes.
std::string sharedPartsTree(uint32_t entries, bool named, uint32_t nameLength, uint32_t dataSize) {
  auto put = [](std::string& b, uint64_t at, uint64_t v, int width) {
    for (int i = 0; i < width; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
  };
  const uint64_t nameAt = 16 + 8ull * entries, dataEntryAt = (nameAt + 2 + 2ull * nameLength + 3) / 4 * 4;
  std::string b(dataEntryAt + 16 + dataSize, '\0');
  put(b, 12, named ? entries : 0, 2);
  put(b, 14, named ? 0 : entries, 2);
  for (uint32_t i = 0; i < entries; ++i) {
    put(b, 16 + 8ull * i, named ? (0x80000000u | nameAt) : i, 4);
    put(b, 16 + 8ull * i + 4, dataEntryAt, 4);
  }
  put(b, nameAt, nameLength, 2);
  for (uint32_t c = 0; c < nameLength; ++c) put(b, nameAt + 2 + 2 * c, 'N', 2);
  put(b, dataEntryAt, dataEntryAt + 16, 4);  // the section sits at RVA 0
  put(b, dataEntryAt + 4, dataSize, 4);
  return b;
}

TEST(PackResourceTree, PartsUsedMoreThanOnceCannotAddUpToMoreThanTheFile) {
  struct Case {
    const char* what;
    std::string section;
    bool readable;
  };
  const Case cases[] = {
      // Copied per reference, the name alone would take 2000 x 60 KB.
      {"named entries sharing one long name", sharedPartsTree(2000, true, 30000, 0), false},
      {"numbered entries sharing one empty data entry", sharedPartsTree(60000, false, 0, 0), false},
      {"numbered entries sharing one data entry", sharedPartsTree(2000, false, 0, 4000), false},
      {"one named entry, every part used once", sharedPartsTree(1, true, 30000, 4000), true},
      {"one numbered empty data entry", sharedPartsTree(1, false, 0, 0), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const uint32_t size = static_cast<uint32_t>(c.section.size());
    ResourceDirectory tree;
    std::string error;
    bool read = false;
    std::size_t total = 0;
    {
      AllocationProbe probe;
      read = readResourceTree(c.section, {{0, size, 0, size}}, 0, size, tree, error);
      total = probe.total();
    }
    EXPECT_EQ(read, c.readable) << error;
    if (!c.readable)
      EXPECT_EQ(error, "the resource tree's entries, names and data add up to more than the file holds");
    // Entries cost their bookkeeping beyond the 8 bytes they occupy; names and data their size.
    EXPECT_LT(total, 16 * c.section.size());
  }
}

}  // namespace
}  // namespace shipkit::pack::test
