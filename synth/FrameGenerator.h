#pragma once

#include "base/CbSmartPointer.h"
#include "container/KaCSurfelCollectionCCT.h"

namespace tolvane::synth {

/// Synthetic acquisition frames for trying the acquisition pipeline and the tissue filters:
/// each frame is a 10 mm x 8 mm patch of a shallow bowl, z = 0.02 (x^2 + y^2) mm, seen by a
/// scanner looking along +z (normals towards -z), with 0.01 mm Gaussian position noise. Frame
/// k covers x from 1.5 k to 1.5 k + 10 mm, so consecutive frames overlap like a sweep along a
/// jaw. A wavy band across the patch is tooth-coloured (ivory, hue about 42 degrees) and the
/// rest gingiva-coloured (pink-red, hue about 352 degrees), each with a random brightness and
/// a little colour noise; the tooth share varies from frame to frame between about a third
/// and two thirds. Qualities are 1, tissue types 0, boundary flags clear, and attribute 105
/// holds the frame number.
///
/// Deterministic for a given seed and frame (std::mt19937); const, so one generator may serve
/// several threads.
class FrameGenerator {
 public:
  /// nNrSurfels per frame, and one seed for all frames of a sequence.
  FrameGenerator(unsigned int nNrSurfels, unsigned int nSeed);

  /// Frame k of the sequence: a new collection (full attribute set) owned by the caller.
  [[nodiscard]] CbSmartPointer<KaCSurfelCollectionCCT> Generate(unsigned int nFrame) const;

  /// The base colours (before brightness and noise) of the two tissues.
  static constexpr unsigned char c_toothColor[3] = {232, 218, 186};
  static constexpr unsigned char c_gingivaColor[3] = {196, 96, 110};

 private:
  unsigned int m_nNrSurfels;
  unsigned int m_nSeed;
};

}  // namespace tolvane::synth
