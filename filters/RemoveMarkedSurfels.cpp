#include "filters/RemoveMarkedSurfels.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "base/CbException.h"
#include "base/CbSmartPointer.h"
#include "base/CbVector3f.h"
#include "container/KaCCompressedColor.h"
#include "container/KaSurfelAccessors.h"
#include "container/KaSurfelAttributes.h"
#include "filters/CompactionKernels.h"

namespace {

// Runs of kept surfels at least this long are copied by the library's block copy.
constexpr std::size_t c_nLongRun = 256;

// The compaction walks the input once, surfel by surfel, and moves all eight attributes of a
// surfel together. The copy is branch-free: every surfel is written to slot j, and j advances
// only past kept surfels, so a removed surfel's slot is overwritten by the next kept one. A
// slot is written only while j < nKept. Eight marks are tested at a time, so that runs of kept
// surfels are copied eight at once and runs of removed ones skipped.
//
// Quality, tissue type and boundary flag: the destination keeps float qualities (attribute set
// 0) and the tissue type and boundary flag are bits of the flag byte, whose raw copy carries
// them; the quality is read as its accessor reads it (float, or decoded from the flag byte),
// which is what the element proxies would write.
//
// Packed: every stride equals its element size, known at compile time.
template <bool bSrcFloatQuality, bool bPacked>
unsigned int CompactAll(const CompactionPlan& p, const unsigned char* pMarks, unsigned int nEnd,
                        unsigned int nKept, CompactionProgress from) {
  const auto stride = [&](const std::size_t* pStrides, int k) -> std::size_t {
    return bPacked ? c_anCompactionElementSize[k] : pStrides[k];
  };
  const std::size_t s0 = stride(p.nSrcStride, 0), s1 = stride(p.nSrcStride, 1),
                    s2 = stride(p.nSrcStride, 2), s3 = stride(p.nSrcStride, 3),
                    s4 = stride(p.nSrcStride, 4), s5 = stride(p.nSrcStride, 5);
  const std::size_t d0 = stride(p.nDstStride, 0), d1 = stride(p.nDstStride, 1),
                    d2 = stride(p.nDstStride, 2), d3 = stride(p.nDstStride, 3),
                    d4 = stride(p.nDstStride, 4), d5 = stride(p.nDstStride, 5);
  const unsigned char* __restrict pSrcPos = p.pSrcPos;
  const unsigned char* __restrict pSrcNormal = p.pSrcNormal;
  const unsigned char* __restrict pSrcColor = p.pSrcColor;
  const unsigned char* __restrict pSrcQuality = p.pSrcQuality;
  const unsigned char* __restrict pSrcFlags = p.pSrcFlags;
  const unsigned char* __restrict pSrcValue = p.pSrcValue;
  unsigned char* __restrict pDstPos = p.pDstPos;
  unsigned char* __restrict pDstNormal = p.pDstNormal;
  unsigned char* __restrict pDstColor = p.pDstColor;
  unsigned char* __restrict pDstQuality = p.pDstQuality;
  unsigned char* __restrict pDstFlags = p.pDstFlags;
  unsigned char* __restrict pDstValue = p.pDstValue;

  const auto copyOne = [&](std::size_t i, std::size_t j) {
    std::memcpy(pDstPos + j * d0, pSrcPos + i * s0, 12);
    std::memcpy(pDstNormal + j * d1, pSrcNormal + i * s1, 2);
    std::memcpy(pDstColor + j * d2, pSrcColor + i * s2, 3);
    const unsigned char flags = pSrcFlags[i * s4];
    float q = 0.0f;
    if constexpr (bSrcFloatQuality) {
      std::memcpy(&q, pSrcQuality + i * s3, 4);
    } else {
      q = ka_flag_byte::Quality(flags);
    }
    std::memcpy(pDstQuality + j * d3, &q, 4);
    pDstFlags[j * d4] = flags;
    std::memcpy(pDstValue + j * d5, pSrcValue + i * s5, 4);
  };

  // A run of kept surfels, n (a multiple of 8) of them from i to j. With packed arrays it is
  // copied attribute by attribute: in blocks of eight surfels of fixed size, which compile to a
  // few vector moves, or for long runs as one library copy per attribute.
  const auto copyBlocks = [&](std::size_t i, std::size_t j, std::size_t n) {
    if (n >= c_nLongRun) {
      std::memcpy(pDstPos + j * 12, pSrcPos + i * 12, n * 12);
      std::memcpy(pDstNormal + j * 2, pSrcNormal + i * 2, n * 2);
      std::memcpy(pDstColor + j * 3, pSrcColor + i * 3, n * 3);
      std::memcpy(pDstQuality + j * 4, pSrcQuality + i * 4, n * 4);
      std::memcpy(pDstFlags + j, pSrcFlags + i, n);
      std::memcpy(pDstValue + j * 4, pSrcValue + i * 4, n * 4);
      return;
    }
    for (std::size_t k = 0; k < n; k += 8) {
      std::memcpy(pDstPos + (j + k) * 12, pSrcPos + (i + k) * 12, 8 * 12);
      std::memcpy(pDstNormal + (j + k) * 2, pSrcNormal + (i + k) * 2, 8 * 2);
      std::memcpy(pDstColor + (j + k) * 3, pSrcColor + (i + k) * 3, 8 * 3);
      std::memcpy(pDstQuality + (j + k) * 4, pSrcQuality + (i + k) * 4, 8 * 4);
      std::memcpy(pDstFlags + j + k, pSrcFlags + i + k, 8);
      std::memcpy(pDstValue + (j + k) * 4, pSrcValue + (i + k) * 4, 8 * 4);
    }
  };
  const auto copyRun = [&](std::size_t i, std::size_t j, std::size_t n) {
    if constexpr (bPacked && bSrcFloatQuality) {
      copyBlocks(i, j, n);
    } else {
      for (std::size_t k = 0; k < n; ++k) copyOne(i + k, j + k);
    }
  };

  constexpr std::uint64_t c_nAllRemoved = 0x0101010101010101ull;
  const auto eight = [pMarks](std::size_t i) {
    std::uint64_t nEight = 0;
    std::memcpy(&nEight, pMarks + i, 8);
    return nEight;
  };
  std::size_t j = from.nOutput;
  std::size_t i = from.nInput;
  while (i < nEnd && j < nKept) {
    if (i + 8 <= nEnd) {
      const std::uint64_t nEight = eight(i);
      if (nEight == c_nAllRemoved) {
        i += 8;
        continue;
      }
      if (nEight == 0 && j + 8 <= nKept) {
        std::size_t nRun = 8;
        while (i + nRun + 8 <= nEnd && j + nRun + 8 <= nKept && eight(i + nRun) == 0) nRun += 8;
        copyRun(i, j, nRun);
        i += nRun;
        j += nRun;
        continue;
      }
    }
    copyOne(i, j);
    j += pMarks[i] == 0 ? 1 : 0;
    ++i;
  }
  return static_cast<unsigned int>(j);
}

// The vector kernels take the leading part when they can; the walk above does the rest.
template <bool bSrcFloatQuality>
unsigned int CompactAll(const CompactionPlan& p, const unsigned char* pMarks, unsigned int nEnd,
                        unsigned int nKept) {
  bool bPacked = true;
  for (int k = 0; k < 6; ++k) {
    bPacked = bPacked && p.nSrcStride[k] == c_anCompactionElementSize[k] &&
              p.nDstStride[k] == c_anCompactionElementSize[k];
  }
  if (!bPacked) return CompactAll<bSrcFloatQuality, false>(p, pMarks, nEnd, nKept, {});
  const CompactionProgress from = CompactLeadingGroups(p, pMarks, nEnd, nKept);
  return CompactAll<bSrcFloatQuality, true>(p, pMarks, nEnd, nKept, from);
}

// Where the carried attributes of src and dst live (dst may be src). Looked up in this order; a
// missing attribute or one of another element size throws here, before anything is written. The
// source quality pointer is null when src packs its qualities into the flag byte.
CompactionPlan PlanOf(const KaCSurfelCollectionCCT& src, KaCSurfelCollectionCCT& dst) {
  const auto srcPos = src.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto dstPos = dst.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto srcNormal = src.GetNormalAccessor();
  const auto dstNormal = dst.GetNormalAccessor();
  const auto srcColor = src.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  const auto dstColor = dst.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  const bool bSrcFloatQuality = src.GetQualityAccessor().IsFloatStorage();
  const auto srcQuality = bSrcFloatQuality ? src.GetAccessor<float>(eSurfelAttributeQuality)
                                           : KaTAttributeAccessor<const float>{nullptr, 4};
  const auto dstQuality = dst.GetAccessor<float>(eSurfelAttributeQuality);
  const auto srcFlags = src.GetAccessor<unsigned char>(eSurfelAttributeFlags);
  const auto dstFlags = dst.GetAccessor<unsigned char>(eSurfelAttributeFlags);
  const auto srcValue = src.GetAccessor<unsigned int>(eSurfelAttributeValue);
  const auto dstValue = dst.GetAccessor<unsigned int>(eSurfelAttributeValue);

  const auto bytes = [](auto* pData) {
    using Byte = std::conditional_t<std::is_const_v<std::remove_pointer_t<decltype(pData)>>,
                                    const unsigned char, unsigned char>;
    return reinterpret_cast<Byte*>(pData);
  };
  return {bytes(srcPos.pData),
          bytes(srcNormal.pData),
          bytes(srcColor.pData),
          bytes(srcQuality.pData),
          bytes(srcFlags.pData),
          bytes(srcValue.pData),
          bytes(dstPos.pData),
          bytes(dstNormal.pData),
          bytes(dstColor.pData),
          bytes(dstQuality.pData),
          bytes(dstFlags.pData),
          bytes(dstValue.pData),
          {srcPos.nStride, srcNormal.nStride, srcColor.nStride, srcQuality.nStride,
           srcFlags.nStride, srcValue.nStride},
          {dstPos.nStride, dstNormal.nStride, dstColor.nStride, dstQuality.nStride,
           dstFlags.nStride, dstValue.nStride}};
}

// Compacts the collection within its own arrays, when it keeps float qualities, has one mark
// per surfel and the vector kernels take the leading part (every array packed): no second
// collection, and no copy back through the assignment. The rest goes surfel by surfel, each
// kept surfel to a slot at or before its own. Returns false, with the collection untouched, when
// the kernels cannot run; the copying path then does the work.
bool CompactInPlace(KaCSurfelCollectionCCT& c, const std::vector<unsigned char>& marks,
                    unsigned int nKept) {
  const unsigned int n = c.GetNrSurfels();
  if (marks.size() != n || !c.GetQualityAccessor().IsFloatStorage()) return false;
  const CompactionPlan plan = PlanOf(c, c);
  unsigned char* const data[6] = {plan.pDstPos,     plan.pDstNormal, plan.pDstColor,
                                  plan.pDstQuality, plan.pDstFlags,  plan.pDstValue};
  const std::size_t* const strides = plan.nDstStride;
  const CompactionProgress from = CompactLeadingGroups(plan, marks.data(), n, nKept);
  if (from.nInput == 0) return false;
  std::size_t j = from.nOutput;
  for (std::size_t i = from.nInput; i < n && j < nKept; ++i) {
    if (marks[i] != 0) continue;
    for (int k = 0; k < 6; ++k) {
      std::memmove(data[k] + j * strides[k], data[k] + i * strides[k],
                   c_anCompactionElementSize[k]);
    }
    ++j;
  }
  // As the copying path: surfels without a kept input (marks other than 0 and 1) take the
  // defaults, and the result shares no ray image.
  const auto nWritten = static_cast<unsigned int>(j);
  c.SetCount(nWritten, false);
  if (nWritten < nKept) c.SetCount(nKept, true);
  c.SetRayImage(nullptr);
  c.UpdateAccessors();
  return true;
}

}  // namespace

