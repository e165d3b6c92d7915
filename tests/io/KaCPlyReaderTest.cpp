#include "io/KaCPlyReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/CbException.h"
#include "io/KaCPlyWriter.h"
#include "support/TestSupport.h"
#include "support/SurfelComparison.h"

namespace {

using tolvane_test::ExpectSameSurfels;
using tolvane_test::MakeCollection;
using tolvane_test::TempDir;

CbSmartPointer<KaCSurfelCollectionCCT> Read(const std::string& text,
                                            KaCPlyReader::Contents* pContents = nullptr) {
  return KaCPlyReader::ReadBuffer(text.data(), text.size(), "mem.ply", pContents);
}

// The problem reported for a malformed file (the message after "name: ").
std::string Problem(const std::string& text) {
  try {
    (void)Read(text);
  } catch (const CbException& e) {
    EXPECT_EQ(e.GetMessage().rfind("mem.ply: ", 0), 0u) << e.GetMessage();
    return e.GetMessage();
  }
  ADD_FAILURE() << "no error for:\n" << text.substr(0, 400);
  return {};
}

std::string LittleEndianFloats(std::initializer_list<float> values) {
  std::string s;
  for (float f : values) s.append(reinterpret_cast<const char*>(&f), 4);
  return s;
}

const char* const c_xyzHeader =
    "ply\nformat binary_little_endian 1.0\nelement vertex 2\n"
    "property float x\nproperty float y\nproperty float z\nend_header\n";

}  // namespace

TEST(KaCPlyReader, RoundTripKeepsEveryAttributeInAllThreeEncodings) {
  // Every normal code once, including the octant rims where the nearest-code search alone
  // would not find the code back, plus extreme coordinates and qualities.
  KaCSurfelCollectionCCT c = MakeCollection(65536 + 4, eSurfelAttributeSetFull, 7);
  auto normals = c.GetNormalAccessor();
  auto pos = c.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  for (unsigned int i = 0; i < 65536; ++i) normals[i] = static_cast<unsigned short>(i);
  pos[65536] = CbVector3f(1e-30f, -3.4028235e38f, 0.1f);
  c.GetQualityAccessor().Set(65537, -0.0f);
  c.GetQualityAccessor().Set(65538, 1e-7f);
  TempDir dir;
  for (EPlyFormat f :
       {EPlyFormat::eAscii, EPlyFormat::eBinaryLittleEndian, EPlyFormat::eBinaryBigEndian}) {
    SCOPED_TRACE(GetPlyFormatName(f));
    const std::string path = dir.File(std::string(GetPlyFormatName(f)) + ".ply");
    KaCPlyWriter::WriteFile(c, path, f);
    KaCPlyReader::Contents contents;
    const auto back = KaCPlyReader::ReadFile(path, &contents);
    EXPECT_EQ(contents.eFormat, f);
    EXPECT_TRUE(contents.bNormals && contents.bColors && contents.bQualities &&
                contents.bTissueTypes && contents.bBoundaryFlags && contents.bValues);
    ExpectSameSurfels(c, *back);
  }
  // A compact collection's packed qualities come back as the same fractions.
  const KaCSurfelCollectionCCT compact = MakeCollection(300, eSurfelAttributeSetCompact, 3);
  ExpectSameSurfels(compact, *Read(KaCPlyWriter::WriteBuffer(compact)));
  EXPECT_EQ(Read(KaCPlyWriter::WriteBuffer(KaCSurfelCollectionCCT(0)))->GetNrSurfels(), 0u);
}

