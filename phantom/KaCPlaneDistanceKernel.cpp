#include "phantom/KaCPlaneDistanceKernel.h"

#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

#include "base/CpuDispatch.h"
#include "container/KaCNormalCodec.h"
#include "container/KaSurfelAttributes.h"

// glibc's libmvec provides vector variants of acosf (_ZGVbN4v_acosf and wider). Declaring them
// here lets the compiler call them from the vectorised loop below without -ffast-math, which
// would also reassociate the float arithmetic that the clustering results depend on. This file
// is compiled with -fopenmp-simd so that "omp simd" vectorises the loop at every build type.
// clang has no such attribute; its build calls the scalar acosf.
#if !defined(__clang__)
extern "C" float acosf(float) noexcept __attribute__((__simd__("notinbranch")));
#endif

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

void DistanceLoop(const float* px, const float* py, const float* pz, const float* mx,
                  const float* my, const float* mz, std::size_t n, const CyPlane& plane,
                  float* pOut) {
  if (tolvane::HasAvx2()) {
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

// What an assignment pass hands on; each part may be null. Labels are indexed from the pass's
// first sample.
struct PassOutput {
  std::vector<std::vector<unsigned int>>* pClusters = nullptr;  // indices appended
  unsigned char* pLabels = nullptr;                             // plane of each sample
  tolvane::PlaneFit::Sums* pSums = nullptr;                     // position sums per plane
  std::size_t* pCounts = nullptr;                               // samples per plane, added
};

// The assignment of samples nFirst to nEnd - 1 (nFirst a multiple of the block size, so that
// the blocks are those of a whole-collection run).
void AssignInBlocks(const KaCSurfelCollectionCCT& samples, unsigned int nFirst, unsigned int nEnd,
                    const CyPlane* pPlanes, std::size_t nPlanes, const PassOutput& out) {
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
      const auto s = static_cast<unsigned int>(first + k);
      if (out.pClusters != nullptr) (*out.pClusters)[bestPlane].push_back(s);
      if (out.pLabels != nullptr) out.pLabels[s - nFirst] = static_cast<unsigned char>(bestPlane);
      if (out.pSums != nullptr) out.pSums[bestPlane].Add(CbVector3f(px[k], py[k], pz[k]));
      if (out.pCounts != nullptr) ++out.pCounts[bestPlane];
    }
  }
}