void RemoveMarkedSurfels(KaCSurfelCollectionCCT& collection,
                         const std::vector<unsigned char>& marks) {
  const auto nRemoved = static_cast<unsigned int>(CountRemovalMarks(marks.data(), marks.size()));
  if (marks.empty() || nRemoved == 0) return;
  if (nRemoved > collection.GetNrSurfels()) {
    throw CbException("RemoveMarkedSurfels", __FILE__, __LINE__,
                      "more surfels marked for removal than the collection holds");
  }

  const unsigned int nKept = collection.GetNrSurfels() - nRemoved;
  if (CompactInPlace(collection, marks, nKept)) {
    collection.ResetSupportStructures();
    return;
  }
  CbSmartPointer<KaCSurfelCollectionCCT> spCompact(
      new KaCSurfelCollectionCCT(nKept, false, eSurfelAttributeSetFull, nullptr));

  if (nKept > 0) {
    KaCSurfelCollectionCCT& dst = *spCompact;
    dst.SetCount(nKept, false);
    dst.UpdateAccessors();
    const KaCSurfelCollectionCCT& src = collection;

    const CompactionPlan plan = PlanOf(src, dst);
    const bool bSrcFloatQuality = plan.pSrcQuality != nullptr;

    const unsigned int nInput = src.GetNrSurfels();
    const auto nEnd = static_cast<unsigned int>(std::min<std::size_t>(marks.size(), nInput));
    const unsigned int nWritten = bSrcFloatQuality
                                      ? CompactAll<true>(plan, marks.data(), nEnd, nKept)
                                      : CompactAll<false>(plan, marks.data(), nEnd, nKept);
    // The temporary surfels start unspecified. Those that found no kept input (fewer marks
    // than surfels, or marks other than 0 and 1) take the defaults: shrink to the written ones,
    // then grow back with defaults, both in place.
    if (nWritten < nKept) {
      dst.SetCount(nWritten, false);
      dst.SetCount(nKept, true);
    }
  }

  // Through the virtual assignment, which keeps the collection's own attribute set.
  static_cast<KaCSurfelContainer&>(collection) = static_cast<const KaCSurfelContainer&>(*spCompact);
  collection.ResetSupportStructures();
}
