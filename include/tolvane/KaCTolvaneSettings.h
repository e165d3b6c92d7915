#pragma once

#include <tolvane/Export.h>

#include "tissue/KaCSettingsValue.h"

/// The library's seven persistent settings, in the section "Tolvane" of the settings store
/// (KaCSettingsStore). All members are static. A getter reads its value from the store on its
/// first call and returns the value held in memory afterwards; a setter stores a different
/// value in memory and marks it changed (an equal value changes nothing; NaN always differs).
/// Changed values reach the store's file when the host calls KaCSettingsStore::Save() and when
/// the library unloads.
///
/// Threads: no locks; call the getters and setters from one thread at a time.
class TOLVANE_API KaCTolvaneSettings {
 public:
  KaCTolvaneSettings() = default;
  ~KaCTolvaneSettings() = default;
  KaCTolvaneSettings(const KaCTolvaneSettings&) = default;
  KaCTolvaneSettings& operator=(const KaCTolvaneSettings&) = default;

  /// For the host only. Default false.
  [[nodiscard]] static bool IsAnalyzePhantomInteractively();
  static void SetAnalyzePhantomInteractively(bool bValue);
  /// Adds the colour compensation to acquisition pipelines built afterwards. Default true.
  [[nodiscard]] static bool IsColorCompensate();
  static void SetColorCompensate(bool bValue);
  /// With ToothTissueBeforeSequentialRegistration: classify tooth and gingiva from colour.
  /// Default true.
  [[nodiscard]] static bool IsQualityFromColor();
  static void SetQualityFromColor(bool bValue);
  /// Default true.
  [[nodiscard]] static bool IsToothTissueBeforeSequentialRegistration();
  static void SetToothTissueBeforeSequentialRegistration(bool bValue);
  /// Learn the tooth tissue threshold at the start of a scan. Default false.
  [[nodiscard]] static bool IsTrainToothTissueAtStart();
  static void SetTrainToothTissueAtStart(bool bValue);
  /// Factor applied to the quality of surfels classified as gingiva. Default 0.5.
  [[nodiscard]] static float GetGingivaQualityBeforeClassification();
  static void SetGingivaQualityBeforeClassification(float fValue);
  /// Which per-surfel value colour coding by quality shows (0: the quality). Default 0.
  [[nodiscard]] static int GetColorCodedEntity();
  static void SetColorCodedEntity(int iValue);

 private:
  static KaCSettingsValue<bool> m_bAnalyzePhantomInteractively;
  static KaCSettingsValue<bool> m_bColorCompensate;
  static KaCSettingsValue<bool> m_bQualityFromColor;
  static KaCSettingsValue<bool> m_bToothTissueBeforeSequentialRegistration;
  static KaCSettingsValue<bool> m_bTrainToothTissueAtStart;
  static KaCSettingsValue<float> m_fGingivaQualityBeforeClassification;
  static KaCSettingsValue<int> m_iColorCodedEntity;
};
