// The analyzer's fast paths (fused k-means sweeps, radix-sorted outlier removal, refits of the
// changed plane only) against a straightforward path kept here: on seeded scans every plane,
// centre, cluster, text and line must agree to the bit.
#include <tolvane/KaCCalibrationPhantomCCTAnalyzer.h>
#include "synth/PhantomScanGenerator.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "container/KaCNormalCodec.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "geometry/KaCCorrMath.h"
#include "phantom/DistanceKeySort.h"
#include "phantom/KaCPlaneDistanceKernel.h"
#include "tests/phantom/AnalyzerProbe.h"

namespace {

using Probe = KaCCalibrationPhantomCCTAnalyzerProbe;
using tolvane::DistanceKeySort;

// Ascending, NaN after every number, equal keys in insertion order (with a stable sort).
bool KeyLess(const std::pair<float, unsigned int>& a, const std::pair<float, unsigned int>& b) {
  return a.first < b.first || (!std::isnan(a.first) && std::isnan(b.first));
}

// ---- The straightforward path: one stage after the other, as plainly as they read. ----------

void PlainEstimatePlanes(Probe& probe, Probe::Collection c, const Probe::Clusters& clusters) {
  const auto positions = c->GetAccessor<CbVector3f>(eSurfelAttributePosition);
  for (size_t i = 0; i < clusters.size(); ++i) {
    float sx = 0.0f, sy = 0.0f, sz = 0.0f;
    for (unsigned int s : clusters[i]) {
      sx += positions[s].x;
      sy += positions[s].y;
      sz += positions[s].z;
    }
    const float fInv = 1.0f / static_cast<float>(clusters[i].size());
    const CbVector3f m(sx * fInv, sy * fInv, sz * fInv);
    double packed[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    for (unsigned int s : clusters[i]) {
      const float dx = positions[s].x - m.x;
      const float dy = positions[s].y - m.y;
      const float dz = positions[s].z - m.z;
      packed[0] += static_cast<double>(dx * dx);
      packed[1] += static_cast<double>(dx * dy);
      packed[2] += static_cast<double>(dy * dy);
      packed[3] += static_cast<double>(dx * dz);
      packed[4] += static_cast<double>(dz * dy);
      packed[5] += static_cast<double>(dz * dz);
    }
    double vectors[9], values[3];
    KaCCorrMath::semi_definite_symmetric(packed, 3, vectors, values);
    const CbVector3f n(static_cast<float>(vectors[6]), static_cast<float>(vectors[7]),
                       static_cast<float>(vectors[8]));
    probe.Planes()[i] = CyPlane(n, m);
    probe.Centers()[i] = m;
  }
}

void PlainDistribute(Probe& probe, Probe::Collection c, Probe::Clusters& clusters) {
  KaCPlaneDistanceKernel::AssignToNearestPlanesInBlocks(*c, probe.Planes().data(),
                                                        probe.Planes().size(), clusters);
}

// Returns the number of passes that changed the clusters.
size_t PlainKMeans(Probe& probe) {
  Probe::Clusters& clusters = probe.ClustersOf();
  for (size_t n = 0;;) {
    const Probe::Clusters previous = clusters;
    for (auto& cluster : clusters) cluster.clear();
    PlainDistribute(probe, probe.Clustering(), clusters);
    PlainEstimatePlanes(probe, probe.Clustering(), clusters);
    if (clusters == previous || ++n >= 100) return n;
  }
}

void PlainRemoveOutliers(Probe& probe, Probe::Collection c, Probe::Clusters& clusters) {
  const auto positions = c->GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const Probe::Clusters source = clusters;
  for (int iPass = 0; iPass < 3; ++iPass) {
    for (size_t i = 0; i < source.size(); ++i) {
      std::vector<std::pair<float, unsigned int>> entries;
      for (unsigned int s : source[i]) {
        entries.emplace_back(probe.Planes()[i].GetDistance(positions[s]), s);
      }
      std::stable_sort(entries.begin(), entries.end(), KeyLess);
      clusters[i].clear();
      const auto nKeep = static_cast<std::uint64_t>(static_cast<float>(entries.size()) * 0.85f);
      for (const auto& e : entries) {
        if (clusters[i].size() > nKeep) break;
        clusters[i].push_back(e.second);
      }
      PlainEstimatePlanes(probe, c, clusters);
    }
  }
}

// The whole analysis up to the measurement, through the stages above. Returns the number of
// k-means iterations of the last restart.
size_t PlainCompute(KaCCalibrationPhantomCCTAnalyzer& a) {
  Probe probe(a);
  float fBest = 0.0f;
  std::vector<CyPlane> planes;
  std::vector<CbVector3f> centers;
  size_t nIterations = 0;
  for (int iRestart = 0; iRestart < 3; ++iRestart) {
    probe.InitPlanes();
    nIterations = PlainKMeans(probe);
    const float e = a.GetAverageError(probe.Clustering());
    if (iRestart == 0 || fBest > e) {
      fBest = e;
      planes = probe.Planes();
      centers = probe.Centers();
    }
  }
  probe.Planes() = planes;
  probe.Centers() = centers;
  for (auto& cluster : probe.ClustersOf()) cluster.clear();
  PlainDistribute(probe, probe.Samples(), probe.ClustersOf());
  PlainRemoveOutliers(probe, probe.Samples(), probe.ClustersOf());
  const CbVector3f n = probe.AverageNormal();
  probe.Sort(CbVector3f(0.0f - n.x, 0.0f - n.y, 0.0f - n.z), 0, 6, probe.ClustersOf());
  probe.Sort(CbVector3f(0.0f, 1.0f, 0.0f), 1, 2, probe.ClustersOf());
  probe.Sort(CbVector3f(1.0f, 0.0f, 0.0f), 3, 4, probe.ClustersOf());
  probe.Measure();
  return nIterations;
}

bool SameBits(const CbVector3f& a, const CbVector3f& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

void ExpectSameAnalysis(KaCCalibrationPhantomCCTAnalyzer& fast,
                        KaCCalibrationPhantomCCTAnalyzer& plain, size_t nPlainIterations) {
  Probe f(fast), p(plain);
  ASSERT_EQ(f.Planes().size(), p.Planes().size());
  for (size_t i = 0; i < f.Planes().size(); ++i) {
    EXPECT_TRUE(SameBits(f.Planes()[i].GetNormal(), p.Planes()[i].GetNormal())) << "plane " << i;
    EXPECT_TRUE(SameBits(f.Planes()[i].GetPoint(), p.Planes()[i].GetPoint())) << "plane " << i;
    EXPECT_TRUE(SameBits(f.Centers()[i], p.Centers()[i])) << "centre " << i;
    EXPECT_TRUE(f.ClustersOf()[i] == p.ClustersOf()[i]) << "cluster " << i;
  }
  EXPECT_EQ(f.Iterations(), nPlainIterations);
  ASSERT_EQ(fast.GetLines().size(), plain.GetLines().size());
  for (size_t k = 0; k < fast.GetLines().size(); ++k) {
    EXPECT_TRUE(SameBits(fast.GetLines()[k], plain.GetLines()[k])) << "line point " << k;
  }
  EXPECT_EQ(fast.GetDepthStatistics(), plain.GetDepthStatistics());
  EXPECT_EQ(fast.GetShearingStatistics(), plain.GetShearingStatistics());
  EXPECT_EQ(fast.GetWidthStatistics(), plain.GetWidthStatistics());
  EXPECT_EQ(fast.GetHeightStatistics(), plain.GetHeightStatistics());
}

}  // namespace

TEST(DistanceKeySort, OrdersLikeAStableComparisonSort) {
  std::mt19937 rng(7);
  const float fNaN = std::numeric_limits<float>::quiet_NaN();
  const float fInf = std::numeric_limits<float>::infinity();
  const float specials[] = {
      0.0f, -0.0f, fNaN, -fNaN, fInf, -fInf, 1e-45f, -1e-45f, std::numeric_limits<float>::max()};
  // Below and above the comparison-sort cut-off; coarse keys give long runs of equal keys,
  // keys of one binade share the high digits, which the sort then skips.
  for (const size_t n : {size_t{0}, size_t{1}, size_t{200}, size_t{5000}, size_t{200000}}) {
    for (int iKind = 0; iKind < 3; ++iKind) {
      std::uniform_real_distribution<float> uniform(-3.0f, 3.0f);
      std::uniform_int_distribution<int> coarse(-40, 40);
      std::uniform_real_distribution<float> binade(1.0f, 2.0f);
      std::uniform_int_distribution<size_t> pick(0, 20);
      std::vector<std::pair<float, unsigned int>> plain;
      std::vector<DistanceKeySort::Entry> entries, scratch;
      for (size_t k = 0; k < n; ++k) {
        float f = iKind == 0   ? uniform(rng)
                  : iKind == 1 ? static_cast<float>(coarse(rng)) * 0.25f
                               : binade(rng);
        const size_t s = pick(rng);
        if (s < std::size(specials)) f = specials[s];
        plain.emplace_back(f, static_cast<unsigned int>(k));
        entries.push_back({DistanceKeySort::OrderedKey(f), static_cast<unsigned int>(k)});
      }
      std::stable_sort(plain.begin(), plain.end(), KeyLess);
      DistanceKeySort::Sort(entries, scratch);
      ASSERT_EQ(entries.size(), n);
      for (size_t k = 0; k < n; ++k) {
        ASSERT_EQ(entries[k].nIndex, plain[k].second) << "n " << n << " kind " << iKind;
      }
    }
  }
}

// Seeded scans of several sizes, noise levels and normal scatter, with the clustering run on the
// scan itself or on a thinned copy of it; the rand() state is the same for both paths.
TEST(KaCCalibrationPhantomCCTAnalyzer, FastPathGivesTheBitsOfThePlainPath) {
  struct Case {
    unsigned int nSurfels;
    float fNoise;
    float fNormalNoise;
    unsigned int nSeed;
    unsigned int nThin;  // clustering on every nThin-th surfel (1: the scan itself)
  };
  const Case cases[] = {{20000, 0.0f, 2.0f, 1, 1},
                        {60000, 0.01f, 2.0f, 2, 1},
                        {60000, 0.02f, 10.0f, 3, 1},
                        {150000, 0.01f, 2.0f, 4, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.nSurfels << " surfels, seed " << c.nSeed);
    tolvane::synth::PhantomScanGenerator::Parameters prm = ScanParameters(c.nSurfels, c.fNoise);
    prm.fNormalNoiseDegrees = c.fNormalNoise;
    prm.nSeed = c.nSeed;
    const Probe::Collection scan = tolvane::synth::PhantomScanGenerator(prm).Generate();
    Probe::Collection clustering = scan;
    if (c.nThin > 1) {
      const unsigned int n = c.nSurfels / c.nThin;
      CbSmartPointer<KaCSurfelCollectionCCT> thin(new KaCSurfelCollectionCCT(n));
      for (unsigned int i = 0; i < n; ++i) {
        thin->SetPosition(i, scan->GetPosition(i * c.nThin));
        thin->SetNormal(i, scan->GetNormal(i * c.nThin));
      }
      clustering = thin;
    }
    KaCCalibrationPhantomCCTAnalyzer fast(clustering, scan, 7);
    KaCCalibrationPhantomCCTAnalyzer plain(clustering, scan, 7);
    std::srand(c.nSeed);
    (void)fast.Compute();
    std::srand(c.nSeed);
    const size_t nIterations = PlainCompute(plain);
    ExpectSameAnalysis(fast, plain, nIterations);
  }
}

// Every normal code, positions spread over a few millimetres, a length that leaves a partial
// last block; planes that tie (a duplicate), one with a NaN normal and one through a sample.
TEST(KaCPlaneDistanceKernel, AngleRowsAssignLikeTheBlockLoop) {
  const unsigned int n = 65536 + 4000 + 37;
  CbSmartPointer<KaCSurfelCollectionCCT> c(new KaCSurfelCollectionCCT(n));
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> coordinate(-4.0f, 4.0f);
  auto codes = c->GetNormalAccessor();
  for (unsigned int s = 0; s < n; ++s) {
    c->SetPosition(s, CbVector3f(coordinate(rng), coordinate(rng), coordinate(rng)));
    codes[s] = static_cast<unsigned short>(s < 65536 ? s : rng() & 0xFFFFu);
  }
  const float fNaN = std::numeric_limits<float>::quiet_NaN();
  std::vector<CyPlane> planes;
  for (int j = 0; j < 5; ++j) {
    const CbVector3f normal = CbVector3f(coordinate(rng), coordinate(rng), coordinate(rng));
    planes.emplace_back(normal.Normalized(), CbVector3f(coordinate(rng), 0.0f, 0.0f));
  }
  planes.push_back(planes[2]);
  planes.emplace_back(CbVector3f(fNaN, 0.0f, 1.0f), CbVector3f());
  planes.emplace_back(c->GetNormal(100), c->GetPosition(100));
  for (const size_t nPlanes : {size_t{1}, size_t{7}, size_t{8}}) {
    Probe::Clusters fast(nPlanes), blocks(nPlanes);
    KaCPlaneDistanceKernel::AssignToNearestPlanes(*c, planes.data(), nPlanes, fast);
    KaCPlaneDistanceKernel::AssignToNearestPlanesInBlocks(*c, planes.data(), nPlanes, blocks);
    EXPECT_TRUE(fast == blocks) << nPlanes << " planes";
  }
}

// A row's term is the distance loop's value for a sample on the plane (distance +0) in a whole
// block, bit for bit, also for codes in the padded last vector of the rows.
TEST(KaCPlaneDistanceKernel, AngleRowTermsAreTheDistanceLoopsTerms) {
  const unsigned int n = 20000;  // enough for the rows; 1003 distinct codes, not a multiple of 8
  CbSmartPointer<KaCSurfelCollectionCCT> c(new KaCSurfelCollectionCCT(n));
  auto codes = c->GetNormalAccessor();
  for (unsigned int s = 0; s < n; ++s) codes[s] = static_cast<unsigned short>((s % 1003) * 65u);
  const CyPlane plane(CbVector3f(0.6f, -0.48f, 0.64f), CbVector3f(1.0f, 2.0f, 3.0f));
  KaCPlaneDistanceKernel::AngleRows rows(*c);
  rows.Fill(&plane, 1);
  std::vector<float> px(256, 1.0f), py(256, 2.0f), pz(256, 3.0f), mx(256), my(256), mz(256);
  std::vector<float> d(256);
  for (unsigned int first = 0; first < 1003; first += 256) {
    for (unsigned int k = 0; k < 256; ++k) {
      const CbVector3f m = KaCNormalCodec::Decode(codes[(first + k) % 1003]);
      mx[k] = m.x, my[k] = m.y, mz[k] = m.z;
    }
    KaCPlaneDistanceKernel::Distances(px.data(), py.data(), pz.data(), mx.data(), my.data(),
                                      mz.data(), 256, plane, d.data());
    for (unsigned int k = 0; k < 256; ++k) {
      const float fRow = rows.Row(codes[(first + k) % 1003])[0];
      ASSERT_EQ(std::memcmp(&fRow, &d[k], sizeof fRow), 0) << "code " << codes[(first + k) % 1003];
    }
  }
}
