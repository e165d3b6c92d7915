#include <tolvane/KaCMpFtColorCompensate.h>

#include <algorithm>

#include "container/KaCNormalCodec.h"

const float KaCMpFtColorCompensate::ms_fSpecularity = 230.0f;

KaCMpFtColorCompensate::KaCMpFtColorCompensate() = default;

KaCMpFtColorCompensate::KaCMpFtColorCompensate(const KaCMpFtColorCompensate& other) = default;

KaCMpFtColorCompensate& KaCMpFtColorCompensate::operator=(const KaCMpFtColorCompensate& other) =
    default;

KaCMpFtColorCompensate::~KaCMpFtColorCompensate() = default;

void KaCMpFtColorCompensate::operator()(KaCSurfelCollectionCCT& collection) const {
  colorCompensateLambert(collection);
}

void KaCMpFtColorCompensate::colorCompensateLambert(KaCSurfelCollectionCCT& collection) const {
  const KaTAttributeAccessor<KaCCompressedColor> colors =
      collection.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  const KaTAttributeAccessor<unsigned short> normals = collection.GetNormalAccessor();
  const CbVector3f* const pNormalTable = KaCNormalCodec::GetTable();
  const float fSpecularSum = 3.0f * ms_fSpecularity;

  // Every step is in 32-bit floats in this order, so results are the same on every build.
  for (unsigned int i = 0; i < collection.GetNrSurfels(); ++i) {
    KaCCompressedColor& color = colors[i];
    const float r = static_cast<float>(color.r);
    const float g = static_cast<float>(color.g);
    const float b = static_cast<float>(color.b);
    const float sum = r + g + b;

    const CbVector3f& n = pNormalTable[normals[i]];
    const float d = std::max(0.0f, -n.z);
    const float f = 1.3f / (d + 0.3f);

    float rc = r * f;
    float gc = g * f;
    float bc = b * f;
    if (!(rc < 255.0f)) rc = 255.0f;
    if (!(gc < 255.0f)) gc = 255.0f;
    if (!(bc < 255.0f)) bc = 255.0f;

    if (rc + gc + bc >= fSpecularSum && sum < fSpecularSum) continue;
    color = KaCCompressedColor(static_cast<unsigned char>(rc), static_cast<unsigned char>(gc),
                               static_cast<unsigned char>(bc));
  }
}
