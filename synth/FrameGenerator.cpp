#include "synth/FrameGenerator.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace tolvane::synth {

namespace {

unsigned char Channel(float v) {
  return static_cast<unsigned char>(std::clamp(std::lround(v), 0L, 255L));
}

}  // namespace

FrameGenerator::FrameGenerator(unsigned int nNrSurfels, unsigned int nSeed)
    : m_nNrSurfels(nNrSurfels), m_nSeed(nSeed) {}

CbSmartPointer<KaCSurfelCollectionCCT> FrameGenerator::Generate(unsigned int nFrame) const {
  CbSmartPointer<KaCSurfelCollectionCCT> sp(
      new KaCSurfelCollectionCCT(m_nNrSurfels, true, eSurfelAttributeSetFull));
  // One engine per frame, so that a frame does not depend on the frames generated before it.
  std::mt19937 rng(m_nSeed * 7919u + nFrame);
  std::uniform_real_distribution<float> ux(0.0f, 10.0f);
  std::uniform_real_distribution<float> uy(-4.0f, 4.0f);
  std::normal_distribution<float> noise(0.0f, 0.01f);
  std::uniform_real_distribution<float> brightness(0.85f, 1.08f);
  std::normal_distribution<float> tint(0.0f, 3.0f);
  std::uniform_real_distribution<float> share(-0.45f, 0.45f);

  const float x0 = 1.5f * static_cast<float>(nFrame);
  const float bandOffset = share(rng);
  auto positions = sp->GetAccessor<CbVector3f>(eSurfelAttributePosition);
  auto normals = sp->GetNormalAccessor();
  auto colors = sp->GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  auto values = sp->GetAccessor<unsigned int>(eSurfelAttributeValue);
  for (unsigned int i = 0; i < m_nNrSurfels; ++i) {
    const float x = x0 + ux(rng);
    const float y = uy(rng);
    const float z = 0.02f * (x * x + y * y);
    positions[i] = CbVector3f(x + noise(rng), y + noise(rng), z + noise(rng));
    normals[i] = KaCNormalCodec::Encode(CbVector3f(0.04f * x, 0.04f * y, -1.0f));
    // The tooth band: where a wavy function of the position exceeds the frame's offset.
    const bool bTooth = std::sin(0.8f * x) * 0.6f + std::sin(1.3f * y) * 0.4f > bandOffset;
    const unsigned char* base = bTooth ? c_toothColor : c_gingivaColor;
    const float b = brightness(rng);
    colors[i] =
        KaCCompressedColor(Channel(base[0] * b + tint(rng)), Channel(base[1] * b + tint(rng)),
                           Channel(base[2] * b + tint(rng)));
    values[i] = nFrame;
  }
  return sp;
}

}  // namespace tolvane::synth
