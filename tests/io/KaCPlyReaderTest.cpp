// Round trips, foreign layouts and malformed files; strict rows, trailing data, warnings for
// values changed to fit, inputs read as streams (pipes, FIFOs) whose size is not known in
// advance, and the progress of reading.
#include "io/KaCPlyReader.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/CbException.h"
#include "io/ByteSource.h"
#include "io/KaCPlyWriter.h"
#include "support/SurfelComparison.h"
#include "support/TestSupport.h"

namespace {

using tolvane_test::ExpectSameSurfels;
using tolvane_test::MakeCollection;
using tolvane_test::TempDir;

CbSmartPointer<KaCSurfelCollectionCCT> Read(const std::string& text,
                                            KaCPlyReader::Contents* pContents = nullptr) {
  return KaCPlyReader::ReadBuffer(text.data(), text.size(), "m.ply", pContents);
}

// The message of the error reading the text gives, "no error" when there is none.
std::string Problem(const std::string& text) {
  try {
    (void)Read(text);
  } catch (const CbException& e) {
    return e.GetMessage();
  }
  return "no error";
}

std::string LittleEndianFloats(std::initializer_list<float> values) {
  std::string s;
  for (float f : values) s.append(reinterpret_cast<const char*>(&f), 4);
  return s;
}

// Writes text into the write end of a pipe from another thread, in small pieces, and closes it.
std::thread Feed(int fd, std::string text) {
  return std::thread([fd, text = std::move(text)] {
    for (std::size_t at = 0; at < text.size();) {
      const ssize_t n =
          ::write(fd, text.data() + at, std::min<std::size_t>(text.size() - at, 7777));
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    ::close(fd);
  });
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
    EXPECT_EQ(problem.rfind("m.ply: ", 0), 0u) << problem;
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

TEST(KaCPlyReader, AsciiRowsAreLinesAndOnlyWhiteSpaceFollowsTheBody) {
  const std::string xyz =
      "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
      "property float z\nend_header\n";
  // Blank lines and trailing blanks are fine.
  EXPECT_EQ(Problem(xyz + "1 2 3\n\n 4 5 6 \r\n7 8 9\n \n\n"), "no error");
  EXPECT_EQ(Problem(xyz + "1 2 3\n4 5 6\n7 8 9"), "no error");
  // One extra value is caught on its own line instead of shifting every later row.
  EXPECT_EQ(Problem(xyz + "1 2 3\n4 5 6 0\n7 8 9\n"),
            "m.ply: line 9: 'vertex' row 1 has 4 values, more than its element declares (3)");
  EXPECT_EQ(Problem(xyz + "1 2 3\n4 5\n6 7 8 9\n"),
            "m.ply: line 9: 'vertex' row 1 has 2 values, fewer than its element declares");
  EXPECT_EQ(Problem(xyz + "1 2 3\n4 5 6\n7 8 9\n10 11 12\n"),
            "m.ply: line 11: data after the last element '10 11 12'");
  EXPECT_EQ(Problem(xyz + "1 2 3\n4 5 6\n7 8 9\n\n#\n"),
            "m.ply: line 12: data after the last element '#'");

  // Binary bodies: white space may follow, anything else may not.
  const KaCSurfelCollectionCCT c = MakeCollection(5);
  for (EPlyFormat f : {EPlyFormat::eBinaryLittleEndian, EPlyFormat::eBinaryBigEndian}) {
    const std::string bin = KaCPlyWriter::WriteBuffer(c, f);
    EXPECT_EQ(Problem(bin + "\n \n"), "no error");
    EXPECT_EQ(Problem(bin + "\n\x01"),
              "m.ply: data after the last element, at byte " + std::to_string(bin.size() + 1));
    EXPECT_NE(Problem(bin.substr(0, bin.size() - 1)).find("'vertex' rows"), std::string::npos);
  }
}

TEST(KaCPlyReader, ValuesChangedToFitAreReported) {
  const std::string text =
      "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\nproperty float y\n"
      "property float z\nproperty float red\nproperty float green\nproperty float blue\n"
      "property short boundary\nproperty double scalar_value\nproperty int scalar_tissue\n"
      "end_header\n"
      "0 0 0 -0.5 0 1 0 7 0\n"
      "0 0 0 0.5 2 nan 1 -3 1\n"
      "0 0 0 1.5 1 0 2 1.5 2\n"
      "0 0 0 1 1 1 -1 5e9 3\n";
  KaCPlyReader::Contents contents;
  const auto c = Read(text, &contents);
  EXPECT_EQ(
      contents.vecWarnings,
      (std::vector<std::string>{
          "red: 2 rows out of range, clamped to 0..1", "green: 1 row out of range, clamped to 0..1",
          "blue: 1 row out of range, clamped to 0..1",
          "boundary: 2 rows neither 0 nor 1, read as set",
          "scalar_value: 3 rows not an integer in 0..4294967295, clamped and truncated"}));
  // The clamped values themselves are as documented.
  EXPECT_EQ(c->GetColor(0), KaCCompressedColor(0, 0, 255));
  EXPECT_EQ(c->GetColor(1), KaCCompressedColor(128, 255, 0));
  const auto values = c->GetAccessor<unsigned int>(eSurfelAttributeValue);
  EXPECT_EQ(values[1], 0u);
  EXPECT_EQ(values[2], 1u);
  EXPECT_EQ(values[3], 4294967295u);
  EXPECT_EQ(c->GetTissueTypeAccessor()[3], 3);
  EXPECT_TRUE(c->GetBoundaryFlagAccessor()[3]);
  // The same rules on the direct binary path for byte-sized tissue and boundary.
  const std::string bin =
      "ply\nformat binary_little_endian 1.0\nelement vertex 2\nproperty float x\n"
      "property float y\nproperty float z\nproperty uchar tissue\nproperty uchar boundary\n"
      "end_header\n";
  const std::string zeros(12, '\0');
  (void)Read(bin + zeros + "\x03\x02" + zeros + "\x01\x01", &contents);
  EXPECT_EQ(contents.vecWarnings,
            std::vector<std::string>{"boundary: 1 row neither 0 nor 1, read as set"});
  EXPECT_EQ(Problem(bin + zeros + std::string("\x03\0", 2) + zeros + std::string("\x04\0", 2)),
            "m.ply: vertex 1: tissue type 4.000000 is not one of 0, 1, 2, 3");
  // A file written by the writer needs no change.
  const std::string clean = KaCPlyWriter::WriteBuffer(MakeCollection(50));
  (void)Read(clean, &contents);
  EXPECT_TRUE(contents.vecWarnings.empty());
}

TEST(KaCPlyReader, PipesAndFifosAreReadToTheirEnd) {
  // Large enough to take many buffer refills, in all three encodings.
  const KaCSurfelCollectionCCT c = MakeCollection(150000, eSurfelAttributeSetFull, 9);
  TempDir dir;
  for (EPlyFormat f :
       {EPlyFormat::eAscii, EPlyFormat::eBinaryLittleEndian, EPlyFormat::eBinaryBigEndian}) {
    SCOPED_TRACE(GetPlyFormatName(f));
    const std::string bytes = KaCPlyWriter::WriteBuffer(c, f);
    // A pipe, named the way process substitution names it.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::thread writer = Feed(fds[1], bytes);
    const auto fromPipe = KaCPlyReader::ReadFile("/dev/fd/" + std::to_string(fds[0]));
    writer.join();
    ::close(fds[0]);
    ExpectSameSurfels(c, *fromPipe);
  }
  // A FIFO whose header claims far more rows than arrive: refused as truncated, with memory
  // that grew only with the rows that came.
  const std::string fifo = dir.File("in.ply");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string claim = KaCPlyWriter::WriteBuffer(MakeCollection(3));
  claim.replace(claim.find("element vertex 3"), 16, "element vertex 4000000000");
  std::thread writer([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    if (fd >= 0) Feed(fd, claim).join();
  });
  try {
    (void)KaCPlyReader::ReadFile(fifo);
    ADD_FAILURE() << "no error";
  } catch (const CbException& e) {
    EXPECT_EQ(e.GetMessage(), fifo + ": body truncated in 'vertex' row 3");
  }
  writer.join();
}

TEST(ByteSource, ProgressComesOncePerRefillUpToTheSize) {
  const KaCSurfelCollectionCCT c = MakeCollection(150000, eSurfelAttributeSetFull, 9);
  const std::string bytes = KaCPlyWriter::WriteBuffer(c);
  TempDir dir;
  const std::string path = dir.File("p.ply");
  tolvane_test::WriteFile(path, bytes);
  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
  const auto record = [&calls](std::uint64_t nRead, std::uint64_t nTotal) {
    calls.emplace_back(nRead, nTotal);
  };
  tolvane::ByteSource file(path);
  file.SetProgress(record);
  ExpectSameSurfels(c, *KaCPlyReader::Read(file));
  // Refills of about 1 MiB, never a call per row; the last one has seen every byte.
  ASSERT_GE(calls.size(), bytes.size() >> 20);
  EXPECT_LE(calls.size(), (bytes.size() >> 20) + 3);
  for (std::size_t k = 0; k < calls.size(); ++k) {
    EXPECT_EQ(calls[k].second, bytes.size());
    if (k > 0) {
      EXPECT_GE(calls[k].first, calls[k - 1].first);
    }
  }
  EXPECT_EQ(calls.back().first, bytes.size());

  // A pipe's size is unknown; bytes in memory report nothing.
  calls.clear();
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::thread writer = Feed(fds[1], bytes);
  {
    tolvane::ByteSource pipe("/dev/fd/" + std::to_string(fds[0]));
    pipe.SetProgress(record);
    (void)KaCPlyReader::Read(pipe);
  }
  writer.join();
  ::close(fds[0]);
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back(), std::make_pair(std::uint64_t{bytes.size()}, UINT64_MAX));
  calls.clear();
  tolvane::ByteSource memory(bytes.data(), bytes.size(), "m.ply");
  memory.SetProgress(record);
  (void)KaCPlyReader::Read(memory);
  EXPECT_TRUE(calls.empty());
}
