#include <tolvane/KaCCalibrationPhantomCCTAnalyzer.h>

#include <tolvane/KaCMpFtColorCode.h>
#include <tolvane/PhantomGeometry.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <limits>
#include <memory>
#include <numeric>
#include <string>
#include <utility>

#include "base/CbArray.h"
#include "base/CbException.h"
#include "container/KaCNormalCodec.h"
#include "container/KaSurfelAttributes.h"
#include "geometry/CyLine.h"
#include "geometry/CyProcrustes.h"
#include "geometry/CyTransformation.h"
#include "geometry/KaCCorrMath.h"
#include "phantom/DistanceKeySort.h"
#include "phantom/KaCPlaneDistanceKernel.h"
#include "phantom/PlaneFit.h"

namespace {

constexpr float c_fLargestFloat = std::numeric_limits<float>::max();

// Seconds of processor time since t0: the tick difference as a 32-bit integer, converted to
// milliseconds, then scaled by 0.001f.
float SecondsSince(std::clock_t t0) {
  const auto ticks = static_cast<std::int32_t>(std::clock() - t0);
  const float ms = static_cast<float>(ticks) * (1000.0f / static_cast<float>(CLOCKS_PER_SEC));
  return ms * 0.001f;
}

// A uniformly drawn index below nRange (nRange >= 1) from rand(). Two draws are combined when
// the range is wider than one draw, and the top partial bucket is rejected so that no index is
// favoured.
unsigned int RandomBelow(unsigned int nRange) {
  const std::uint64_t span = static_cast<std::uint64_t>(RAND_MAX) + 1u;
  if (nRange <= span) {
    const std::uint64_t limit = span - span % nRange;
    for (;;) {
      const auto r = static_cast<std::uint64_t>(std::rand());
      if (r < limit) return static_cast<unsigned int>(r % nRange);
    }
  }
  const std::uint64_t span2 = span * span;
  const std::uint64_t limit = span2 - span2 % nRange;
  for (;;) {
    const std::uint64_t r =
        static_cast<std::uint64_t>(std::rand()) * span + static_cast<std::uint64_t>(std::rand());
    if (r < limit) return static_cast<unsigned int>(r % nRange);
  }
}

// Ascending keys with NaN after every number, so that sorting stays well defined when a plane
// has degenerated; stable sorting keeps equal keys in insertion order.
template <class Pair>
bool KeyLess(const Pair& a, const Pair& b) {
  return a.first < b.first || (!std::isnan(a.first) && std::isnan(b.first));
}

std::wstring FormatWide(const wchar_t* pFormat, ...) {
  std::wstring text(256, L'\0');
  for (;;) {
    std::va_list args;
    va_start(args, pFormat);
    const int n = std::vswprintf(text.data(), text.size(), pFormat, args);
    va_end(args);
    if (n >= 0 && static_cast<std::size_t>(n) < text.size()) {
      text.resize(static_cast<std::size_t>(n));
      return text;
    }
    if (text.size() > 65536) {
      throw CbException("KaCCalibrationPhantomCCTAnalyzer::MeasurePhantom", __FILE__, __LINE__,
                        "statistics text cannot be formatted");
    }
    text.resize(text.size() * 4);
  }
}

CbVector3f Negated(const CbVector3f& a) { return {0.0f - a.x, 0.0f - a.y, 0.0f - a.z}; }

// The plane fit of count positions, read in order through pointAt(k).
template <class PointAt>
std::pair<CyPlane, CbVector3f> FitPlane(std::size_t nCount, PointAt pointAt) {
  tolvane::PlaneFit::Sums sums;
  for (std::size_t k = 0; k < nCount; ++k) sums.Add(pointAt(k));
  const CbVector3f centroid = tolvane::PlaneFit::Centroid(sums, nCount);
  tolvane::PlaneFit::Scatter scatter;
  for (std::size_t k = 0; k < nCount; ++k) scatter.Add(pointAt(k), centroid);
  return {tolvane::PlaneFit::Plane(scatter, centroid), centroid};
}

// The cluster of every sample of a collection of nSamples, when the clusters (at most 256) hold
// every sample exactly once, each cluster in increasing order; empty otherwise.
std::vector<unsigned char> LabelsOfPartition(const std::vector<std::vector<unsigned int>>& clusters,
                                             unsigned int nSamples) {
  std::vector<unsigned char> labels;
  if (clusters.size() > 256 || nSamples == 0) return labels;
  size_t nTotal = 0;
  for (const auto& cluster : clusters) nTotal += cluster.size();
  if (nTotal != nSamples) return labels;
  labels.assign(nSamples, 0);
  std::vector<bool> seen(nSamples, false);
  for (size_t j = 0; j < clusters.size(); ++j) {
    const std::vector<unsigned int>& cluster = clusters[j];
    for (size_t k = 0; k < cluster.size(); ++k) {
      const unsigned int s = cluster[k];
      if (s >= nSamples || seen[s] || (k > 0 && cluster[k - 1] >= s)) return {};
      seen[s] = true;
      labels[s] = static_cast<unsigned char>(j);
    }
  }
  return labels;
}

}  // namespace