TEST(KaCPlyReader, ForeignLayoutsAreMappedAndTheRestSkipped) {
  // Doubles, scaled colours, the scalar_quality name other point-cloud tools write, and list
  // elements before and after the vertices; the alpha, a vertex list property and comments are
  // skipped.
  const std::string ascii =
      "ply\r\nformat ascii 1.0\r\ncomment made by hand\r\nobj_info x\r\n"
      "element face 2\r\nproperty list uchar int vertex_indices\r\n"
      "element vertex 3\r\nproperty double z\r\nproperty double y\r\nproperty double x\r\n"
      "property list uchar float extra\r\n"
      "property float nx\r\nproperty float ny\r\nproperty float nz\r\n"
      "property ushort red\r\nproperty ushort green\r\nproperty ushort blue\r\n"
      "property uchar alpha\r\nproperty float scalar_quality\r\n"
      "element edge 1\r\nproperty int a\r\nproperty int b\r\nend_header\r\n"
      "3 0 1 2\n4 0 1 2 0\n"
      "3 2 1 0 0 0 -1 65535 32768 0 7 0.25\n"
      "+6 5 4 2 1.5 2.5 0 0 0 257 0 65535 1 0.5\n"
      "9 8 7 1 1 0 2 0 0 0 0 0 1\n"
      "0 1\n";
  KaCPlyReader::Contents contents;
  const auto c = Read(ascii, &contents);
  ASSERT_EQ(c->GetNrSurfels(), 3u);
  EXPECT_EQ(c->GetPosition(0), CbVector3f(1, 2, 3));
  EXPECT_EQ(c->GetPosition(1), CbVector3f(4, 5, 6));
  EXPECT_EQ(c->GetNormal(0), KaCNormalCodec::Decode(KaCNormalCodec::Encode({0, 0, -1})));
  EXPECT_TRUE(KaCNormalCodec::IsUnset(c->GetNormalAccessor()[1]));
  EXPECT_EQ(c->GetColor(0), KaCCompressedColor(255, 128, 0));
  EXPECT_EQ(c->GetColor(1), KaCCompressedColor(1, 0, 255));
  EXPECT_EQ(c->GetQualityAccessor()[1], 0.5f);
  EXPECT_TRUE(contents.bQualities && !contents.bTissueTypes && !contents.bValues);
  // Defaults for what the file lacks.
  EXPECT_EQ(c->GetTissueTypeAccessor()[2], 0);

  // Float colours are 0..1; quality wins over scalar_quality; tissue, boundary read as bytes.
  const std::string big =
      "ply\nformat binary_big_endian 1.0\nelement vertex 1\n"
      "property float x\nproperty float y\nproperty float z\n"
      "property float red\nproperty float green\nproperty float blue\n"
      "property float scalar_quality\nproperty float quality\n"
      "property uchar tissue\nproperty uchar boundary\nend_header\n";
  std::string body;
  for (float f : {1.0f, 2.0f, 3.0f, 1.0f, 0.5f, -2.0f, 0.9f, 0.25f}) {
    unsigned char b[4];
    std::memcpy(b, &f, 4);
    body.append({static_cast<char>(b[3]), static_cast<char>(b[2]), static_cast<char>(b[1]),
                 static_cast<char>(b[0])});
  }
  body += "\x03\x01";
  const auto d = Read(big + body);
  EXPECT_EQ(d->GetPosition(0), CbVector3f(1, 2, 3));
  EXPECT_EQ(d->GetColor(0), KaCCompressedColor(255, 128, 0));
  EXPECT_EQ(d->GetQualityAccessor()[0], 0.25f);
  EXPECT_EQ(d->GetTissueTypeAccessor()[0], 3);
  EXPECT_TRUE(d->GetBoundaryFlagAccessor()[0]);
}