// The labels of samples nFirst to nEnd - 1 (a whole number of eight-sample groups; positions
// and codes stored contiguously), eight samples per vector: the angle terms come from the
// samples' code rows (transposed to one vector per plane), the plane distances are computed as
// CyPlane::GetSignedDistance does, and the planes are visited in order with the scalar rule
// "best > d", lane by lane. With pSums, the positions are then added to their plane's sums in
// sample order, in lanes (one lane per plane): a lane of another plane adds +0, which leaves a
// sum that starts at +0 unchanged, bit for bit.
__attribute__((target("avx2"))) void LabelWithRowsAvx2(
    const KaCSurfelCollectionCCT& samples, unsigned int nFirst, unsigned int nEnd,
    const CyPlane* pPlanes, std::size_t nPlanes, const KaCPlaneDistanceKernel::AngleRows& rows,
    unsigned char* pLabels, tolvane::PlaneFit::Sums* pSums, std::size_t* pCounts) {
  const CbVector3f* pPositions = samples.GetAccessor<CbVector3f>(eSurfelAttributePosition).pData;
  const unsigned short* pCodes = samples.GetNormalAccessor().pData;
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
  const __m256 signBit = _mm256_set1_ps(-0.0f);
  const __m256 largest = _mm256_set1_ps(std::numeric_limits<float>::max());
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  __m256 sumX = _mm256_setzero_ps(), sumY = _mm256_setzero_ps(), sumZ = _mm256_setzero_ps();
  __m256i counts = _mm256_setzero_si256();
  if (pSums != nullptr) {
    alignas(32) float x[c_nRowLanes] = {}, y[c_nRowLanes] = {}, z[c_nRowLanes] = {};
    for (std::size_t j = 0; j < nPlanes; ++j)
      x[j] = pSums[j].x, y[j] = pSums[j].y, z[j] = pSums[j].z;
    sumX = _mm256_load_ps(x);
    sumY = _mm256_load_ps(y);
    sumZ = _mm256_load_ps(z);
  }
  for (unsigned int s = nFirst; s < nEnd; s += 8) {
    // Eight positions (x y z x y z ...) into one vector per coordinate.
    const float* f = &pPositions[s].x;
    const __m256 m03 =
        _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(f)), _mm_loadu_ps(f + 12), 1);
    const __m256 m14 =
        _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(f + 4)), _mm_loadu_ps(f + 16), 1);
    const __m256 m25 =
        _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(f + 8)), _mm_loadu_ps(f + 20), 1);
    const __m256 xy = _mm256_shuffle_ps(m14, m25, _MM_SHUFFLE(2, 1, 3, 2));
    const __m256 yz = _mm256_shuffle_ps(m03, m14, _MM_SHUFFLE(1, 0, 2, 1));
    const __m256 px = _mm256_shuffle_ps(m03, xy, _MM_SHUFFLE(2, 0, 3, 0));
    const __m256 py = _mm256_shuffle_ps(yz, xy, _MM_SHUFFLE(3, 1, 2, 0));
    const __m256 pz = _mm256_shuffle_ps(yz, m25, _MM_SHUFFLE(3, 0, 3, 1));
    // The eight code rows, transposed: terms[j] holds plane j's angle term of the eight samples.
    __m256 r[8];
    for (int k = 0; k < 8; ++k) r[k] = _mm256_load_ps(rows.Row(pCodes[s + k]));
    const __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]), t1 = _mm256_unpackhi_ps(r[0], r[1]);
    const __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]), t3 = _mm256_unpackhi_ps(r[2], r[3]);
    const __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]), t5 = _mm256_unpackhi_ps(r[4], r[5]);
    const __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]), t7 = _mm256_unpackhi_ps(r[6], r[7]);
    const __m256 u0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 u6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
    const __m256 u7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
    const __m256 terms[8] = {
        _mm256_permute2f128_ps(u0, u4, 0x20), _mm256_permute2f128_ps(u1, u5, 0x20),
        _mm256_permute2f128_ps(u2, u6, 0x20), _mm256_permute2f128_ps(u3, u7, 0x20),
        _mm256_permute2f128_ps(u0, u4, 0x31), _mm256_permute2f128_ps(u1, u5, 0x31),
        _mm256_permute2f128_ps(u2, u6, 0x31), _mm256_permute2f128_ps(u3, u7, 0x31)};
    __m256 best = largest;
    __m256i label = _mm256_setzero_si256();
    for (std::size_t j = 0; j < nPlanes; ++j) {
      const __m256 dx = _mm256_sub_ps(px, _mm256_set1_ps(q[0][j]));
      const __m256 dy = _mm256_sub_ps(py, _mm256_set1_ps(q[1][j]));
      const __m256 dz = _mm256_sub_ps(pz, _mm256_set1_ps(q[2][j]));
      const __m256 dist = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(dx, _mm256_set1_ps(q[3][j])),
                                                      _mm256_mul_ps(dy, _mm256_set1_ps(q[4][j]))),
                                        _mm256_mul_ps(dz, _mm256_set1_ps(q[5][j])));
      const __m256 d = _mm256_add_ps(terms[j], _mm256_andnot_ps(signBit, dist));
      const __m256 wins = _mm256_cmp_ps(best, d, _CMP_GT_OQ);
      best = _mm256_blendv_ps(best, d, wins);
      label = _mm256_blendv_epi8(label, _mm256_set1_epi32(static_cast<int>(j)),
                                 _mm256_castps_si256(wins));
    }
    const __m128i words =
        _mm_packus_epi32(_mm256_castsi256_si128(label), _mm256_extracti128_si256(label, 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pLabels + (s - nFirst)),
                     _mm_packus_epi16(words, words));
    if (pSums != nullptr) {
      for (unsigned int k = 0; k < 8; ++k) {
        const __m256i mask = _mm256_cmpeq_epi32(lanes, _mm256_set1_epi32(pLabels[s - nFirst + k]));
        const __m256 on = _mm256_castsi256_ps(mask);
        const CbVector3f& p = pPositions[s + k];
        sumX = _mm256_add_ps(sumX, _mm256_and_ps(on, _mm256_set1_ps(p.x)));
        sumY = _mm256_add_ps(sumY, _mm256_and_ps(on, _mm256_set1_ps(p.y)));
        sumZ = _mm256_add_ps(sumZ, _mm256_and_ps(on, _mm256_set1_ps(p.z)));
        counts = _mm256_sub_epi32(counts, mask);
      }
    }
  }
  if (pSums != nullptr) {
    alignas(32) float x[c_nRowLanes], y[c_nRowLanes], z[c_nRowLanes];
    alignas(32) std::uint32_t n[c_nRowLanes];
    _mm256_store_ps(x, sumX);
    _mm256_store_ps(y, sumY);
    _mm256_store_ps(z, sumZ);
    _mm256_store_si256(reinterpret_cast<__m256i*>(n), counts);
    for (std::size_t j = 0; j < nPlanes; ++j) {
      pSums[j].x = x[j];
      pSums[j].y = y[j];
      pSums[j].z = z[j];
      pCounts[j] += n[j];
    }
  }
}