KaCCalibrationPhantomCCTAnalyzer::KaCCalibrationPhantomCCTAnalyzer(
    CbSmartPointer<const KaCSurfelCollectionCCT> pClusteringSamples,
    CbSmartPointer<const KaCSurfelCollectionCCT> pSamples, size_t nNrPlanes)
    : m_nNrPlanes(nNrPlanes),
      m_pClusteringSamples(std::move(pClusteringSamples)),
      m_pSamples(std::move(pSamples)),
      m_vecPlanes(nNrPlanes),
      m_vecCenters(nNrPlanes),
      m_vecClusters(nNrPlanes),
      m_nNrIterations(0),
      m_fInitializationDuration(0.0f),
      m_fOverallDuration(0.0f) {
  if (!m_pClusteringSamples || !m_pSamples || nNrPlanes == 0) {
    throw CbException("KaCCalibrationPhantomCCTAnalyzer::KaCCalibrationPhantomCCTAnalyzer",
                      __FILE__, __LINE__,
                      "the analyzer needs two collections and at least one plane");
  }
}

KaCCalibrationPhantomCCTAnalyzer::KaCCalibrationPhantomCCTAnalyzer(
    const KaCCalibrationPhantomCCTAnalyzer& other) = default;

KaCCalibrationPhantomCCTAnalyzer::KaCCalibrationPhantomCCTAnalyzer(
    KaCCalibrationPhantomCCTAnalyzer&& other) noexcept
    : m_nNrPlanes(other.m_nNrPlanes),
      m_pClusteringSamples(std::move(other.m_pClusteringSamples)),
      m_pSamples(std::move(other.m_pSamples)),
      m_vecPlanes(std::move(other.m_vecPlanes)),
      m_vecCenters(std::move(other.m_vecCenters)),
      m_vecClusters(std::move(other.m_vecClusters)),
      m_nNrIterations(other.m_nNrIterations),
      m_fInitializationDuration(other.m_fInitializationDuration),
      m_fOverallDuration(other.m_fOverallDuration),
      m_strDepthStatistics(other.m_strDepthStatistics),
      m_strShearingStatistics(other.m_strShearingStatistics),
      m_strWidthStatistics(other.m_strWidthStatistics),
      m_strHeightStatistics(other.m_strHeightStatistics),
      m_vecLines(std::move(other.m_vecLines)) {
  // A moved-from vector is only guaranteed valid; the source is documented to be empty.
  other.m_vecPlanes.clear();
  other.m_vecCenters.clear();
  other.m_vecClusters.clear();
  other.m_vecLines.clear();
}

KaCCalibrationPhantomCCTAnalyzer::~KaCCalibrationPhantomCCTAnalyzer() = default;

// ---------------------------------------------------------------------------------------------
// Driver