TEST(KaCPlyReader, MalformedFilesGiveAClearError) {
  const std::string xyz = c_xyzHeader;
  const std::string twoVertices = LittleEndianFloats({1, 2, 3, 4, 5, 6});
  ASSERT_EQ(Read(xyz + twoVertices)->GetNrSurfels(), 2u);  // the valid base of the variants

  const struct {
    std::string text;
    const char* problem;
  } cases[] = {
      {"", "empty file"},
      {"PLY\n", "not a PLY file"},
      {"solid cube\nfacet normal 0 0 1\n", "not a PLY file"},
      {"ply\nformat binary_middle_endian 1.0\nelement vertex 0\nproperty float x\nend_header\n",
       "unknown format 'binary_middle_endian'"},
      {"ply\nformat ascii 2.0\nend_header\n", "unsupported PLY version"},
      {"ply\nelement vertex 1\nproperty float x\nproperty float y\nproperty float z\nend_header\n"
       "1 2 3\n",
       "no format line"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n", "without end_header"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\nend_header\n"
       "1 2\n",
       "lacks property 'z'"},
      {"ply\nformat ascii 1.0\nelement face 0\nproperty list uchar int i\nend_header\n",
       "no vertex element"},
      {"ply\nformat ascii 1.0\nelement vertex -1\nend_header\n", "bad count '-1'"},
      {"ply\nformat ascii 1.0\nproperty float x\nend_header\n", "property before any element"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty half x\nend_header\n",
       "unknown property type 'half'"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty list float int x\nend_header\n",
       "bad list count type"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
       "property float z\nproperty float x\nend_header\n1 2 3 4\n",
       "duplicate vertex property 'x'"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
       "property float z\nproperty float nx\nend_header\n1 2 3 4\n",
       "only part of nx ny nz"},
      {"ply\nformat ascii 1.0\nbogus line\nend_header\n", "unknown keyword 'bogus'"},
      // Claims beyond the body: checked before anything is allocated.
      {"ply\nformat binary_little_endian 1.0\nelement vertex 4000000000\nproperty float x\n"
       "property float y\nproperty float z\nend_header\n" +
           twoVertices,
       "header claims 4000000000 'vertex' rows"},
      {"ply\nformat ascii 1.0\nelement vertex 3000000000\nproperty float x\nproperty float y\n"
       "property float z\nend_header\n1 2 3\n",
       "header claims 3000000000 'vertex' rows"},
      {"ply\nformat binary_little_endian 1.0\nelement vertex 9000000000\nproperty float x\n"
       "property float y\nproperty float z\nend_header\n",
       "too many vertices"},
      {"ply\nformat binary_little_endian 1.0\nelement vertex 2\nproperty float x\n"
       "property float y\nproperty float z\nelement face 18446744073709551615\n"
       "property list uchar int i\nend_header\n" +
           twoVertices,
       "header claims 18446744073709551615 'face' rows"},
      // Truncated bodies.
      {xyz + twoVertices.substr(0, 23), "header claims 2 'vertex' rows"},
      {"ply\nformat binary_little_endian 1.0\nelement vertex 2\nproperty float x\n"
       "property float y\nproperty float z\nelement face 1\nproperty list uchar int i\n"
       "end_header\n" +
           twoVertices + "\x03\x01\x00\x00\x00",
       "body truncated in 'face' row 0"},
      {"ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\n"
       "property float z\nend_header\n1.0 2.0 3.0\n4.0 5.0\n",
       "line 9: 'vertex' row 1 has 2 values, fewer than its element declares"},
      {"ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\n"
       "property float z\nend_header\n1.0 2.0 3.0\n",
       "line 9: body ends in 'vertex' row 1 of 2"},
      // Values that do not parse or do not fit.
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
       "property float z\nend_header\n1 2 zz\n",
       "bad number 'zz'"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
       "property float z\nproperty uchar red\nproperty uchar green\nproperty uchar blue\n"
       "end_header\n1 2 3 300 0 0\n",
       "value '300' does not fit its type"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
       "property float z\nproperty uchar tissue\nend_header\n1 2 3 4\n",
       "tissue type 4"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
       "property float z\nend_header\n1 nan 3\n",
       "position is not finite"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
       "property float z\nelement face 1\nproperty list char int i\nend_header\n1 2 3\n-1\n",
       "negative list length"},
  };
  for (const auto& c : cases) {
    const std::string problem = Problem(c.text);
    EXPECT_NE(problem.find(c.problem), std::string::npos)
        << "expected '" << c.problem << "' in '" << problem << "'";
    EXPECT_EQ(problem.find('\n'), std::string::npos) << problem;
  }
  // A header without end_header within the first MiB.
  EXPECT_NE(Problem("ply\nformat ascii 1.0\ncomment " + std::string(1 << 20, 'a') + "\n")
                .find("no end_header within the first 1 MiB"),
            std::string::npos);
}

TEST(KaCPlyReader, FileErrorsNameTheFile) {
  TempDir dir;
  try {
    (void)KaCPlyReader::ReadFile(dir.File("missing.ply"));
    FAIL();
  } catch (const CbException& e) {
    EXPECT_EQ(e.GetMessage(), dir.File("missing.ply") + ": cannot open: No such file or directory");
  }
  EXPECT_THROW((void)KaCPlyReader::ReadFile(dir.Path()), CbException);
}
