#include "io/KaCPlyWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "base/CbException.h"
#include "io/KaCPlyReader.h"
#include "support/SurfelComparison.h"
#include "support/TestSupport.h"

TEST(KaCPlyWriter, ScalarNamesAndExtraFloatPropertiesAreWritten) {
  const KaCSurfelCollectionCCT c = tolvane_test::MakeCollection(3, eSurfelAttributeSetFull, 5);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float distance[3] = {1.5f, nan, -0.25f};
  const float other[3] = {7.0f, 8.0f, 9.0f};
  const std::vector<KaCPlyWriter::FloatProperty> extra = {{"scalar_distance", distance},
                                                          {"scalar_other", other}};

  const std::string ascii = KaCPlyWriter::WriteBuffer(c, EPlyFormat::eAscii, extra);
  EXPECT_NE(ascii.find("property float scalar_quality\nproperty uchar scalar_tissue\n"
                       "property uchar scalar_boundary\nproperty int scalar_value\n"
                       "property float scalar_distance\nproperty float scalar_other\n"
                       "end_header\n"),
            std::string::npos);
  // The extra values end each row, in order.
  const std::size_t body = ascii.find("end_header\n") + 11;
  std::vector<std::string> rowEnds;
  for (std::size_t p = body; p < ascii.size();) {
    const std::size_t nl = ascii.find('\n', p);
    const std::string row = ascii.substr(p, nl - p);
    const std::size_t cut = row.rfind(' ', row.rfind(' ') - 1);
    rowEnds.push_back(row.substr(cut + 1));
    p = nl + 1;
  }
  EXPECT_EQ(rowEnds, (std::vector<std::string>{"1.5 7", "nan 8", "-0.25 9"}));

  // Binary rows are 37 bytes plus 4 per extra property; the reader skips the extras and keeps
  // every attribute, in both byte orders.
  for (EPlyFormat f : {EPlyFormat::eBinaryLittleEndian, EPlyFormat::eBinaryBigEndian}) {
    const std::string bin = KaCPlyWriter::WriteBuffer(c, f, extra);
    const std::size_t start = bin.find("end_header\n") + 11;
    ASSERT_EQ(bin.size() - start, 3u * (37u + 8u));
    if (f == EPlyFormat::eBinaryLittleEndian) {
      float last = 0.0f;
      std::memcpy(&last, bin.data() + start + 2 * 45 + 37, 4);
      EXPECT_EQ(last, -0.25f);
    }
    tolvane_test::ExpectSameSurfels(c, *KaCPlyReader::ReadBuffer(bin.data(), bin.size(), "m"));
  }

  // Values beyond the int range switch the property to uint, and read back the same.
  KaCSurfelCollectionCCT big(c);
  big.GetAccessor<unsigned int>(eSurfelAttributeValue)[1] = 4294967295u;
  const std::string wide = KaCPlyWriter::WriteBuffer(big, EPlyFormat::eAscii);
  EXPECT_NE(wide.find("property uint scalar_value\n"), std::string::npos);
  tolvane_test::ExpectSameSurfels(big, *KaCPlyReader::ReadBuffer(wide.data(), wide.size(), "m"));

  // Names that would make a broken or ambiguous header are refused before anything is written.
  for (const char* bad : {"", "has space", "scalar_quality", "x"}) {
    std::string written;
    EXPECT_THROW(KaCPlyWriter::Write(c, EPlyFormat::eAscii, {{bad, distance}},
                                     [&](const char* p, std::size_t n) { written.append(p, n); }),
                 CbException)
        << bad;
    EXPECT_TRUE(written.empty());
  }
  EXPECT_THROW(
      (void)KaCPlyWriter::WriteBuffer(c, EPlyFormat::eAscii, {{"a", distance}, {"a", other}}),
      CbException);
}