CbSmartPointer<KaCSurfelCollectionCCT> KaCCalibrationPhantomCCTAnalyzer::Compute() {
  const char* pFunction = "KaCCalibrationPhantomCCTAnalyzer::Compute";
  if (!m_pClusteringSamples || !m_pSamples) {
    throw CbException(pFunction, __FILE__, __LINE__, "the analyzer holds no collections");
  }
  if (m_nNrPlanes < 7 || m_vecPlanes.size() != m_nNrPlanes) {
    throw CbException(
        pFunction, __FILE__, __LINE__,
        "the phantom has seven faces: " + std::to_string(m_nNrPlanes) + " planes are too few");
  }

  float fBestError = 0.0f;
  std::vector<CyPlane> bestPlanes;
  std::vector<CbVector3f> bestCenters;
  for (int iRestart = 0; iRestart < 3; ++iRestart) {
    const std::clock_t t0 = std::clock();
    InitPlanes();
    m_fInitializationDuration += SecondsSince(t0);
    ComputeKMeansClustering();
    m_fOverallDuration += SecondsSince(t0);
    const float e = GetAverageError(m_pClusteringSamples);
    // A tie or a NaN keeps the earlier restart.
    if (iRestart == 0 || fBestError > e) {
      fBestError = e;
      bestPlanes = m_vecPlanes;
      bestCenters = m_vecCenters;
    }
  }
  m_vecPlanes = std::move(bestPlanes);
  m_vecCenters = std::move(bestCenters);

  ClearClusters(m_vecClusters);
  DistributeSamplesToClusters(m_pSamples, m_vecClusters);
  RemoveOutliers(0.85f, m_pSamples, m_vecClusters);

  const CbVector3f direction = Negated(GetAverageNormal());
  SortPlanes(direction, 0, 6, m_vecClusters);
  SortPlanes(CbVector3f(0.0f, 1.0f, 0.0f), 1, 2, m_vecClusters);
  SortPlanes(CbVector3f(1.0f, 0.0f, 0.0f), 3, 4, m_vecClusters);

  MeasurePhantom();

  // Colour value i + 1 for the samples of plane i, 0 for the outliers. Beyond the fifteenth
  // plane the values simply go on counting.
  std::vector<float> values(m_pSamples->GetNrSurfels(), 0.0f);
  for (size_t i = 0; i < m_vecClusters.size(); ++i) {
    const auto fValue = static_cast<float>(i + 1);
    for (unsigned int s : m_vecClusters[i]) values[s] = fValue;
  }
  CbSmartPointer<KaCSurfelCollectionCCT> spResult(new KaCSurfelCollectionCCT(*m_pSamples, false));
  {
    // A null coder: the filter uses the shared default coder, set to the range 0 to planes.
    CbSmartPointer<KaIFtSurfelCollection> spColorCode(
        new KaCMpFtColorCode(0.0f, static_cast<float>(m_nNrPlanes), values, nullptr, 1));
    (*spColorCode)(*spResult);
  }
  return spResult;
}

// ---------------------------------------------------------------------------------------------
// Clustering

float KaCCalibrationPhantomCCTAnalyzer::GetDistanceToCluster(size_t i, const CbVector3f& position,
                                                             const CbVector3f& normal) {
  const CyPlane& plane = m_vecPlanes[i];
  const float dist = plane.GetDistance(position);
  const CbVector3f& n = plane.GetNormal();
  const float c = (normal.x * n.x + normal.y * n.y) + normal.z * n.z;
  return std::acos(std::fabs(c)) / 3.1415927f * 0.5f + std::fabs(dist);
}

float KaCCalibrationPhantomCCTAnalyzer::GetDistanceToCluster(
    size_t i, CbSmartPointer<const KaCSurfelCollectionCCT> pSamples, unsigned int nSample) {
  const auto positions = pSamples->GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto normals = pSamples->GetNormalAccessor();
  return GetDistanceToCluster(i, positions[nSample], KaCNormalCodec::Decode(normals[nSample]));
}

void KaCCalibrationPhantomCCTAnalyzer::DistributeSamplesToClusters(
    CbSmartPointer<const KaCSurfelCollectionCCT> pSamples,
    std::vector<std::vector<unsigned int>>& clusters) {
  if (clusters.size() < m_nNrPlanes || m_vecPlanes.size() < m_nNrPlanes) {
    throw CbException("KaCCalibrationPhantomCCTAnalyzer::DistributeSamplesToClusters", __FILE__,
                      __LINE__, "fewer clusters or planes than the analyzer's planes");
  }
  KaCPlaneDistanceKernel::AssignToNearestPlanes(*pSamples, m_vecPlanes.data(), m_nNrPlanes,
                                                clusters);
}

void KaCCalibrationPhantomCCTAnalyzer::ClearClusters(
    std::vector<std::vector<unsigned int>>& clusters) {
  for (auto& cluster : clusters) cluster.clear();
}

