#include "phantom/KaCPlaneDistanceKernel.h"

#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

#include "container/KaCNormalCodec.h"
#include "container/KaSurfelAttributes.h"

// glibc's libmvec provides vector variants of acosf (_ZGVbN4v_acosf and wider). Declaring them
// here lets the compiler call them from the vectorised loop below without -ffast-math, which
// would also reassociate the float arithmetic that the clustering results depend on. This file
// is compiled with -fopenmp-simd so that "omp simd" vectorises the loop at every build type.
extern "C" float acosf(float) noexcept __attribute__((__simd__("notinbranch")));

namespace {

constexpr std::size_t c_nBlock = 256;

// The same loop is built twice: for AVX2 (eight lanes, _ZGVdN8v_acosf) and for the baseline
// (SSE2, _ZGVbN4v_acosf). The processor is asked once which one to run: a plain check rather
// than target_clones, whose ifunc resolver runs during relocation, before a sanitizer's runtime
// is up.
__attribute__((always_inline)) inline void DistanceLoopImpl(
    const float* __restrict px, const float* __restrict py, const float* __restrict pz,
    const float* __restrict mx, const float* __restrict my, const float* __restrict mz,
    std::size_t n, const CyPlane& plane, float* __restrict pOut) {
  const CbVector3f& q = plane.GetPoint();
  const CbVector3f& nrm = plane.GetNormal();
  const float qx = q.x, qy = q.y, qz = q.z;
  const float nx = nrm.x, ny = nrm.y, nz = nrm.z;
#pragma omp simd
  for (std::size_t k = 0; k < n; ++k) {
    // Same expression as CyPlane::GetSignedDistance and the scalar distance.
    const float d = std::fabs(((px[k] - qx) * nx + (py[k] - qy) * ny) + (pz[k] - qz) * nz);
    const float c = std::fabs((mx[k] * nx + my[k] * ny) + mz[k] * nz);
    pOut[k] = acosf(c) / 3.1415927f * 0.5f + d;
  }
}

__attribute__((target("avx2"))) void DistanceLoopAvx2(
    const float* __restrict px, const float* __restrict py, const float* __restrict pz,
    const float* __restrict mx, const float* __restrict my, const float* __restrict mz,
    std::size_t n, const CyPlane& plane, float* __restrict pOut) {
  DistanceLoopImpl(px, py, pz, mx, my, mz, n, plane, pOut);
}

void DistanceLoopBaseline(const float* __restrict px, const float* __restrict py,
                          const float* __restrict pz, const float* __restrict mx,
                          const float* __restrict my, const float* __restrict mz, std::size_t n,
                          const CyPlane& plane, float* __restrict pOut) {
  DistanceLoopImpl(px, py, pz, mx, my, mz, n, plane, pOut);
}

bool HasAvx2() {
  static const bool s_bAvx2 = __builtin_cpu_supports("avx2");
  return s_bAvx2;
}

void DistanceLoop(const float* px, const float* py, const float* pz, const float* mx,
                  const float* my, const float* mz, std::size_t n, const CyPlane& plane,
                  float* pOut) {
  if (HasAvx2()) {
    DistanceLoopAvx2(px, py, pz, mx, my, mz, n, plane, pOut);
  } else {
    DistanceLoopBaseline(px, py, pz, mx, my, mz, n, plane, pOut);
  }
}

// The angle term of the distance alone, acosf(|c|) / 3.1415927f * 0.5f, for normals given as
// coordinate arrays. Built like the AVX2 distance loop, so that for n a multiple of eight every
// lane goes through the same eight-lane acosf as the distance loop's full blocks.
__attribute__((target("avx2"))) void AngleLoopAvx2(const float* __restrict mx,
                                                   const float* __restrict my,
                                                   const float* __restrict mz, std::size_t n,
                                                   const CyPlane& plane, float* __restrict pOut) {
  const CbVector3f& nrm = plane.GetNormal();
  const float nx = nrm.x, ny = nrm.y, nz = nrm.z;
#pragma omp simd
  for (std::size_t k = 0; k < n; ++k) {
    const float c = std::fabs((mx[k] * nx + my[k] * ny) + mz[k] * nz);
    pOut[k] = acosf(c) / 3.1415927f * 0.5f;
  }
}

}  // namespace

