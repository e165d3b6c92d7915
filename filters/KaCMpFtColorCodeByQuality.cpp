#include <tolvane/KaCMpFtColorCodeByQuality.h>

#include <vector>

#include <tolvane/KaCMpFtColorCode.h>
#include <tolvane/KaCTolvaneSettings.h>

#include "base/CbVector3f.h"
#include "container/KaSurfelAttributes.h"

KaCMpFtColorCodeByQuality::KaCMpFtColorCodeByQuality(float fPlaneOffset, float fPlaneNormalX,
                                                     float fPlaneNormalY, float fPlaneNormalZ)
    : m_fPlaneOffset(fPlaneOffset),
      m_fPlaneNormalX(fPlaneNormalX),
      m_fPlaneNormalY(fPlaneNormalY),
      m_fPlaneNormalZ(fPlaneNormalZ) {}

KaCMpFtColorCodeByQuality::KaCMpFtColorCodeByQuality(const KaCMpFtColorCodeByQuality& other)
    : KaAMpFtSurfelCollection(other),
      m_fPlaneOffset(other.m_fPlaneOffset),
      m_fPlaneNormalX(other.m_fPlaneNormalX),
      m_fPlaneNormalY(other.m_fPlaneNormalY),
      m_fPlaneNormalZ(other.m_fPlaneNormalZ) {}

KaCMpFtColorCodeByQuality& KaCMpFtColorCodeByQuality::operator=(
    const KaCMpFtColorCodeByQuality& other) {
  KaAMpFtSurfelCollection::operator=(other);
  m_fPlaneOffset = other.m_fPlaneOffset;
  m_fPlaneNormalX = other.m_fPlaneNormalX;
  m_fPlaneNormalY = other.m_fPlaneNormalY;
  m_fPlaneNormalZ = other.m_fPlaneNormalZ;
  return *this;
}

KaCMpFtColorCodeByQuality::~KaCMpFtColorCodeByQuality() = default;

int KaCMpFtColorCodeByQuality::GetColorCodedEntity() {
  return KaCTolvaneSettings::GetColorCodedEntity();
}

void KaCMpFtColorCodeByQuality::SetColorCodedEntity(int iEntity) {
  KaCTolvaneSettings::SetColorCodedEntity(iEntity);
}

void KaCMpFtColorCodeByQuality::operator()(KaCSurfelCollectionCCT& collection) const {
  std::vector<float> values(collection.GetNrSurfels(), 0.0f);
  float fUpper = 1.0f;
  const int iEntity = KaCTolvaneSettings::GetColorCodedEntity();

  // The count is read again in every iteration, compared as a signed 32-bit integer.
  switch (iEntity) {
    case 0: {
      KaCQualityAccessor& quality = collection.GetQualityAccessor();
      for (int i = 0; i < static_cast<int>(collection.GetNrSurfels()); ++i) {
        values[static_cast<std::size_t>(i)] = quality[static_cast<unsigned int>(i)];
      }
      break;
    }
    case 3: {
      KaCTissueTypeAccessor& tissue = collection.GetTissueTypeAccessor();
      for (int i = 0; i < static_cast<int>(collection.GetNrSurfels()); ++i) {
        const unsigned char t = tissue[static_cast<unsigned int>(i)];
        values[static_cast<std::size_t>(i)] = t == 0 ? 1.0f : 0.0f;
      }
      break;
    }
    case 6: {
      const KaTAttributeAccessor<unsigned char> flags =
          collection.GetAccessor<unsigned char>(eSurfelAttributeFlags);
      for (int i = 0; i < static_cast<int>(collection.GetNrSurfels()); ++i) {
        values[static_cast<std::size_t>(i)] =
            static_cast<float>(flags[static_cast<unsigned int>(i)] / 255.0);
      }
      break;
    }
    case 7: {
      KaCBoundaryFlagAccessor& boundary = collection.GetBoundaryFlagAccessor();
      for (int i = 0; i < static_cast<int>(collection.GetNrSurfels()); ++i) {
        const bool b = boundary[static_cast<unsigned int>(i)];
        values[static_cast<std::size_t>(i)] = b ? 1.0f : 0.0f;
      }
      break;
    }
    case 8: {
      fUpper = 20.0f;
      const KaTAttributeAccessor<CbVector3f> pos =
          collection.GetAccessor<CbVector3f>(eSurfelAttributePosition);
      for (int i = 0; i < static_cast<int>(collection.GetNrSurfels()); ++i) {
        const CbVector3f& p = pos[static_cast<unsigned int>(i)];
        // Left to right in float: ((x nx + y ny) + z nz) - offset.
        values[static_cast<std::size_t>(i)] =
            p.x * m_fPlaneNormalX + p.y * m_fPlaneNormalY + p.z * m_fPlaneNormalZ - m_fPlaneOffset;
      }
      break;
    }
    default:
      break;
  }

  const KaCMpFtColorCode colorCode(0.0f, fUpper, values, nullptr, 1);
  colorCode(collection);
}