void KaCCalibrationPhantomCCTAnalyzer::ComputeKMeansClustering() {
  m_nNrIterations = 0;
  if (m_nNrPlanes > KaCPlaneDistanceKernel::c_nMaxFusedPlanes ||
      m_vecClusters.size() != m_nNrPlanes || m_vecPlanes.size() != m_nNrPlanes) {
    // The clusters before each pass; swapping in the storage of the pass before last avoids a
    // copy per pass.
    std::vector<std::vector<unsigned int>> previous = m_vecClusters;
    for (;;) {
      previous.swap(m_vecClusters);
      ClearClusters(m_vecClusters);
      DistributeSamplesToClusters(m_pClusteringSamples, m_vecClusters);
      EstimatePlanes(m_pClusteringSamples, m_vecClusters);
      if (m_vecClusters == previous) break;
      if (++m_nNrIterations >= 100) break;
    }
    return;
  }
  // Between the passes the clusters are one byte per sample, its plane. A pass assigns and
  // refits every plane in two sweeps: the position sums are taken while assigning, the scatter
  // by each sample's plane, both in each cluster's order, so the planes are those of
  // EstimatePlanes. Two passes give equal clusters exactly when every sample keeps its plane;
  // index lists are built only to compare the first pass with the clusters held before the
  // call, and at the end.
  KaCPlaneDistanceKernel::KMeansSweeps sweeps(*m_pClusteringSamples, m_nNrPlanes);
  std::vector<tolvane::PlaneFit::Sums> sums;
  std::vector<tolvane::PlaneFit::Scatter> scatter;
  std::vector<size_t> counts;
  bool bListed = false;
  for (bool bFirst = true;; bFirst = false) {
    sums.assign(m_nNrPlanes, {});
    scatter.assign(m_nNrPlanes, {});
    counts.assign(m_nNrPlanes, 0);
    sweeps.Assign(m_vecPlanes.data(), sums.data(), counts.data());
    for (size_t j = 0; j < m_nNrPlanes; ++j) {
      m_vecCenters[j] = tolvane::PlaneFit::Centroid(sums[j], counts[j]);
    }
    sweeps.AddScatter(m_vecCenters.data(), scatter.data());
    for (size_t j = 0; j < m_nNrPlanes; ++j) {
      m_vecPlanes[j] = tolvane::PlaneFit::Plane(scatter[j], m_vecCenters[j]);
    }
    bool bSame = false;
    if (bFirst) {
      std::vector<std::vector<unsigned int>> previous(m_nNrPlanes);
      previous.swap(m_vecClusters);
      sweeps.GetClusters(m_vecClusters);
      bSame = m_vecClusters == previous;
      bListed = true;
    } else {
      bSame = sweeps.SameAsPreviousPass();
      bListed = false;
    }
    if (bSame) break;
    if (++m_nNrIterations >= 100) break;
  }
  if (!bListed) sweeps.GetClusters(m_vecClusters);
}

// ---------------------------------------------------------------------------------------------
// Plane estimation and outliers

void KaCCalibrationPhantomCCTAnalyzer::EstimatePlane(
    CbSmartPointer<const KaCSurfelCollectionCCT> pSamples, const std::vector<unsigned int>& cluster,
    size_t i) {
  const auto positions = pSamples->GetAccessor<CbVector3f>(eSurfelAttributePosition);
  auto fit = FitPlane(cluster.size(), [&](size_t k) { return positions[cluster[k]]; });
  m_vecPlanes[i] = fit.first;
  m_vecCenters[i] = fit.second;
}

void KaCCalibrationPhantomCCTAnalyzer::EstimatePlanes(
    CbSmartPointer<const KaCSurfelCollectionCCT> pSamples,
    const std::vector<std::vector<unsigned int>>& clusters) {
  for (size_t i = 0; i < clusters.size(); ++i) EstimatePlane(pSamples, clusters[i], i);
}

float KaCCalibrationPhantomCCTAnalyzer::GetAverageError(
    size_t i, CbSmartPointer<const KaCSurfelCollectionCCT> pSamples) {
  if (!pSamples) pSamples = m_pSamples;
  if (!pSamples) {
    throw CbException("KaCCalibrationPhantomCCTAnalyzer::GetAverageError", __FILE__, __LINE__,
                      "no collection to measure against");
  }
  const auto positions = pSamples->GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const CyPlane& plane = m_vecPlanes[i];
  const std::vector<unsigned int>& cluster = m_vecClusters[i];
  float fSum = 0.0f;
  for (unsigned int s : cluster) fSum += std::fabs(plane.GetDistance(positions[s]));
  return fSum / static_cast<float>(cluster.size());
}

