#include "filters/RemoveMarkedSurfels.h"

#include <algorithm>
#include <cstring>

#include "base/CbException.h"
#include "base/CbSmartPointer.h"
#include "base/CbVector3f.h"
#include "container/KaCCompressedColor.h"
#include "container/KaSurfelAttributes.h"

namespace {

// The compaction runs attribute by attribute: one tight pass over the marks per attribute keeps
// the pointers in registers. Each surfel still receives its attributes in the same order, so the
// result equals a surfel-by-surfel copy.

// Copies the kept elements of one attribute as raw bytes, through data pointer and byte stride.
template <class T>
void CompactRaw(const unsigned char* pMarks, unsigned int nEnd,
                const KaTAttributeAccessor<const T>& src, const KaTAttributeAccessor<T>& dst) {
  const auto* pSrc = reinterpret_cast<const unsigned char*>(src.pData);
  auto* pDst = reinterpret_cast<unsigned char*>(dst.pData);
  const std::size_t nSrcStride = src.nStride;
  const std::size_t nDstStride = dst.nStride;
  for (unsigned int i = 0; i < nEnd; ++i) {
    if (pMarks[i] != 0) continue;
    std::memcpy(pDst, pSrc + i * nSrcStride, sizeof(T));
    pDst += nDstStride;
  }
}

// Copies the kept values of one packed accessor through its element proxies.
template <class Accessor>
void CompactThroughProxies(const unsigned char* pMarks, unsigned int nEnd, const Accessor& src,
                           Accessor dst) {
  unsigned int j = 0;
  for (unsigned int i = 0; i < nEnd; ++i) {
    if (pMarks[i] != 0) continue;
    dst[j] = src[i];
    ++j;
  }
}

}  // namespace

void RemoveMarkedSurfels(KaCSurfelCollectionCCT& collection,
                         const std::vector<unsigned char>& marks) {
  const auto nRemoved = static_cast<unsigned int>(
      std::count(marks.begin(), marks.end(), static_cast<unsigned char>(1)));
  if (marks.empty() || nRemoved == 0) return;
  if (nRemoved > collection.GetNrSurfels()) {
    throw CbException("RemoveMarkedSurfels", __FILE__, __LINE__,
                      "more surfels marked for removal than the collection holds");
  }

  const unsigned int nKept = collection.GetNrSurfels() - nRemoved;
  CbSmartPointer<KaCSurfelCollectionCCT> spCompact(
      new KaCSurfelCollectionCCT(nKept, false, eSurfelAttributeSetFull, nullptr));

  if (nKept > 0) {
    KaCSurfelCollectionCCT& dst = *spCompact;
    dst.SetCount(nKept, false);
    dst.UpdateAccessors();
    const KaCSurfelCollectionCCT& src = collection;

    const auto srcPos = src.GetAccessor<CbVector3f>(eSurfelAttributePosition);
    const auto dstPos = dst.GetAccessor<CbVector3f>(eSurfelAttributePosition);
    const auto srcNormal = src.GetNormalAccessor();
    const auto dstNormal = dst.GetNormalAccessor();
    const auto srcColor = src.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
    const auto dstColor = dst.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
    const KaCQualityAccessor& srcQuality = src.GetQualityAccessor();
    const KaCQualityAccessor& dstQuality = dst.GetQualityAccessor();
    const KaCTissueTypeAccessor& srcTissue = src.GetTissueTypeAccessor();
    const KaCTissueTypeAccessor& dstTissue = dst.GetTissueTypeAccessor();
    const auto srcFlags = src.GetAccessor<unsigned char>(eSurfelAttributeFlags);
    const auto dstFlags = dst.GetAccessor<unsigned char>(eSurfelAttributeFlags);
    const KaCBoundaryFlagAccessor& srcBoundary = src.GetBoundaryFlagAccessor();
    const KaCBoundaryFlagAccessor& dstBoundary = dst.GetBoundaryFlagAccessor();
    const auto srcValue = src.GetAccessor<unsigned int>(eSurfelAttributeValue);
    const auto dstValue = dst.GetAccessor<unsigned int>(eSurfelAttributeValue);

    const unsigned int nInput = src.GetNrSurfels();
    const auto nEnd = static_cast<unsigned int>(std::min<std::size_t>(marks.size(), nInput));
    const unsigned char* pMarks = marks.data();
    CompactRaw(pMarks, nEnd, srcPos, dstPos);
    CompactRaw(pMarks, nEnd, srcNormal, dstNormal);
    CompactRaw(pMarks, nEnd, srcColor, dstColor);
    // Quality, tissue type and boundary go through the proxies, which honour packed storage.
    CompactThroughProxies(pMarks, nEnd, srcQuality, dstQuality);
    CompactThroughProxies(pMarks, nEnd, srcTissue, dstTissue);
    CompactRaw(pMarks, nEnd, srcFlags, dstFlags);
    CompactThroughProxies(pMarks, nEnd, srcBoundary, dstBoundary);
    CompactRaw(pMarks, nEnd, srcValue, dstValue);
  }

  // Through the virtual assignment, which keeps the collection's own attribute set.
  static_cast<KaCSurfelContainer&>(collection) = static_cast<const KaCSurfelContainer&>(*spCompact);
  collection.ResetSupportStructures();
}
