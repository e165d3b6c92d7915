#pragma once

#include <tolvane/Export.h>

#include "container/KaAMpFtSurfelCollection.h"
#include "container/KaCCompressedColor.h"
#include "tissue/KaCToothTissueMath.h"

/// Tooth/gingiva classification from colour. A colour's hue (KaCToothTissueMath::GetHue, in
/// degrees) is turned by the hue offset, (hue + offset) % 360 with the sign of the dividend as
/// C's remainder gives it; a result above the threshold is tooth (tissue type 0, quality
/// unchanged), anything else, equality included, gingiva (tissue type 3, quality multiplied by
/// the gingiva quality factor). Colours are never changed.
///
/// The per-colour decision is a public virtual so that other filters (the tissue training
/// during acquisition) can call it for one surfel at a time; the filter operator runs it over
/// every surfel of a collection through that virtual and then drops the collection's support
/// structures.
///
/// Create with new and hold through CbSmartPointer. Keeps nothing by address; its fields do not
/// change after construction, so one classifier may run on different collections from several
/// threads at once.
class TOLVANE_API KaCMpFtSegmentTeethClassifier : public KaAMpFtSurfelCollection {
 public:
  /// Tissue types written.
  static constexpr unsigned char c_nToothTissue = 0;
  static constexpr unsigned char c_nGingivaTissue = 3;

  /// iToothTissueThreshold: shifted hue in degrees above which a colour is tooth.
  /// iHueOffset: degrees added to the hue before the comparison.
  /// fGingivaQuality: factor applied to the quality of gingiva surfels.
  /// fTargetQualitySum, bRescaleGingiva: drive an optional rescaling of gingiva qualities
  /// towards a target sum over the tooth and gingiva counts, which stay 0, so that it never
  /// changes anything; both are kept and copied.
  KaCMpFtSegmentTeethClassifier(int iToothTissueThreshold, int iHueOffset, float fGingivaQuality,
                                float fTargetQualitySum, bool bRescaleGingiva);
  KaCMpFtSegmentTeethClassifier(const KaCMpFtSegmentTeethClassifier& other);
  KaCMpFtSegmentTeethClassifier& operator=(const KaCMpFtSegmentTeethClassifier& other);
  ~KaCMpFtSegmentTeethClassifier() override;

  /// The map: a classified copy; the argument stays as it is.
  using KaAMpFtSurfelCollection::operator();

  /// Decides for one colour: writes the tissue type (0 tooth, 3 gingiva) and scales the
  /// quality. The colour is read only; it is passed by reference as the collection stores it.
  /// Defined here so that callers in other units can inline it when the object is known to be
  /// a plain classifier.
  virtual void operator()(KaCCompressedColor& color, unsigned char& tissueType,
                          float& quality) const {
    const int packed = color.r * 65536 + color.g * 256 + color.b;
    const int hue = KaCToothTissueMath::GetHue(static_cast<unsigned long>(packed));
    // C's remainder keeps the dividend's sign: a negative offset can give a negative result.
    const int shifted = (hue + m_iHueOffset) % 360;
    if (shifted > m_iToothTissueThreshold) {
      tissueType = c_nToothTissue;
      quality *= 1.0f;
    } else {
      tissueType = c_nGingivaTissue;
      quality *= m_fGingivaQuality;
    }
  }

  /// Classifies every surfel in place: tissue type always written, quality written only where
  /// it changed (in compact storage as trunc(q x 15) / 15). Drops the collection's support
  /// structures on every way out, also for an empty collection. Throws CbException before any
  /// change when the collection has no colour attribute of three bytes.
  void operator()(KaCSurfelCollectionCCT& collection) const override;

  /// The per-surfel part of the filter, without the reset of the support structures: every
  /// surfel's colour goes through the per-colour decision (through its virtual slot), the tissue
  /// type is written always and the quality where it changed. When the decision is this
  /// class's own, whole blocks are decided at once with the same results.
  void ClassifySurfels(KaCSurfelCollectionCCT& collection) const;

  [[nodiscard]] int GetToothTissueThreshold() const noexcept { return m_iToothTissueThreshold; }
  [[nodiscard]] int GetHueOffset() const noexcept { return m_iHueOffset; }
  [[nodiscard]] float GetGingivaQuality() const noexcept { return m_fGingivaQuality; }

 private:
  void rescaleGingiva(KaCSurfelCollectionCCT& collection) const;

  float m_fGingivaQuality;
  int m_iToothTissueThreshold;
  int m_iHueOffset;
  float m_fTargetQualitySum;
  float m_fRescaleGingiva;
  unsigned int m_nToothCount;
  unsigned int m_nGingivaCount;
};