float KaCCalibrationPhantomCCTAnalyzer::GetAverageError(
    CbSmartPointer<const KaCSurfelCollectionCCT> pSamples) {
  const CbSmartPointer<const KaCSurfelCollectionCCT> pCollection = pSamples ? pSamples : m_pSamples;
  if (pCollection && m_vecPlanes.size() >= m_vecClusters.size()) {
    // When the clusters split the collection, each in increasing order, one sweep in sample
    // order adds every plane's distances in its cluster's order, instead of a gather per plane.
    const std::vector<unsigned char> labels =
        LabelsOfPartition(m_vecClusters, pCollection->GetNrSurfels());
    if (!labels.empty()) {
      const auto positions = pCollection->GetAccessor<CbVector3f>(eSurfelAttributePosition);
      std::vector<float> sums(m_vecClusters.size(), 0.0f);
      for (unsigned int s = 0; s < labels.size(); ++s) {
        const unsigned char j = labels[s];
        sums[j] += std::fabs(m_vecPlanes[j].GetDistance(positions[s]));
      }
      float fSum = 0.0f;
      for (size_t i = 0; i < m_vecClusters.size(); ++i) {
        fSum += sums[i] / static_cast<float>(m_vecClusters[i].size());
      }
      return fSum / static_cast<float>(m_vecClusters.size());
    }
  }
  float fSum = 0.0f;
  for (size_t i = 0; i < m_vecClusters.size(); ++i) fSum += GetAverageError(i, pSamples);
  return fSum / static_cast<float>(m_vecClusters.size());
}

void KaCCalibrationPhantomCCTAnalyzer::RemoveOutliers(
    float fFraction, CbSmartPointer<const KaCSurfelCollectionCCT> pSamples,
    std::vector<std::vector<unsigned int>>& clusters) {
  const auto positions = pSamples->GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const std::vector<std::vector<unsigned int>> source = clusters;
  std::vector<tolvane::DistanceKeySort::Entry> entries;
  std::vector<tolvane::DistanceKeySort::Entry> scratch;
  std::vector<CbVector3f> gathered;
  std::vector<CbVector3f> kept;
  // Every refit of all planes after a cluster is cleaned changes only that cluster's plane: a
  // plane fitted to a cluster that has not changed since comes out the same. So the first
  // refit fits every plane, and each later one only the plane of the cluster just cleaned.
  std::vector<bool> fitted(clusters.size(), false);
  for (int iPass = 0; iPass < 3; ++iPass) {
    for (size_t i = 0; i < source.size(); ++i) {
      const CyPlane& plane = m_vecPlanes[i];
      const std::vector<unsigned int>& from = source[i];
      // The entries carry the place k in the source cluster; the positions are gathered once,
      // in the source's increasing order, so that the kept ones are then read from a compact
      // array rather than from all over the collection.
      entries.resize(from.size());
      gathered.resize(from.size());
      for (size_t k = 0; k < from.size(); ++k) {
        const CbVector3f& p = positions[from[k]];
        gathered[k] = p;
        entries[k] = {tolvane::DistanceKeySort::OrderedKey(plane.GetDistance(p)),
                      static_cast<unsigned int>(k)};
      }
      // In the order of a multimap that puts equal keys after the existing ones.
      tolvane::DistanceKeySort::Sort(entries, scratch);
      std::vector<unsigned int>& cluster = clusters[i];
      cluster.clear();
      kept.clear();
      const auto nKeep = static_cast<std::uint64_t>(static_cast<float>(entries.size()) * fFraction);
      for (size_t r = 0; r < entries.size(); ++r) {
        if (cluster.size() > nKeep) break;
        if (r + 16 < entries.size()) {
          __builtin_prefetch(&gathered[entries[r + 16].nIndex]);
          __builtin_prefetch(&from[entries[r + 16].nIndex]);
        }
        const unsigned int k = entries[r].nIndex;
        cluster.push_back(from[k]);
        kept.push_back(gathered[k]);
      }
      const auto fit = FitPlane(kept.size(), [&kept](size_t k) { return kept[k]; });
      m_vecPlanes[i] = fit.first;
      m_vecCenters[i] = fit.second;
      fitted[i] = true;
      for (size_t j = 0; j < clusters.size(); ++j) {
        if (!fitted[j]) EstimatePlane(pSamples, clusters[j], j);
        fitted[j] = true;
      }
    }
  }
}

