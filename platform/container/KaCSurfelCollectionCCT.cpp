#include "container/KaCSurfelCollectionCCT.h"

#include <algorithm>
#include <cmath>

#include "geometry/CyKdTree.h"

KaCSurfelCollectionCCT::KaCSurfelCollectionCCT(unsigned int nCount, bool bInitDefaults,
                                               ESurfelAttributeSet eSet,
                                               CbSmartPointer<const KaIRayImage> spRayImage)
    : KaCSurfelContainer(nCount, bInitDefaults, eSet, std::move(spRayImage)) {
  UpdateAccessors();
}

KaCSurfelCollectionCCT::KaCSurfelCollectionCCT(const KaCSurfelCollectionCCT& other,
                                               bool bCopySupportStructures)
    : KaCSurfelContainer(other) {
  UpdateAccessors();
  if (bCopySupportStructures) {
    std::lock_guard<std::mutex> lock(other.m_supportMutex);
    m_spKdTree = other.m_spKdTree;
    m_fAvgDensity = other.m_fAvgDensity;
  }
}

KaCSurfelCollectionCCT::KaCSurfelCollectionCCT(const KaCSurfelCollectionCCT& other)
    : KaCSurfelCollectionCCT(other, true) {}

KaCSurfelCollectionCCT::~KaCSurfelCollectionCCT() = default;

KaCSurfelContainer& KaCSurfelCollectionCCT::operator=(const KaCSurfelContainer& other) {
  KaCSurfelContainer::operator=(other);
  return *this;
}

KaCSurfelCollectionCCT& KaCSurfelCollectionCCT::operator=(const KaCSurfelCollectionCCT& other) {
  // Through the virtual base assignment, so that derived collections get their say.
  static_cast<KaCSurfelContainer&>(*this) = static_cast<const KaCSurfelContainer&>(other);
  return *this;
}

void KaCSurfelCollectionCCT::SetCount(unsigned int n, bool bInitDefaults) {
  KaCSurfelContainer::SetCount(n, bInitDefaults);
}

void KaCSurfelCollectionCCT::UpdateAccessors() const {
  const CyAttributeContainer& c = GetCySurfelCollection()->GetAttributeContainer();
  const CyAttributeContainer::View flags = c.Get(eSurfelAttributeFlags);
  const CyAttributeContainer::View quality = c.Get(eSurfelAttributeQuality);
  const CyAttributeContainer::View colors = c.Get(eSurfelAttributeColor);
  m_colorView = {static_cast<const KaCCompressedColor*>(colors.pData), colors.nStride};
  auto* pFlags = static_cast<unsigned char*>(flags.pData);
  m_qualityAccessor.Bind(pFlags, flags.nStride, static_cast<float*>(quality.pData),
                         quality.nStride);
  m_tissueAccessor.Bind(pFlags, flags.nStride);
  m_boundaryAccessor.Bind(pFlags, flags.nStride);
}

void KaCSurfelCollectionCCT::ResetSupportStructures() const {
  std::lock_guard<std::mutex> lock(m_supportMutex);
  m_spKdTree.reset();
  m_fAvgDensity = -1.0f;
}

KaTAttributeAccessor<unsigned short> KaCSurfelCollectionCCT::GetNormalAccessor() {
  return GetAccessor<unsigned short>(eSurfelAttributeNormal);
}

KaTAttributeAccessor<const unsigned short> KaCSurfelCollectionCCT::GetNormalAccessor() const {
  return GetAccessor<unsigned short>(eSurfelAttributeNormal);
}

CbVector3f KaCSurfelCollectionCCT::GetPosition(unsigned int i) const {
  return GetAccessor<CbVector3f>(eSurfelAttributePosition)[i];
}

void KaCSurfelCollectionCCT::SetPosition(unsigned int i, const CbVector3f& p) {
  GetAccessor<CbVector3f>(eSurfelAttributePosition)[i] = p;
}

CbVector3f KaCSurfelCollectionCCT::GetNormal(unsigned int i) const {
  return KaCNormalCodec::Decode(GetNormalAccessor()[i]);
}

