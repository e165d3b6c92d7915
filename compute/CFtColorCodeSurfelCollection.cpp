#include <tolvane/CFtColorCodeSurfelCollection.h>

#include <cmath>
#include <cstring>

#include "base/CbException.h"
#include "container/CyColorRGBA.h"
#include "container/KaCCompressedColor.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "tissue/KaCColorCoder.h"

void CFtColorCodeSurfelCollection::SetInput(const KaCSurfelCollectionCCT& collection,
                                            const std::vector<float>& values, float fMaxAbsValue,
                                            float fRange) {
  SetInput(collection, values, fMaxAbsValue, -fRange, fRange);
}

void CFtColorCodeSurfelCollection::SetInput(const KaCSurfelCollectionCCT& collection,
                                            const std::vector<float>& values, float fMaxAbsValue,
                                            float fMinValue, float fMaxValue) {
  m_pCollection = &collection;
  m_pValues = &values;
  m_fMaxAbsValue = fMaxAbsValue;
  m_fMinValue = fMinValue;
  m_fMaxValue = fMaxValue;
}

bool CFtColorCodeSurfelCollection::Compute() {
  if (m_pCollection == nullptr || m_pValues == nullptr) {
    throw CbException("CFtColorCodeSurfelCollection::Compute", __FILE__, __LINE__,
                      "SetInput must be called before Compute");
  }
  const std::vector<float>& values = *m_pValues;
  if (values.size() > m_pCollection->GetNrSurfels()) {
    throw CbException("CFtColorCodeSurfelCollection::Compute", __FILE__, __LINE__,
                      "more values than surfels");
  }
  KaCColorCoder coder(m_fMinValue, m_fMaxValue);
  coder.SetIntegerMode(0);
  const KaTAttributeAccessor<const KaCCompressedColor> colors =
      m_pCollection->GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  // The host hands the collection over as const but asks for its colours to change.
  auto* const pData =
      const_cast<unsigned char*>(reinterpret_cast<const unsigned char*>(colors.pData));
  const unsigned int nStride = colors.nStride;
  const KaCCompressedColor grey(
      static_cast<unsigned long>(CyColorRGBA::ConvertToUInt32(0.5f, 0.5f, 0.5f, 1.0f)));

  const int nValues = static_cast<int>(values.size());
  for (int k = 0; k < nValues; ++k) {
    const float v = values[static_cast<unsigned int>(k)];
    KaCCompressedColor c = grey;
    if (v != c_fNoValue && !(std::fabs(v) > m_fMaxAbsValue)) {
      float rgb[3];
      coder.SetColor(v, rgb);
      c = KaCCompressedColor(rgb[0], rgb[1], rgb[2]);
    }
    // Red and green as one 16-bit store, then blue.
    unsigned char* const p = pData + static_cast<unsigned int>(k) * nStride;
    std::memcpy(p, &c, 2);
    p[2] = c.b;
  }
  return true;
}