CbVector3f KaCCalibrationPhantomCCTAnalyzer::GetAverageNormal() {
  const auto normals = m_pClusteringSamples->GetNormalAccessor();
  const CbVector3f* pTable = KaCNormalCodec::GetTable();
  CbVector3f s(0.0f, 0.0f, 0.0f);
  for (unsigned int i = 0; i < m_pClusteringSamples->GetNrSurfels(); ++i) {
    const CbVector3f& n = pTable[normals[i]];
    s.x += n.x;
    s.y += n.y;
    s.z += n.z;
  }
  const float q = (s.y * s.y + s.x * s.x) + s.z * s.z;
  if (!(q > 1.1754944e-38f)) return {0.0f, 0.0f, 0.0f};
  const float fLength = std::sqrt(q);
  return {s.x / fLength, s.y / fLength, s.z / fLength};
}

// ---------------------------------------------------------------------------------------------
// Initialisation and ordering

void KaCCalibrationPhantomCCTAnalyzer::InitPlanes() {
  const unsigned int nSurfels = m_pClusteringSamples->GetNrSurfels();
  if (nSurfels < m_nNrPlanes) return;
  const auto positions = m_pClusteringSamples->GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto normals = m_pClusteringSamples->GetNormalAccessor();
  const CbVector3f* pTable = KaCNormalCodec::GetTable();

  std::vector<unsigned int> list(nSurfels);
  std::iota(list.begin(), list.end(), 0u);

  float fBestScore = 0.0f;
  bool bKept = false;
  std::vector<CyPlane> keptPlanes;
  std::vector<CbVector3f> keptCenters;
  for (unsigned int nAttempt = 0;;) {
    // A partial Fisher-Yates shuffle: the first m_nNrPlanes positions become a uniform choice
    // of distinct samples, whatever order the list was left in by the attempt before.
    for (size_t i = 0; i < m_nNrPlanes; ++i) {
      const size_t j = i + RandomBelow(static_cast<unsigned int>(nSurfels - i));
      std::swap(list[i], list[j]);
    }
    for (size_t i = 0; i < m_nNrPlanes; ++i) {
      const CbVector3f& p = positions[list[i]];
      m_vecPlanes[i] = CyPlane(pTable[normals[list[i]]], p);
      m_vecCenters[i] = p;
    }
    float fScore = c_fLargestFloat;
    for (size_t i = 1; i < m_nNrPlanes; ++i) {
      for (size_t j = 0; j < i; ++j) {
        const float d = GetDistanceToCluster(i, positions[list[j]], pTable[normals[list[j]]]);
        if (d < fScore) fScore = d;
      }
    }
    if (fScore > fBestScore) {
      fBestScore = fScore;
      keptPlanes = m_vecPlanes;
      keptCenters = m_vecCenters;
      bKept = true;
    }
    if (fBestScore > 0.5f) break;
    if (++nAttempt >= 1000) break;
  }
  // When no attempt scored above 0 the planes of the last attempt stay.
  if (bKept) {
    m_vecPlanes = std::move(keptPlanes);
    m_vecCenters = std::move(keptCenters);
  }
}