// Appends the samples nFirst, nFirst + 1, ... to the clusters of their labels.
void AppendByLabels(const unsigned char* pLabels, unsigned int nFirst, unsigned int nEnd,
                    std::vector<std::vector<unsigned int>>& clusters) {
  for (unsigned int s = nFirst; s < nEnd; ++s) clusters[pLabels[s - nFirst]].push_back(s);
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
  return tolvane::HasAvx2() && nPlanes <= c_nRowLanes &&
         samples.GetNrSurfels() >= c_nMinRowSamples &&
         samples.GetAccessor<CbVector3f>(eSurfelAttributePosition).nStride == sizeof(CbVector3f) &&
         samples.GetNormalAccessor().nStride == sizeof(unsigned short);
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
  unsigned char labels[c_nBlock];
  for (unsigned int first = 0; first < nWhole; first += c_nBlock) {
    LabelWithRowsAvx2(samples, first, first + c_nBlock, pPlanes, nPlanes, rows, labels, nullptr,
                      nullptr);
    AppendByLabels(labels, first, first + c_nBlock, clusters);
  }
  PassOutput out;
  out.pClusters = &clusters;
  AssignInBlocks(samples, nWhole, nSamples, pPlanes, nPlanes, out);
}

void KaCPlaneDistanceKernel::AssignToNearestPlanesInBlocks(
    const KaCSurfelCollectionCCT& samples, const CyPlane* pPlanes, std::size_t nPlanes,
    std::vector<std::vector<unsigned int>>& clusters) {
  PassOutput out;
  out.pClusters = &clusters;
  AssignInBlocks(samples, 0, samples.GetNrSurfels(), pPlanes, nPlanes, out);
}

KaCPlaneDistanceKernel::KMeansSweeps::KMeansSweeps(const KaCSurfelCollectionCCT& samples,
                                                   std::size_t nPlanes)
    : m_samples(samples),
      m_nPlanes(nPlanes),
      m_labels(samples.GetNrSurfels()),
      m_previousLabels(samples.GetNrSurfels()) {
  if (UsesAngleRows(samples, nPlanes)) m_pRows = std::make_unique<AngleRows>(samples);
}

KaCPlaneDistanceKernel::KMeansSweeps::~KMeansSweeps() = default;

void KaCPlaneDistanceKernel::KMeansSweeps::Assign(const CyPlane* pPlanes,
                                                  tolvane::PlaneFit::Sums* pSums,
                                                  std::size_t* pCounts) {
  m_labels.swap(m_previousLabels);
  const unsigned int nSamples = m_samples.GetNrSurfels();
  unsigned int nWhole = 0;
  if (m_pRows) {
    // The rows serve the whole blocks; the last, partial block goes through the block loop as
    // a whole-collection run would, so that its lanes see the same acosf variants.
    m_pRows->Fill(pPlanes, m_nPlanes);
    nWhole = nSamples / c_nBlock * c_nBlock;
    LabelWithRowsAvx2(m_samples, 0, nWhole, pPlanes, m_nPlanes, *m_pRows, m_labels.data(), pSums,
                      pCounts);
  }
  PassOutput out;
  out.pLabels = m_labels.data() + nWhole;
  out.pSums = pSums;
  out.pCounts = pCounts;
  AssignInBlocks(m_samples, nWhole, nSamples, pPlanes, m_nPlanes, out);
}

bool KaCPlaneDistanceKernel::KMeansSweeps::SameAsPreviousPass() const {
  return m_labels == m_previousLabels;
}

void KaCPlaneDistanceKernel::KMeansSweeps::GetClusters(
    std::vector<std::vector<unsigned int>>& clusters) const {
  std::vector<std::size_t> counts(m_nPlanes, 0);
  for (unsigned char j : m_labels) ++counts[j];
  for (auto& cluster : clusters) cluster.clear();
  for (std::size_t j = 0; j < m_nPlanes; ++j) clusters[j].reserve(counts[j]);
  AppendByLabels(m_labels.data(), 0, m_samples.GetNrSurfels(), clusters);
}
void KaCPlaneDistanceKernel::KMeansSweeps::AddScatter(const CbVector3f* pCentroids,
                                                      tolvane::PlaneFit::Scatter* pScatter) const {
  if (tolvane::HasAvx2()) {
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