void KaCSurfelCollectionCCT::SetNormal(unsigned int i, const CbVector3f& n) {
  GetNormalAccessor()[i] = KaCNormalCodec::Encode(n);
}

KaCCompressedColor KaCSurfelCollectionCCT::GetColor(unsigned int i) const {
  return GetAccessor<KaCCompressedColor>(eSurfelAttributeColor)[i];
}

void KaCSurfelCollectionCCT::SetColor(unsigned int i, const KaCCompressedColor& c) {
  GetAccessor<KaCCompressedColor>(eSurfelAttributeColor)[i] = c;
}

void KaCSurfelCollectionCCT::FlipNormals() {
  const KaTAttributeAccessor<unsigned short> normals = GetNormalAccessor();
  const unsigned int n = GetNrSurfels();
  for (unsigned int i = 0; i < n; ++i) normals[i] = KaCNormalCodec::Flip(normals[i]);
  ResetSupportStructures();
}

void KaCSurfelCollectionCCT::ScaleSurfels(const CbVector3f& scale, bool bScaleNormals) {
  const KaTAttributeAccessor<CbVector3f> pos = GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const unsigned int n = GetNrSurfels();
  for (unsigned int i = 0; i < n; ++i) {
    CbVector3f& p = pos[i];
    p = CbVector3f(p.x * scale.x, p.y * scale.y, p.z * scale.z);
  }
  // Normals transform with the inverse transpose, which for a diagonal matrix divides.
  if (bScaleNormals && scale.x != 0.0f && scale.y != 0.0f && scale.z != 0.0f) {
    const KaTAttributeAccessor<unsigned short> normals = GetNormalAccessor();
    for (unsigned int i = 0; i < n; ++i) {
      if (KaCNormalCodec::IsUnset(normals[i])) continue;
      const CbVector3f v = KaCNormalCodec::Decode(normals[i]);
      normals[i] = KaCNormalCodec::Encode(CbVector3f(v.x / scale.x, v.y / scale.y, v.z / scale.z));
    }
  }
  ResetSupportStructures();
}

void KaCSurfelCollectionCCT::InitQualities(float q) {
  const unsigned int n = GetNrSurfels();
  for (unsigned int i = 0; i < n; ++i) m_qualityAccessor.Set(i, q);
}

const CyKdTree& KaCSurfelCollectionCCT::GetKdTree() const { return GetKdTree(1); }

const CyKdTree& KaCSurfelCollectionCCT::GetKdTree(unsigned int nThreads) const {
  std::lock_guard<std::mutex> lock(m_supportMutex);
  if (!m_spKdTree) {
    const KaTAttributeAccessor<const CbVector3f> pos =
        GetAccessor<CbVector3f>(eSurfelAttributePosition);
    m_spKdTree = std::make_shared<const CyKdTree>(pos.pData, pos.nStride, GetNrSurfels(), nThreads);
  }
  return *m_spKdTree;
}

float KaCSurfelCollectionCCT::GetAvgDensity() const {
  {
    std::lock_guard<std::mutex> lock(m_supportMutex);
    if (m_fAvgDensity >= 0.0f) return m_fAvgDensity;
  }
  const CyKdTree& tree = GetKdTree();
  const unsigned int n = tree.GetNrPoints();
  double sum = 0.0;
  unsigned int used = 0;
  if (n >= 2) {
    const unsigned int step = std::max(1u, n / 10000u);
    unsigned int idx[2];
    float d2[2];
    for (unsigned int i = 0; i < n; i += step) {
      // The nearest point is the surfel itself (or a duplicate at distance 0); take the second.
      if (tree.FindKNearest(tree.GetPoint(i), 2, idx, d2) == 2) {
        sum += std::sqrt(static_cast<double>(d2[1]));
        ++used;
      }
    }
  }
  const float density = used > 0 ? static_cast<float>(sum / used) : 0.0f;
  std::lock_guard<std::mutex> lock(m_supportMutex);
  m_fAvgDensity = density;
  return density;
}