void KaCCalibrationPhantomCCTAnalyzer::InitPlanes2() {
  if (m_nNrPlanes < 7) {
    throw CbException("KaCCalibrationPhantomCCTAnalyzer::InitPlanes2", __FILE__, __LINE__,
                      "the shape-based initialisation needs seven planes");
  }
  const CbVector3f a = GetAverageNormal();
  const CbVector3f minusA = Negated(a);
  const auto positions = m_pClusteringSamples->GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto normals = m_pClusteringSamples->GetNormalAccessor();
  const CbVector3f* pTable = KaCNormalCodec::GetTable();

  std::vector<std::pair<float, unsigned int>> facing;
  std::vector<unsigned int> buckets[4];
  const CbVector3f directions[4] = {
      {1.0f, 0.0f, 0.0f}, {-1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, -1.0f, 0.0f}};
  for (unsigned int i = 0; i < m_pClusteringSamples->GetNrSurfels(); ++i) {
    const CbVector3f& n = pTable[normals[i]];
    if (n.Dot(a) > 0.985f) {
      facing.emplace_back(minusA.Dot(positions[i]), i);
      continue;
    }
    float fBest = -c_fLargestFloat;
    int iBucket = 0;
    for (int b = 0; b < 4; ++b) {
      const float d = directions[b].Dot(n);
      if (d > fBest) {
        fBest = d;
        iBucket = b;
      }
    }
    buckets[iBucket].push_back(i);
  }
  std::stable_sort(facing.begin(), facing.end(), KeyLess<std::pair<float, unsigned int>>);

  // Without facing samples planes 0, 5 and 6 have nothing to start from and stay as they are.
  if (!facing.empty()) {
    const auto c = static_cast<float>(facing.size());
    const std::pair<size_t, float> picks[3] = {{0, 0.16666667f}, {5, 0.6666667f}, {6, 0.9166667f}};
    for (const auto& pick : picks) {
      const auto k = static_cast<size_t>(c * pick.second);
      m_vecPlanes[pick.first] = CyPlane(a, positions[facing[k].second]);
    }
  }
  for (size_t j = 0; j < 4; ++j) EstimatePlane(m_pClusteringSamples, buckets[j], j + 1);
}

void KaCCalibrationPhantomCCTAnalyzer::SortPlanes(
    const CbVector3f& direction, size_t first, size_t last,
    std::vector<std::vector<unsigned int>>& clusters) {
  if (first > last) return;
  if (last >= m_nNrPlanes || clusters.size() < m_nNrPlanes) {
    throw CbException("KaCCalibrationPhantomCCTAnalyzer::SortPlanes", __FILE__, __LINE__,
                      "plane range beyond the analyzer's planes");
  }
  std::vector<std::pair<float, size_t>> keys;
  for (size_t i = first; i <= last; ++i) keys.emplace_back(m_vecCenters[i].Dot(direction), i);
  std::stable_sort(keys.begin(), keys.end(), KeyLess<std::pair<float, size_t>>);

  std::vector<CyPlane> planes;
  std::vector<CbVector3f> centers;
  std::vector<std::vector<unsigned int>> moved;
  for (const auto& key : keys) {
    planes.push_back(m_vecPlanes[key.second]);
    centers.push_back(m_vecCenters[key.second]);
    moved.push_back(std::move(clusters[key.second]));
  }
  for (size_t k = 0; k < keys.size(); ++k) {
    m_vecPlanes[first + k] = planes[k];
    m_vecCenters[first + k] = centers[k];
    clusters[first + k] = std::move(moved[k]);
  }
}

void KaCCalibrationPhantomCCTAnalyzer::SortPlanes(
    const CbVector3f& normal, std::vector<std::vector<unsigned int>>& clusters) {
  SortPlanes(Negated(normal), 0, 6, clusters);
  SortPlanes(CbVector3f(0.0f, 1.0f, 0.0f), 1, 2, clusters);
  SortPlanes(CbVector3f(1.0f, 0.0f, 0.0f), 3, 4, clusters);
}

// ---------------------------------------------------------------------------------------------
// Measurement

namespace {

CbVector3f NominalCorner(int k) {
  const double* c = tolvane::phantom::c_nominalCorners[k];
  return {static_cast<float>(c[0]), static_cast<float>(c[1]), static_cast<float>(c[2])};
}

}  // namespace