void KaCPlaneDistanceKernel::Distances(const float* px, const float* py, const float* pz,
                                       const float* mx, const float* my, const float* mz,
                                       std::size_t n, const CyPlane& plane, float* pDistances) {
  DistanceLoop(px, py, pz, mx, my, mz, n, plane, pDistances);
}

namespace {

// Lanes of an angle row: one per plane of the vector assignment.
constexpr std::size_t c_nRowLanes = 8;
// Below this many samples the per-code angle rows cost more than they save.
constexpr unsigned int c_nMinRowSamples = 16384;

// The assignment of the samples first to nEnd - 1 (first a multiple of the block size, so that
// the blocks are those of a whole-collection run), optionally with the labels and sums of the
// fused k-means pass (both null or both set).
void AssignInBlocks(const KaCSurfelCollectionCCT& samples, unsigned int nFirst, unsigned int nEnd,
                    const CyPlane* pPlanes, std::size_t nPlanes,
                    std::vector<std::vector<unsigned int>>& clusters, unsigned char* pLabels,
                    tolvane::PlaneFit::Sums* pSums) {
  const auto positions = samples.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto normals = samples.GetNormalAccessor();
  const CbVector3f* pTable = KaCNormalCodec::GetTable();

  alignas(64) float px[c_nBlock], py[c_nBlock], pz[c_nBlock];
  alignas(64) float mx[c_nBlock], my[c_nBlock], mz[c_nBlock];
  std::vector<float> distances(nPlanes * c_nBlock);

  for (unsigned int first = nFirst; first < nEnd; first += c_nBlock) {
    const std::size_t n = nEnd - first < c_nBlock ? nEnd - first : c_nBlock;
    for (std::size_t k = 0; k < n; ++k) {
      const auto s = static_cast<unsigned int>(first + k);
      const CbVector3f& p = positions[s];
      const CbVector3f& m = pTable[normals[s]];
      px[k] = p.x;
      py[k] = p.y;
      pz[k] = p.z;
      mx[k] = m.x;
      my[k] = m.y;
      mz[k] = m.z;
    }
    for (std::size_t j = 0; j < nPlanes; ++j) {
      DistanceLoop(px, py, pz, mx, my, mz, n, pPlanes[j], distances.data() + j * c_nBlock);
    }
    for (std::size_t k = 0; k < n; ++k) {
      float best = std::numeric_limits<float>::max();
      std::size_t bestPlane = 0;
      for (std::size_t j = 0; j < nPlanes; ++j) {
        const float d = distances[j * c_nBlock + k];
        if (best > d) {
          best = d;
          bestPlane = j;
        }
      }
      clusters[bestPlane].push_back(static_cast<unsigned int>(first + k));
      if (pSums != nullptr) {
        pLabels[first + k] = static_cast<unsigned char>(bestPlane);
        pSums[bestPlane].Add(CbVector3f(px[k], py[k], pz[k]));
      }
    }
  }
}

// The assignment of samples 0 to nEnd - 1 with eight planes per vector, one sample at a time:
// the angle terms come from the sample's code row, the plane distances are computed in the
// lanes as CyPlane::GetSignedDistance does, and the first lane holding the smallest distance
// below the largest float wins (NaN lanes never do), which is the scalar rule. Sums, when
// pLabels is set, are kept as (x, y, z, 0) vectors: lane-wise the same float additions.
__attribute__((target("avx2"))) void AssignWithRowsAvx2(
    const KaCSurfelCollectionCCT& samples, unsigned int nEnd, const CyPlane* pPlanes,
    std::size_t nPlanes, const KaCPlaneDistanceKernel::AngleRows& rows,
    std::vector<std::vector<unsigned int>>& clusters, unsigned char* pLabels,
    tolvane::PlaneFit::Sums* pSums) {
  const auto positions = samples.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto normals = samples.GetNormalAccessor();
  alignas(32) float q[6][c_nRowLanes] = {};
  for (std::size_t j = 0; j < nPlanes; ++j) {
    const CbVector3f& point = pPlanes[j].GetPoint();
    const CbVector3f& normal = pPlanes[j].GetNormal();
    q[0][j] = point.x;
    q[1][j] = point.y;
    q[2][j] = point.z;
    q[3][j] = normal.x;
    q[4][j] = normal.y;
    q[5][j] = normal.z;
  }
  const __m256 qx = _mm256_load_ps(q[0]), qy = _mm256_load_ps(q[1]), qz = _mm256_load_ps(q[2]);
  const __m256 nx = _mm256_load_ps(q[3]), ny = _mm256_load_ps(q[4]), nz = _mm256_load_ps(q[5]);
  const __m256 signBit = _mm256_set1_ps(-0.0f);
  const __m256 largest = _mm256_set1_ps(std::numeric_limits<float>::max());
  __m128 sums[c_nRowLanes];
  for (std::size_t j = 0; j < c_nRowLanes; ++j) {
    sums[j] = j < nPlanes && pSums != nullptr
                  ? _mm_setr_ps(pSums[j].x, pSums[j].y, pSums[j].z, 0.0f)
                  : _mm_setzero_ps();
  }
  for (unsigned int s = 0; s < nEnd; ++s) {
    const CbVector3f& p = positions[s];
    const __m256 dx = _mm256_sub_ps(_mm256_set1_ps(p.x), qx);
    const __m256 dy = _mm256_sub_ps(_mm256_set1_ps(p.y), qy);
    const __m256 dz = _mm256_sub_ps(_mm256_set1_ps(p.z), qz);
    const __m256 dist = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(dx, nx), _mm256_mul_ps(dy, ny)),
                                      _mm256_mul_ps(dz, nz));
    const __m256 d =
        _mm256_add_ps(_mm256_load_ps(rows.Row(normals[s])), _mm256_andnot_ps(signBit, dist));
    // Lanes that cannot win (NaN, or not below the largest float) become the largest float.
    const __m256 dm = _mm256_blendv_ps(largest, d, _mm256_cmp_ps(d, largest, _CMP_LT_OQ));
    __m128 m = _mm_min_ps(_mm256_castps256_ps128(dm), _mm256_extractf128_ps(dm, 1));
    m = _mm_min_ps(m, _mm_movehl_ps(m, m));
    m = _mm_min_ss(m, _mm_shuffle_ps(m, m, 1));
    const float fMin = _mm_cvtss_f32(m);
    unsigned int j = 0;
    if (fMin < std::numeric_limits<float>::max()) {
      const int mask = _mm256_movemask_ps(_mm256_cmp_ps(dm, _mm256_set1_ps(fMin), _CMP_EQ_OQ));
      j = static_cast<unsigned int>(__builtin_ctz(static_cast<unsigned int>(mask)));
    }
    clusters[j].push_back(s);
    if (pLabels != nullptr) {
      pLabels[s] = static_cast<unsigned char>(j);
      sums[j] = _mm_add_ps(sums[j], _mm_setr_ps(p.x, p.y, p.z, 0.0f));
    }
  }
  if (pSums != nullptr) {
    for (std::size_t j = 0; j < nPlanes; ++j) {
      alignas(16) float v[4];
      _mm_store_ps(v, sums[j]);
      pSums[j].x = v[0];
      pSums[j].y = v[1];
      pSums[j].z = v[2];
    }
  }
}

