#include <tolvane/KaCMpFtColorCodeByQuality.h>

#include <vector>

#include <tolvane/KaCTolvaneSettings.h>

#include "base/CbVector3f.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "container/KaSurfelAttributes.h"
#include "filters/ColorCodeBlocks.h"

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

namespace {

using namespace ka_color_code_detail;

// The shared default coder set to the range 0..fUpper and integer mode 0, as a
// KaCMpFtColorCode without a coder sets it, and a copy of it for the loops.
KaCColorCoder SharedCoder(float fUpper) {
  KaCColorCoder& shared = SharedDefaultColorCoder();
  shared.SetRange(0.0f, fUpper);
  shared.SetIntegerMode(0);
  return shared;
}

// Colours surfels 0..n-1 through SharedCoder(fUpper) with the value valueOf(i) of each surfel,
// gathered a block at a time: the same values and the same colours as a vector of all values
// handed to a KaCMpFtColorCode without a coder, without the vector's n floats of fresh memory
// and the second pass over them.
template <class ValueOf>
void ColorByValues(KaCSurfelCollectionCCT& collection, unsigned int n, float fUpper,
                   ValueOf valueOf) {
  const KaCColorCoder coder = SharedCoder(fUpper);
  const ColorBytes colors = GetColorBytes(collection);
  float aBuffer[c_nBlock];
  const int nValues = static_cast<int>(n);
  for (int k0 = 0; k0 < nValues; k0 += c_nBlock) {
    const int nBlock = nValues - k0 < c_nBlock ? nValues - k0 : c_nBlock;
    for (int k = 0; k < nBlock; ++k) aBuffer[k] = valueOf(static_cast<unsigned int>(k0 + k));
    ColorBlock(coder, aBuffer, nBlock, k0, 1, colors);
  }
}

// The same with values in 0..1 stored one after another from pValues, coloured straight from
// there.
void ColorDirect(KaCSurfelCollectionCCT& collection, const float* pValues, unsigned int n) {
  const KaCColorCoder coder = SharedCoder(1.0f);
  ColorValues(coder, pValues, static_cast<int>(n), 1, GetColorBytes(collection));
}

}  // namespace

void KaCMpFtColorCodeByQuality::operator()(KaCSurfelCollectionCCT& collection) const {
  // One value per surfel (n read once: nothing here changes the count), each as the table of
  // entities gives it; an entity outside the table gives 0 everywhere. The accessors are looked
  // up, and may throw, before any colour is written.
  const unsigned int n = collection.GetNrSurfels();
  switch (KaCTolvaneSettings::GetColorCodedEntity()) {
    case 0: {
      // A local copy of the accessor, so that the colour stores do not force its reloading;
      // float qualities are read straight through pointer and stride, without the accessor's
      // test of the storage on every read.
      const KaCQualityAccessor quality = collection.GetQualityAccessor();
      if (quality.IsFloatStorage()) {
        const auto values = collection.GetAccessor<float>(eSurfelAttributeQuality);
        if (values.nStride == sizeof(float)) {
          // Stored one after another: coloured straight from the array.
          ColorDirect(collection, values.pData, n);
        } else {
          ColorByValues(collection, n, 1.0f, [&](unsigned int i) -> float { return values[i]; });
        }
      } else {
        ColorByValues(collection, n, 1.0f, [&](unsigned int i) -> float { return quality[i]; });
      }
      break;
    }
    case 3: {
      const KaCTissueTypeAccessor tissue = collection.GetTissueTypeAccessor();
      ColorByValues(collection, n, 1.0f, [&](unsigned int i) {
        const unsigned char t = tissue[i];
        return t == 0 ? 1.0f : 0.0f;
      });
      break;
    }
    case 6: {
      const KaTAttributeAccessor<unsigned char> flags =
          collection.GetAccessor<unsigned char>(eSurfelAttributeFlags);
      ColorByValues(collection, n, 1.0f,
                    [&](unsigned int i) { return static_cast<float>(flags[i] / 255.0); });
      break;
    }
    case 7: {
      const KaCBoundaryFlagAccessor boundary = collection.GetBoundaryFlagAccessor();
      ColorByValues(collection, n, 1.0f, [&](unsigned int i) {
        const bool b = boundary[i];
        return b ? 1.0f : 0.0f;
      });
      break;
    }
    case 8: {
      const KaTAttributeAccessor<CbVector3f> pos =
          collection.GetAccessor<CbVector3f>(eSurfelAttributePosition);
      ColorByValues(collection, n, 20.0f, [&](unsigned int i) {
        const CbVector3f& p = pos[i];
        // Left to right in float: ((x nx + y ny) + z nz) - offset.
        return p.x * m_fPlaneNormalX + p.y * m_fPlaneNormalY + p.z * m_fPlaneNormalZ -
               m_fPlaneOffset;
      });
      break;
    }
    default:
      ColorByValues(collection, n, 1.0f, [](unsigned int) { return 0.0f; });
      break;
  }
}
