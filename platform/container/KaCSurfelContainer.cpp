#include "container/KaCSurfelContainer.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "base/CbCriticalSection.h"
#include "base/CbException.h"
#include "base/CbVector3f.h"
#include "container/KaCCompressedColor.h"
#include "container/KaCNormalCodec.h"
#include "container/KaSurfelAccessors.h"

namespace {

constexpr std::size_t c_nFillBlockBytes = 16384;

// Element sizes registered per attribute number, process-wide.
std::map<unsigned int, unsigned int>& ElementSizes() {
  static std::map<unsigned int, unsigned int> s_elementSize = {
      {eSurfelAttributePosition, 12}, {eSurfelAttributeNormal, 2}, {eSurfelAttributeFlags, 1},
      {eSurfelAttributeQuality, 4},   {eSurfelAttributeValue, 4},  {eSurfelAttributeColor, 3}};
  return s_elementSize;
}

CbCriticalSection& ElementSizeLock() {
  static CbCriticalSection s_csElementSize;
  return s_csElementSize;
}

void AddAttributes(CyAttributeContainer& c, ESurfelAttributeSet eSet) {
  c.Add(eSurfelAttributePosition, 12);
  c.Add(eSurfelAttributeNormal, 2);
  c.Add(eSurfelAttributeFlags, 1);
  if (eSet == eSurfelAttributeSetFull) c.Add(eSurfelAttributeQuality, 4);
  c.Add(eSurfelAttributeValue, 4);
  c.Add(eSurfelAttributeColor, 3);
}

KaCQualityAccessor QualityOf(const CyAttributeContainer& c) {
  KaCQualityAccessor acc;
  const CyAttributeContainer::View flags = c.Get(eSurfelAttributeFlags);
  const CyAttributeContainer::View quality = c.Get(eSurfelAttributeQuality);
  acc.Bind(static_cast<unsigned char*>(flags.pData), flags.nStride,
           static_cast<float*>(quality.pData), quality.nStride);
  return acc;
}

}  // namespace

KaCSurfelContainer::KaCSurfelContainer(unsigned int nCount, bool bInitDefaults,
                                       ESurfelAttributeSet eSet,
                                       CbSmartPointer<const KaIRayImage> spRayImage)
    : m_eAttributeSet(eSet),
      m_spStorage(new CySurfelCollectionStatic),
      m_pAttributes(&m_spStorage->GetAttributeContainer()),
      m_spRayImage(std::move(spRayImage)) {
  if (eSet != eSurfelAttributeSetFull && eSet != eSurfelAttributeSetCompact) {
    throw CbException("KaCSurfelContainer::KaCSurfelContainer", __FILE__, __LINE__,
                      "unknown attribute set " + std::to_string(static_cast<int>(eSet)));
  }
  CyAttributeContainer& c = m_spStorage->GetAttributeContainer();
  AddAttributes(c, eSet);
  c.SetCount(nCount, false);
  if (bInitDefaults) InitDefaults(0, nCount);
}

KaCSurfelContainer::KaCSurfelContainer(const KaCSurfelContainer& other)
    : IReferenceCounted(other),
      m_eAttributeSet(other.m_eAttributeSet),
      m_spStorage(new CySurfelCollectionStatic(*other.m_spStorage)),
      m_pAttributes(&m_spStorage->GetAttributeContainer()),
      m_spRayImage(other.m_spRayImage) {}

KaCSurfelContainer::~KaCSurfelContainer() = default;

KaCSurfelContainer& KaCSurfelContainer::operator=(const KaCSurfelContainer& other) {
  if (this == &other) return *this;
  const CyAttributeContainer& src = other.m_spStorage->GetAttributeContainer();
  CyAttributeContainer& dst = m_spStorage->GetAttributeContainer();
  const unsigned int n = src.GetCount();
  // The only step that can fail (growing the arrays) comes first and leaves this collection
  // as it was; the arrays are reused in place when they are large enough.
  dst.SetCount(n, false);
  for (unsigned int id : dst.GetIds()) {
    const CyAttributeContainer::View s = src.Get(id);
    const CyAttributeContainer::View d = dst.Get(id);
    const std::size_t bytes = static_cast<std::size_t>(n) * d.nElementSize;
    if (bytes == 0) continue;
    if (s.pData != nullptr && s.nElementSize == d.nElementSize) {
      std::memcpy(d.pData, s.pData, bytes);
    } else {
      std::memset(d.pData, 0, bytes);
    }
  }
  const KaCQualityAccessor qs = QualityOf(src);
  const KaCQualityAccessor qd = QualityOf(dst);
  if (qs.IsFloatStorage() != qd.IsFloatStorage()) {
    for (unsigned int i = 0; i < n; ++i) qd.Set(i, qs.Get(i));
  }
  m_spRayImage = other.m_spRayImage;
  UpdateAccessors();
  ResetSupportStructures();
  return *this;
}

void* KaCSurfelContainer::GetAttributeData(unsigned int id, std::size_t nElementSize,
                                           unsigned int& nStride) const {
  const CyAttributeContainer::View v = m_spStorage->GetAttributeContainer().Get(id);
  // The line numbers 364 and 370 are part of the error contract: hosts tell the two failures
  // apart by them.
  if (v.pData == nullptr && !m_spStorage->GetAttributeContainer().Has(id)) {
    throw CbException("KaCSurfelContainer::GetAccessor", __FILE__, 364,
                      "the collection has no attribute " + std::to_string(id));
  }
  unsigned int registered = 0;
  {
    CbCriticalSectionGuard guard(ElementSizeLock());
    const auto it = ElementSizes().find(id);
    registered = it != ElementSizes().end() ? it->second : v.nElementSize;
  }
  if (registered != nElementSize) {
    throw CbException("KaCSurfelContainer::GetAccessor", __FILE__, 370,
                      "attribute " + std::to_string(id) + " has elements of " +
                          std::to_string(registered) + " bytes, not " +
                          std::to_string(nElementSize));
  }
  nStride = v.nStride;
  return v.pData;
}