// PlaneFit::Scatter::Add for every sample by its label, in vectors: the six float products in
// the lanes, widened to double and added lane-wise to (xx, yx, yy, zx) and (zy, zz).
__attribute__((target("avx2"))) void AddScatterAvx2(const KaCSurfelCollectionCCT& samples,
                                                    const unsigned char* pLabels,
                                                    const CbVector3f* pCentroids,
                                                    std::size_t nPlanes,
                                                    tolvane::PlaneFit::Scatter* pScatter) {
  const auto positions = samples.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const unsigned int nSamples = samples.GetNrSurfels();
  __m128 centroids[KaCPlaneDistanceKernel::c_nMaxFusedPlanes];
  __m256d low[KaCPlaneDistanceKernel::c_nMaxFusedPlanes];
  __m128d high[KaCPlaneDistanceKernel::c_nMaxFusedPlanes];
  for (std::size_t j = 0; j < nPlanes; ++j) {
    centroids[j] = _mm_setr_ps(pCentroids[j].x, pCentroids[j].y, pCentroids[j].z, 0.0f);
    low[j] = _mm256_loadu_pd(pScatter[j].packed);
    high[j] = _mm_loadu_pd(pScatter[j].packed + 4);
  }
  for (unsigned int s = 0; s < nSamples; ++s) {
    const unsigned char j = pLabels[s];
    const CbVector3f& p = positions[s];
    const __m128 d = _mm_sub_ps(_mm_setr_ps(p.x, p.y, p.z, 0.0f), centroids[j]);  // dx dy dz
    // (dx dx, dx dy, dy dy, dx dz) and (dz dy, dz dz)
    const __m128 a = _mm_mul_ps(_mm_shuffle_ps(d, d, _MM_SHUFFLE(0, 1, 0, 0)),
                                _mm_shuffle_ps(d, d, _MM_SHUFFLE(2, 1, 1, 0)));
    const __m128 b = _mm_mul_ps(_mm_shuffle_ps(d, d, _MM_SHUFFLE(2, 2, 2, 2)),
                                _mm_shuffle_ps(d, d, _MM_SHUFFLE(2, 2, 2, 1)));
    low[j] = _mm256_add_pd(low[j], _mm256_cvtps_pd(a));
    high[j] = _mm_add_pd(high[j], _mm_cvtps_pd(b));
  }
  for (std::size_t j = 0; j < nPlanes; ++j) {
    _mm256_storeu_pd(pScatter[j].packed, low[j]);
    _mm_storeu_pd(pScatter[j].packed + 4, high[j]);
  }
}

}  // namespace

