#include <tolvane/KaCTolvaneSettings.h>

namespace {

constexpr const char* c_szSection = "Tolvane";

// Read once: the first getter call reads the store, later calls return the held value.
template <class T>
const T& Get(KaCSettingsValue<T>& value) {
  if (!value.IsRead()) value.Read(true);
  return value.GetValue();
}

}  // namespace

// Defined in table order in one translation unit, so they are built in this order when the
// library loads and destroyed in reverse order when it unloads.
KaCSettingsValue<bool> KaCTolvaneSettings::m_bAnalyzePhantomInteractively(
    c_szSection, "AnalyzePhantomInteractively", false);
KaCSettingsValue<bool> KaCTolvaneSettings::m_bColorCompensate(c_szSection, "ColorCompensate", true);
KaCSettingsValue<bool> KaCTolvaneSettings::m_bQualityFromColor(c_szSection, "QualityFromColor",
                                                               true);
KaCSettingsValue<bool> KaCTolvaneSettings::m_bToothTissueBeforeSequentialRegistration(
    c_szSection, "ToothTissueBeforeSequentialRegistration", true);
KaCSettingsValue<bool> KaCTolvaneSettings::m_bTrainToothTissueAtStart(c_szSection,
                                                                      "TrainToothTissueAtStart",
                                                                      false);
KaCSettingsValue<float> KaCTolvaneSettings::m_fGingivaQualityBeforeClassification(
    c_szSection, "GingivaQualityBeforeClassification", 0.5f);
KaCSettingsValue<int> KaCTolvaneSettings::m_iColorCodedEntity(c_szSection, "ColorCodedEntity", 0);

bool KaCTolvaneSettings::IsAnalyzePhantomInteractively() {
  return Get(m_bAnalyzePhantomInteractively);
}
void KaCTolvaneSettings::SetAnalyzePhantomInteractively(bool bValue) {
  m_bAnalyzePhantomInteractively.SetValue(bValue);
}

bool KaCTolvaneSettings::IsColorCompensate() { return Get(m_bColorCompensate); }
void KaCTolvaneSettings::SetColorCompensate(bool bValue) { m_bColorCompensate.SetValue(bValue); }

bool KaCTolvaneSettings::IsQualityFromColor() { return Get(m_bQualityFromColor); }
void KaCTolvaneSettings::SetQualityFromColor(bool bValue) { m_bQualityFromColor.SetValue(bValue); }

bool KaCTolvaneSettings::IsToothTissueBeforeSequentialRegistration() {
  return Get(m_bToothTissueBeforeSequentialRegistration);
}
void KaCTolvaneSettings::SetToothTissueBeforeSequentialRegistration(bool bValue) {
  m_bToothTissueBeforeSequentialRegistration.SetValue(bValue);
}

bool KaCTolvaneSettings::IsTrainToothTissueAtStart() { return Get(m_bTrainToothTissueAtStart); }
void KaCTolvaneSettings::SetTrainToothTissueAtStart(bool bValue) {
  m_bTrainToothTissueAtStart.SetValue(bValue);
}

float KaCTolvaneSettings::GetGingivaQualityBeforeClassification() {
  return Get(m_fGingivaQualityBeforeClassification);
}
void KaCTolvaneSettings::SetGingivaQualityBeforeClassification(float fValue) {
  m_fGingivaQualityBeforeClassification.SetValue(fValue);
}

int KaCTolvaneSettings::GetColorCodedEntity() { return Get(m_iColorCodedEntity); }
void KaCTolvaneSettings::SetColorCodedEntity(int iValue) { m_iColorCodedEntity.SetValue(iValue); }
