#include "filters/RemoveMarkedSurfels.h"

#include <algorithm>
#include <cstring>

#include "base/CbException.h"
#include "base/CbSmartPointer.h"
#include "base/CbVector3f.h"
#include "container/KaCCompressedColor.h"
#include "container/KaSurfelAttributes.h"

namespace {

// Raw copy of one element between two attribute views.
template <class T>
void CopyElement(const KaTAttributeAccessor<T>& dst, unsigned int j,
                 const KaTAttributeAccessor<const T>& src, unsigned int i) noexcept {
  std::memcpy(&dst[j], &src[i], sizeof(T));
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
    KaCQualityAccessor& dstQuality = dst.GetQualityAccessor();
    const KaCTissueTypeAccessor& srcTissue = src.GetTissueTypeAccessor();
    KaCTissueTypeAccessor& dstTissue = dst.GetTissueTypeAccessor();
    const auto srcFlags = src.GetAccessor<unsigned char>(eSurfelAttributeFlags);
    const auto dstFlags = dst.GetAccessor<unsigned char>(eSurfelAttributeFlags);
    const KaCBoundaryFlagAccessor& srcBoundary = src.GetBoundaryFlagAccessor();
    KaCBoundaryFlagAccessor& dstBoundary = dst.GetBoundaryFlagAccessor();
    const auto srcValue = src.GetAccessor<unsigned int>(eSurfelAttributeValue);
    const auto dstValue = dst.GetAccessor<unsigned int>(eSurfelAttributeValue);

    const unsigned int nInput = src.GetNrSurfels();
    const std::size_t nMarks = marks.size();
    unsigned int j = 0;
    for (unsigned int i = 0; i < nMarks && i < nInput; ++i) {
      if (marks[i] != 0) continue;
      CopyElement(dstPos, j, srcPos, i);
      CopyElement(dstNormal, j, srcNormal, i);
      CopyElement(dstColor, j, srcColor, i);
      // Quality, tissue type and boundary go through the proxies, which honour packed storage.
      dstQuality[j] = srcQuality[i];
      dstTissue[j] = srcTissue[i];
      CopyElement(dstFlags, j, srcFlags, i);
      dstBoundary[j] = srcBoundary[i];
      CopyElement(dstValue, j, srcValue, i);
      ++j;
    }
  }

  // Through the virtual assignment, which keeps the collection's own attribute set.
  static_cast<KaCSurfelContainer&>(collection) = static_cast<const KaCSurfelContainer&>(*spCompact);
  collection.ResetSupportStructures();
}