KaCPlaneDistanceKernel::AngleRows::AngleRows(const KaCSurfelCollectionCCT& samples)
    : m_rowOfCode(65536, 0) {
  std::vector<bool> present(65536, false);
  const auto normals = samples.GetNormalAccessor();
  const unsigned int nSamples = samples.GetNrSurfels();
  for (unsigned int s = 0; s < nSamples; ++s) present[normals[s]] = true;
  const CbVector3f* pTable = KaCNormalCodec::GetTable();
  for (unsigned int code = 0; code < 65536; ++code) {
    if (!present[code]) continue;
    m_rowOfCode[code] = static_cast<unsigned short>(m_codes.size());
    m_codes.push_back(static_cast<unsigned short>(code));
    m_mx.push_back(pTable[code].x);
    m_my.push_back(pTable[code].y);
    m_mz.push_back(pTable[code].z);
  }
  // Padded to whole vectors, so that every code takes the loop's eight-lane path.
  const std::size_t nPadded = (m_codes.size() + c_nRowLanes - 1) / c_nRowLanes * c_nRowLanes;
  m_mx.resize(nPadded, 0.0f);
  m_my.resize(nPadded, 0.0f);
  m_mz.resize(nPadded, 0.0f);
  m_terms.resize(nPadded);
  // Rows start on a 32-byte boundary.
  m_storage.reset(new float[m_codes.size() * c_nRowLanes + c_nRowLanes]);
  const auto address = reinterpret_cast<std::uintptr_t>(m_storage.get());
  m_pRows = m_storage.get() + ((32 - address % 32) % 32) / sizeof(float);
}

void KaCPlaneDistanceKernel::AngleRows::Fill(const CyPlane* pPlanes, std::size_t nPlanes) {
  const float fNaN = std::numeric_limits<float>::quiet_NaN();
  for (std::size_t j = 0; j < c_nRowLanes; ++j) {
    if (j < nPlanes) {
      AngleLoopAvx2(m_mx.data(), m_my.data(), m_mz.data(), m_terms.size(), pPlanes[j],
                    m_terms.data());
    }
    for (std::size_t k = 0; k < m_codes.size(); ++k) {
      m_pRows[k * c_nRowLanes + j] = j < nPlanes ? m_terms[k] : fNaN;
    }
  }
}