void KaCCalibrationPhantomCCTAnalyzer::MeasurePhantom() {
  const std::vector<CyPlane>& p = m_vecPlanes;
  CyLine l01, l02, l04, l51, l52, l54;
  // A failed intersection leaves its line empty, and an empty line gives no corner: such a
  // corner stays NaN, which carries through to the values and texts.
  (void)p[0].Intersect(p[1], l01);
  (void)p[0].Intersect(p[2], l02);
  (void)p[0].Intersect(p[4], l04);
  (void)p[5].Intersect(p[1], l51);
  (void)p[5].Intersect(p[2], l52);
  (void)p[5].Intersect(p[4], l54);

  const float fNaN = std::numeric_limits<float>::quiet_NaN();
  CbVector3f corners[8];
  for (CbVector3f& c : corners) c = CbVector3f(fNaN, fNaN, fNaN);
  CbVector3f& A = corners[0];
  CbVector3f& B = corners[1];
  CbVector3f& C = corners[2];
  CbVector3f& D = corners[3];
  CbVector3f& E = corners[4];
  CbVector3f& F = corners[5];
  CbVector3f& G = corners[6];
  CbVector3f& H = corners[7];
  (void)p[3].Intersect(l01, A);
  (void)p[4].Intersect(l01, B);
  (void)p[3].Intersect(l02, C);
  (void)p[2].Intersect(l04, D);
  (void)p[3].Intersect(l51, E);
  (void)p[4].Intersect(l51, F);
  (void)p[3].Intersect(l52, G);
  (void)p[2].Intersect(l54, H);

  CbArray<CbVector3f> measured;
  CbArray<CbVector3f> nominal;
  for (int k = 0; k < 8; ++k) {
    measured.Add(corners[k]);
    nominal.Add(NominalCorner(k));
  }
  CyProcrustes procrustes;
  procrustes.SetInput(measured, nominal);
  (void)procrustes.Compute(CyAlgorithm::eComputeOutput);
  CyTransformation transformation;
  procrustes.GetOutput(transformation);

  m_vecLines.clear();
  for (int k = 0; k < 8; ++k) {
    const CbVector3f fitted = transformation.Apply(NominalCorner(k));
    m_vecLines.push_back(corners[k]);
    m_vecLines.push_back(corners[k] + (fitted - corners[k]) * 100.0f);
  }
  const CbVector3f* edges[12][2] = {{&A, &B}, {&B, &D}, {&D, &C}, {&C, &A}, {&E, &F}, {&F, &H},
                                    {&H, &G}, {&G, &E}, {&A, &E}, {&B, &F}, {&D, &H}, {&C, &G}};
  for (const auto& edge : edges) {
    m_vecLines.push_back(*edge[0]);
    m_vecLines.push_back(*edge[1]);
  }

  namespace phantom = tolvane::phantom;
  const phantom::Quantities<float> q = phantom::Measure<float>(corners, p[0].GetNormal());
  const float depthDeviation = phantom::DeviationMicrons(phantom::c_fNominalDepth, q.meanDepth);
  const float depthPercent = phantom::DepthDeviationPercent(depthDeviation);
  m_strDepthStatistics =
      FormatWide(L"Depth: %.3f mm (%.3f, %.3f, %.3f, %.3f), Deviation: %.1f \u00B5m (%.2f percent)",
                 static_cast<double>(q.meanDepth), static_cast<double>(q.depth[0]),
                 static_cast<double>(q.depth[1]), static_cast<double>(q.depth[2]),
                 static_cast<double>(q.depth[3]), static_cast<double>(depthDeviation),
                 static_cast<double>(depthPercent));

  double args[8];
  for (int k = 0; k < 4; ++k) {
    args[2 * k] = q.shearing[k];
    args[2 * k + 1] = phantom::DeviationMicrons(phantom::c_fNominalShearing[k], q.shearing[k]);
  }
  m_strShearingStatistics = FormatWide(
      L"Shearing: %.3f mm (%.1f \u00B5m), %.3f mm (%.1f \u00B5m), %.3f mm (%.1f \u00B5m), "
      L"%.3f mm (%.1f \u00B5m)",
      args[0], args[1], args[2], args[3], args[4], args[5], args[6], args[7]);
  for (int k = 0; k < 4; ++k) {
    args[2 * k] = q.width[k];
    args[2 * k + 1] = phantom::DeviationMicrons(phantom::c_fNominalWidth[k], q.width[k]);
  }
  m_strWidthStatistics = FormatWide(
      L"Width: %.3f mm (%.01f \u00B5m), %.3f mm (%.01f \u00B5m), %.3f mm (%.01f \u00B5m), "
      L"%.3f mm (%.01f \u00B5m)",
      args[0], args[1], args[2], args[3], args[4], args[5], args[6], args[7]);
  for (int k = 0; k < 4; ++k) {
    args[2 * k] = q.height[k];
    args[2 * k + 1] = phantom::DeviationMicrons(phantom::c_fNominalHeight[k], q.height[k]);
  }
  m_strHeightStatistics = FormatWide(
      L"Height: %.3f mm (%.01f \u00B5m), %.3f mm (%.01f \u00B5m), %.3f mm (%.01f \u00B5m), "
      L"%.3f mm (%.01f \u00B5m)",
      args[0], args[1], args[2], args[3], args[4], args[5], args[6], args[7]);
}
