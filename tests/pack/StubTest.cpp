// Where the container goes in the stub, what of the stub is kept, and which stubs are
// refused.
#include <gtest/gtest.h>

#include "PackTestSupport.h"
#include "pack/PeStub.h"

namespace shipkit::pack::test {
namespace {

constexpr const char* kManifest = R"({"files": [{"name": "a", "text": "A"}]})";

TEST(PackStub, ContainerStartsAtTheEndOfTheLastSectionInTheTable) {
  struct Case {
    const char* what;
    std::vector<SectionShape> sections;
    uint64_t start;
  };
  const Case cases[] = {
      {"sections in file order", {{".text", 0x200, 0x200}, {".data", 0x400, 0x100}}, 0x500},
      // The first section has the highest offset but no raw data.
      {"last listed is not the highest offset",
       {{".bss", 0x900, 0}, {".text", 0x200, 0x200}, {".rsrc", 0x400, 0x200}},
       0x600},
      {"single section", {{".text", 0x400, 0x80}}, 0x480},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    PeShape shape;
    shape.sections = c.sections;
    std::string stub = makePe(shape);
    stub.resize(0x1000, '\x7E');  // an overlay past every section
    Built built = buildWith(dir, kManifest, stub);
    ASSERT_TRUE(built.ok) << built.error;
    EXPECT_EQ(le32(built.bytes, c.start), payload::kContainerMagic);
    EXPECT_EQ(built.bytes.substr(0x100, c.start - 0x100), stub.substr(0x100, c.start - 0x100));
    ReadBack r = readInstaller(built.bytes);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.pe.containerStart(), c.start);
    // The container follows the image directly and runs to the end: the overlay is gone.
    EXPECT_EQ(c.start + 20 + uint64_t(r.header.checksummedLength), built.bytes.size());
  }
}

TEST(PackStub, SectionCutOnlyWhenAllowed) {
  PeShape shape;
  shape.sections = {{".reloc", 0x600, 0x200}, {".rsrc", 0x400, 0x200}};  // table order != file order
  std::string stub = makePe(shape);
  StubLayout layout;
  std::string error;
  EXPECT_FALSE(analyzeStub(stub, layout, error));
  EXPECT_EQ(error,
            "section .reloc has raw data up to offset 2048, past the end of the last section in "
            "the table (1536); the container would overwrite it");
  ASSERT_TRUE(analyzeStub(stub, layout, error, /*allowSectionCut=*/true)) << error;
  EXPECT_EQ(layout.containerStart, 0x600u);
  EXPECT_EQ(prepareStub(stub, layout).size(), 0x600u);
}

TEST(PackStub, UnstrippedStubLosesItsSymbolTable) {
  PeShape shape;  // image ends at 0x600
  shape.symbolTable = 0x600;
  shape.symbolCount = 3;
  shape.tail = std::string(54, 'S') + "string table";
  std::string stub = makePe(shape);
  ScratchDir dir;
  Built built = buildWith(dir, kManifest, stub);
  ASSERT_TRUE(built.ok) << built.error;
  EXPECT_EQ(le32(built.bytes, kPeOffset + 12), 0u);  // PointerToSymbolTable
  EXPECT_EQ(le32(built.bytes, kPeOffset + 16), 0u);  // NumberOfSymbols
  EXPECT_EQ(built.bytes.find("string table"), std::string::npos);
  EXPECT_EQ(le32(built.bytes, 0x600), payload::kContainerMagic);
  // Everything else of the image is unchanged.
  std::string expected = stub.substr(0, 0x600);
  expected.replace(kPeOffset + 12, 8, 8, '\0');
  EXPECT_TRUE(built.bytes.substr(0, 0x600) == expected);
}

TEST(PackStub, CertificateDirectoryIsCleared) {
  for (bool pe32Plus : {true, false}) {
    SCOPED_TRACE(pe32Plus ? "PE32+" : "PE32");
    PeShape shape;
    shape.pe32Plus = pe32Plus;
    shape.certificateOffset = 0x600;
    shape.certificateSize = 0x20;
    shape.tail = std::string(0x20, 'C');
    std::string stub = makePe(shape);
    ScratchDir dir;
    Built built = buildWith(dir, kManifest, stub);
    ASSERT_TRUE(built.ok) << built.error;
    EXPECT_EQ(le64(built.bytes, dataDirectoryOffset(shape, 4)), 0u);
    for (int d : {3, 5})  // neighbours keep their values
      EXPECT_EQ(le64(built.bytes, dataDirectoryOffset(shape, d)), le64(stub, dataDirectoryOffset(shape, d)));
    EXPECT_EQ(built.bytes.find(std::string(0x20, 'C')), std::string::npos);
  }
}

TEST(PackStub, InvalidStubsAreRefusedAndNothingIsWritten) {
  auto patched = [](uint64_t at, std::string bytes) {
    std::string pe = makePe({});
    pe.replace(at, bytes.size(), bytes);
    return pe;
  };
  PeShape noSections;
  noSections.sections = {};
  PeShape beyond;
  beyond.sections = {{".text", 0x200, 0x200}};
  PeShape inHeaders;
  inHeaders.sections = {{".text", 0x200, 0x200}, {".zero", 0, 0}};
  struct Case {
    const char* what;
    std::string stub;
    std::string error;
  };
  const Case cases[] = {
      {"empty file", "", "stub: not a PE executable (no MZ header)"},
      {"no MZ", patched(0, "ZM"), "stub: not a PE executable (no MZ header)"},
      {"PE offset past the end", patched(60, std::string("\xF0\xFF\0\0", 4)),
       "stub: not a PE executable (no PE signature at offset 65520)"},
      {"wrong PE signature", patched(kPeOffset, "NE"),
       "stub: not a PE executable (no PE signature at offset 64)"},
      {"no sections", makePe(noSections), "stub: the PE image has no sections"},
      {"section table past the end", makePe({}).substr(0, 0x150),
       "stub: the section table (2 sections at offset 328) extends past the end of the file"},
      {"last section past the end", makePe(beyond).substr(0, 0x300),
       "stub: the last section (.text) ends at offset 1024 but the file has only 768 bytes"},
      {"container inside the headers", makePe(inHeaders),
       "stub: the last section (.zero) ends at offset 0, inside the PE headers (which end at "
       "408)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    Built built = buildWith(dir, kManifest, c.stub);
    EXPECT_FALSE(built.ok);
    EXPECT_EQ(built.error, c.error);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"manifest.json", "stub.exe"}));
  }
}

}  // namespace
}  // namespace shipkit::pack::test