bool KaCPlaneDistanceKernel::UsesAngleRows(const KaCSurfelCollectionCCT& samples,
                                           std::size_t nPlanes) {
  return HasAvx2() && nPlanes <= c_nRowLanes && samples.GetNrSurfels() >= c_nMinRowSamples;
}

void KaCPlaneDistanceKernel::AssignToNearestPlanes(
    const KaCSurfelCollectionCCT& samples, const CyPlane* pPlanes, std::size_t nPlanes,
    std::vector<std::vector<unsigned int>>& clusters) {
  if (!UsesAngleRows(samples, nPlanes)) {
    AssignToNearestPlanesInBlocks(samples, pPlanes, nPlanes, clusters);
    return;
  }
  AngleRows rows(samples);
  rows.Fill(pPlanes, nPlanes);
  const unsigned int nSamples = samples.GetNrSurfels();
  const unsigned int nWhole = nSamples / c_nBlock * c_nBlock;
  AssignWithRowsAvx2(samples, nWhole, pPlanes, nPlanes, rows, clusters, nullptr, nullptr);
  AssignInBlocks(samples, nWhole, nSamples, pPlanes, nPlanes, clusters, nullptr, nullptr);
}

void KaCPlaneDistanceKernel::AssignToNearestPlanesInBlocks(
    const KaCSurfelCollectionCCT& samples, const CyPlane* pPlanes, std::size_t nPlanes,
    std::vector<std::vector<unsigned int>>& clusters) {
  AssignInBlocks(samples, 0, samples.GetNrSurfels(), pPlanes, nPlanes, clusters, nullptr, nullptr);
}

KaCPlaneDistanceKernel::KMeansSweeps::KMeansSweeps(const KaCSurfelCollectionCCT& samples,
                                                   std::size_t nPlanes)
    : m_samples(samples), m_nPlanes(nPlanes), m_labels(samples.GetNrSurfels()) {
  if (UsesAngleRows(samples, nPlanes)) m_pRows = std::make_unique<AngleRows>(samples);
}

KaCPlaneDistanceKernel::KMeansSweeps::~KMeansSweeps() = default;

void KaCPlaneDistanceKernel::KMeansSweeps::AssignAndSum(
    const CyPlane* pPlanes, std::vector<std::vector<unsigned int>>& clusters,
    tolvane::PlaneFit::Sums* pSums) {
  const unsigned int nSamples = m_samples.GetNrSurfels();
  unsigned int nWhole = 0;
  if (m_pRows) {
    // The rows serve the whole blocks; the last, partial block goes through the block loop as
    // a whole-collection run would, so that its lanes see the same acosf variants.
    m_pRows->Fill(pPlanes, m_nPlanes);
    nWhole = nSamples / c_nBlock * c_nBlock;
    AssignWithRowsAvx2(m_samples, nWhole, pPlanes, m_nPlanes, *m_pRows, clusters, m_labels.data(),
                       pSums);
  }
  AssignInBlocks(m_samples, nWhole, nSamples, pPlanes, m_nPlanes, clusters, m_labels.data(), pSums);
}

void KaCPlaneDistanceKernel::KMeansSweeps::AddScatter(const CbVector3f* pCentroids,
                                                      tolvane::PlaneFit::Scatter* pScatter) const {
  if (HasAvx2()) {
    AddScatterAvx2(m_samples, m_labels.data(), pCentroids, m_nPlanes, pScatter);
    return;
  }
  const auto positions = m_samples.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const unsigned int nSamples = m_samples.GetNrSurfels();
  for (unsigned int s = 0; s < nSamples; ++s) {
    const unsigned char j = m_labels[s];
    pScatter[j].Add(positions[s], pCentroids[j]);
  }
}
