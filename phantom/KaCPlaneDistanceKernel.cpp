#include "phantom/KaCPlaneDistanceKernel.h"

#include <cmath>
#include <limits>

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

void DistanceLoop(const float* px, const float* py, const float* pz, const float* mx,
                  const float* my, const float* mz, std::size_t n, const CyPlane& plane,
                  float* pOut) {
  static const bool s_bAvx2 = __builtin_cpu_supports("avx2");
  if (s_bAvx2) {
    DistanceLoopAvx2(px, py, pz, mx, my, mz, n, plane, pOut);
  } else {
    DistanceLoopBaseline(px, py, pz, mx, my, mz, n, plane, pOut);
  }
}

}  // namespace

void KaCPlaneDistanceKernel::Distances(const float* px, const float* py, const float* pz,
                                       const float* mx, const float* my, const float* mz,
                                       std::size_t n, const CyPlane& plane, float* pDistances) {
  DistanceLoop(px, py, pz, mx, my, mz, n, plane, pDistances);
}

namespace {

// The assignment, optionally with the sums and labels of the fused k-means pass (both null or
// both set).
void Assign(const KaCSurfelCollectionCCT& samples, const CyPlane* pPlanes, std::size_t nPlanes,
            std::vector<std::vector<unsigned int>>& clusters, unsigned char* pLabels,
            tolvane::PlaneFit::Sums* pSums) {
  const auto positions = samples.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto normals = samples.GetNormalAccessor();
  const CbVector3f* pTable = KaCNormalCodec::GetTable();
  const unsigned int nSamples = samples.GetNrSurfels();

  alignas(64) float px[c_nBlock], py[c_nBlock], pz[c_nBlock];
  alignas(64) float mx[c_nBlock], my[c_nBlock], mz[c_nBlock];
  std::vector<float> distances(nPlanes * c_nBlock);

  for (unsigned int first = 0; first < nSamples; first += c_nBlock) {
    const std::size_t n = nSamples - first < c_nBlock ? nSamples - first : c_nBlock;
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

}  // namespace

void KaCPlaneDistanceKernel::AssignToNearestPlanes(
    const KaCSurfelCollectionCCT& samples, const CyPlane* pPlanes, std::size_t nPlanes,
    std::vector<std::vector<unsigned int>>& clusters) {
  Assign(samples, pPlanes, nPlanes, clusters, nullptr, nullptr);
}

void KaCPlaneDistanceKernel::AssignAndSum(const KaCSurfelCollectionCCT& samples,
                                          const CyPlane* pPlanes, std::size_t nPlanes,
                                          std::vector<std::vector<unsigned int>>& clusters,
                                          unsigned char* pLabels, tolvane::PlaneFit::Sums* pSums) {
  Assign(samples, pPlanes, nPlanes, clusters, pLabels, pSums);
}

void KaCPlaneDistanceKernel::AddScatter(const KaCSurfelCollectionCCT& samples,
                                        const unsigned char* pLabels, const CbVector3f* pCentroids,
                                        tolvane::PlaneFit::Scatter* pScatter) {
  const auto positions = samples.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const unsigned int nSamples = samples.GetNrSurfels();
  for (unsigned int s = 0; s < nSamples; ++s) {
    const unsigned char j = pLabels[s];
    pScatter[j].Add(positions[s], pCentroids[j]);
  }
}