unsigned int KaCSurfelContainer::GetRegisteredElementSize(unsigned int id) {
  CbCriticalSectionGuard guard(ElementSizeLock());
  const auto it = ElementSizes().find(id);
  return it != ElementSizes().end() ? it->second : 0;
}

void KaCSurfelContainer::InitDefaults(unsigned int nFirst, unsigned int nEnd) {
  if (nFirst >= nEnd) return;
  CyAttributeContainer& c = m_spStorage->GetAttributeContainer();
  // The first surfel of the range gets the defaults element by element (every attribute is
  // written, since the arrays come uninitialised). Its bytes are then doubled into a block of
  // about 16 KiB, which is copied on across the range while it stays in the first-level cache.
  for (unsigned int id : c.GetIds()) {
    const CyAttributeContainer::View v = c.Get(id);
    std::memset(static_cast<unsigned char*>(v.pData) + static_cast<std::size_t>(nFirst) * v.nStride,
                0, v.nStride);
  }
  static_cast<unsigned short*>(c.Get(eSurfelAttributeNormal).pData)[nFirst] =
      KaCNormalCodec::c_nUnsetCode;
  static_cast<KaCCompressedColor*>(c.Get(eSurfelAttributeColor).pData)[nFirst] =
      KaCCompressedColor(128, 128, 128);
  QualityOf(c).Set(nFirst, 1.0f);

  const std::size_t nSurfels = nEnd - nFirst;
  for (unsigned int id : c.GetIds()) {
    const CyAttributeContainer::View v = c.Get(id);
    unsigned char* pRange =
        static_cast<unsigned char*>(v.pData) + static_cast<std::size_t>(nFirst) * v.nStride;
    const std::size_t nBytes = nSurfels * v.nStride;
    std::size_t nBlock = v.nStride;
    while (nBlock < nBytes && nBlock < c_nFillBlockBytes) {
      std::memcpy(pRange + nBlock, pRange, std::min(nBlock, nBytes - nBlock));
      nBlock *= 2;
    }
    for (std::size_t nDone = nBlock; nDone < nBytes; nDone += nBlock) {
      std::memcpy(pRange + nDone, pRange, std::min(nBlock, nBytes - nDone));
    }
  }
}

void KaCSurfelContainer::SetCount(unsigned int n, bool bInitDefaults) {
  const unsigned int old = GetNrSurfels();
  m_spStorage->GetAttributeContainer().SetCount(n, true);
  if (bInitDefaults) InitDefaults(old < n ? old : n, n);
  UpdateAccessors();
  ResetSupportStructures();
}

void KaCSurfelContainer::UpdateAccessors() const {}

void KaCSurfelContainer::ResetSupportStructures() const {}

void KaCSurfelContainer::CopySurfel(unsigned int nDestination, const KaCSurfelContainer& source,
                                    unsigned int nSource, const CbMatrix4Rf* pPositionTransform,
                                    const CbMatrix4Rf* pNormalTransform) {
  if (nDestination >= GetNrSurfels() || nSource >= source.GetNrSurfels()) {
    throw CbException("KaCSurfelContainer::CopySurfel", __FILE__, __LINE__,
                      "surfel index out of range");
  }
  const CyAttributeContainer& src = source.m_spStorage->GetAttributeContainer();
  CyAttributeContainer& dst = m_spStorage->GetAttributeContainer();
  for (unsigned int id : dst.GetIds()) {
    const CyAttributeContainer::View s = src.Get(id);
    const CyAttributeContainer::View d = dst.Get(id);
    if (s.pData == nullptr || s.nElementSize != d.nElementSize) continue;
    std::memcpy(
        static_cast<unsigned char*>(d.pData) + static_cast<std::size_t>(nDestination) * d.nStride,
        static_cast<const unsigned char*>(s.pData) + static_cast<std::size_t>(nSource) * s.nStride,
        d.nElementSize);
  }
  const KaCQualityAccessor qs = QualityOf(src);
  const KaCQualityAccessor qd = QualityOf(dst);
  if (qs.IsFloatStorage() != qd.IsFloatStorage()) qd.Set(nDestination, qs.Get(nSource));

  if (pPositionTransform != nullptr) {
    auto* pos = static_cast<CbVector3f*>(dst.Get(eSurfelAttributePosition).pData);
    const CbVector3f p = pos[nDestination];
    const CbMatrix4Rf& m = *pPositionTransform;
    const float x = m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12];
    const float y = m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13];
    const float z = m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14];
    const float w = m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15];
    pos[nDestination] = CbVector3f(x / w, y / w, z / w);
  }
  if (pNormalTransform != nullptr) {
    auto* normals = static_cast<unsigned short*>(dst.Get(eSurfelAttributeNormal).pData);
    if (!KaCNormalCodec::IsUnset(normals[nDestination])) {
      const CbVector3f n = KaCNormalCodec::Decode(normals[nDestination]);
      const CbMatrix4Rf& m = *pNormalTransform;
      const CbVector3f r(m[0] * n.x + m[4] * n.y + m[8] * n.z, m[1] * n.x + m[5] * n.y + m[9] * n.z,
                         m[2] * n.x + m[6] * n.y + m[10] * n.z);
      normals[nDestination] = KaCNormalCodec::Encode(r);
    }
  }
}
