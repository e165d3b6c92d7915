#include <tolvane/KaCMpFtColorCode.h>

#include <cstring>
#include <limits>

#include "base/CbException.h"
#include "container/CyColorRGBA.h"
#include "container/KaCCompressedColor.h"
#include "container/KaSurfelAttributes.h"
#include "tissue/KaCColorCoder.h"

namespace {

// One coder for the whole library, built on first use (function-local statics are initialised
// once, even under concurrent first calls) and destroyed when the library unloads.
KaCColorCoder& SharedDefaultColorCoder() {
  static KaCColorCoder s_coder;
  return s_coder;
}

}  // namespace

KaCMpFtColorCode::KaCMpFtColorCode(float fMinValue, float fMaxValue, std::vector<float>& values,
                                   const KaCColorCoder* pColorCoder, int iStride)
    : m_fMinValue(fMinValue),
      m_fMaxValue(fMaxValue),
      m_iStride(iStride),
      m_pValues(&values),
      m_pColorCoder(pColorCoder) {}

KaCMpFtColorCode::KaCMpFtColorCode(const KaCMpFtColorCode& other)
    : KaAMpFtSurfelCollection(other),
      m_fMinValue(other.m_fMinValue),
      m_fMaxValue(other.m_fMaxValue),
      m_iStride(other.m_iStride),
      m_pValues(other.m_pValues),
      m_pColorCoder(other.m_pColorCoder) {}

KaCMpFtColorCode::~KaCMpFtColorCode() = default;

void KaCMpFtColorCode::operator()(KaCSurfelCollectionCCT& collection) const {
  KaCColorCoder& shared = SharedDefaultColorCoder();
  if (m_pColorCoder == nullptr) {
    shared.SetRange(m_fMinValue, m_fMaxValue);
    shared.SetIntegerMode(0);
    m_pColorCoder = &shared;
  }

  CbSmartPointer<CySurfelCollectionStatic> spStorage = collection.GetCySurfelCollection();
  auto* pBase = dynamic_cast<CySurfelCollectionBase*>(spStorage.Get());
  const CyAttributeContainer& attributes = pBase->GetAttributeContainer();
  if (!attributes.Has(eSurfelAttributeColor)) {
    throw CbException("KaCMpFtColorCode::operator()", __FILE__, __LINE__,
                      "the collection has no colour attribute");
  }
  const CyAttributeContainer::View colors = attributes.Get(eSurfelAttributeColor);
  if (colors.nElementSize != sizeof(KaCCompressedColor)) {
    throw CbException("KaCMpFtColorCode::operator()", __FILE__, __LINE__,
                      "the colour attribute does not hold three-byte colours");
  }
  auto* pData = static_cast<unsigned char*>(colors.pData);
  const unsigned int nStride = colors.nStride;

  const KaCColorCoder& coder = *m_pColorCoder;
  const std::vector<float>& values = *m_pValues;
  const KaCCompressedColor grey(
      static_cast<unsigned long>(CyColorRGBA::ConvertToUInt32(0.5f, 0.5f, 0.5f, 1.0f)));
  for (int k = 0; k < static_cast<int>(values.size()); ++k) {
    const float v = values[static_cast<std::size_t>(k)];
    KaCCompressedColor color = grey;
    if (v != std::numeric_limits<float>::max()) {
      float rgb[3];
      coder.SetColor(v, rgb);
      color = KaCCompressedColor(rgb[0], rgb[1], rgb[2]);
    }
    // Surfel index and byte offset in 32 bits.
    const unsigned int s = static_cast<unsigned int>(k) * static_cast<unsigned int>(m_iStride);
    unsigned char* p = pData + s * nStride;
    std::memcpy(p, &color, 2);  // R and G in one 16-bit store
    p[2] = color.b;
  }
}
