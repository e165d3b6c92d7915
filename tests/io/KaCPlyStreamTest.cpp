// Strict rows, trailing data, warnings for values changed to fit, inputs read as streams
// (pipes, FIFOs) whose size is not known in advance, and the progress of reading.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/CbException.h"
#include "io/ByteSource.h"
#include "io/KaCPlyReader.h"
#include "io/KaCPlyWriter.h"
#include "support/SurfelComparison.h"
#include "support/TestSupport.h"

namespace {

const char* const c_asciiXyz =
    "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
    "property float z\nend_header\n";

std::string Problem(const std::string& text) {
  try {
    (void)KaCPlyReader::ReadBuffer(text.data(), text.size(), "m.ply");
  } catch (const CbException& e) {
    return e.GetMessage();
  }
  return "no error";
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

}  // namespace

TEST(KaCPlyReader, AsciiRowsAreLinesAndOnlyWhiteSpaceFollowsTheBody) {
  const std::string xyz = c_asciiXyz;
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
  const KaCSurfelCollectionCCT c = tolvane_test::MakeCollection(5);
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
  const auto c = KaCPlyReader::ReadBuffer(text.data(), text.size(), "m.ply", &contents);
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
  (void)KaCPlyReader::ReadBuffer((bin + zeros + "\x03\x02" + zeros + "\x01\x01").data(),
                                 bin.size() + 28, "m.ply", &contents);
  EXPECT_EQ(contents.vecWarnings,
            std::vector<std::string>{"boundary: 1 row neither 0 nor 1, read as set"});
  EXPECT_EQ(Problem(bin + zeros + std::string("\x03\0", 2) + zeros + std::string("\x04\0", 2)),
            "m.ply: vertex 1: tissue type 4.000000 is not one of 0, 1, 2, 3");
  // A file written by the writer needs no change.
  const std::string clean = KaCPlyWriter::WriteBuffer(tolvane_test::MakeCollection(50));
  (void)KaCPlyReader::ReadBuffer(clean.data(), clean.size(), "m.ply", &contents);
  EXPECT_TRUE(contents.vecWarnings.empty());
}

TEST(KaCPlyReader, PipesAndFifosAreReadToTheirEnd) {
  // Large enough to take many buffer refills, in all three encodings.
  const KaCSurfelCollectionCCT c = tolvane_test::MakeCollection(150000, eSurfelAttributeSetFull, 9);
  tolvane_test::TempDir dir;
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
    tolvane_test::ExpectSameSurfels(c, *fromPipe);
  }
  // A FIFO whose header claims far more rows than arrive: refused as truncated, with memory
  // that grew only with the rows that came.
  const std::string fifo = dir.File("in.ply");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string claim = KaCPlyWriter::WriteBuffer(tolvane_test::MakeCollection(3));
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
  const KaCSurfelCollectionCCT c = tolvane_test::MakeCollection(150000, eSurfelAttributeSetFull, 9);
  const std::string bytes = KaCPlyWriter::WriteBuffer(c);
  tolvane_test::TempDir dir;
  const std::string path = dir.File("p.ply");
  tolvane_test::WriteFile(path, bytes);
  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
  const auto record = [&calls](std::uint64_t nRead, std::uint64_t nTotal) {
    calls.emplace_back(nRead, nTotal);
  };
  tolvane::ByteSource file(path);
  file.SetProgress(record);
  tolvane_test::ExpectSameSurfels(c, *KaCPlyReader::Read(file));
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
