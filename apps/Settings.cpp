#include "Settings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iterator>

#include <sys/stat.h>

#include <tolvane/KaCTolvaneSettings.h>

#include "InputError.h"
#include "tissue/KaCSettingsStore.h"
#include "tissue/KaCSettingsValue.h"
#include "tissue/KaCToothTissueMath.h"

namespace tolvane::cli {

namespace {

// Built with the program, after the library: registers with the store like the library's own
// settings.
KaCSettingsValue<int> s_toothTissueThreshold("ToothTissue", "Threshold",
                                             KaCToothTissueMath::c_iDefaultToothTissueThreshold);

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Text(bool b) { return KaFormatSettingText(b); }
std::string Text(float f) { return KaFormatSettingText(f); }
std::string Text(int i) { return KaFormatSettingText(i); }

template <class T>
T Parse(const std::string& key, const std::string& text, const char* what) {
  T v{};
  if (!KaParseSettingText(text, v)) {
    throw InputError("bad value '" + text + "' for " + key + ": expected " + what);
  }
  return v;
}

}  // namespace

std::string settings::ResolvePath(const std::string& strExplicit) {
  if (!strExplicit.empty()) return strExplicit;
  if (const char* env = std::getenv("TOLVANE_SETTINGS"); env != nullptr && *env != '\0') {
    return env;
  }
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    return std::string(xdg) + "/tolvane/settings.ini";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    return std::string(home) + "/.config/tolvane/settings.ini";
  }
  throw InputError("cannot place the settings file: set HOME, XDG_CONFIG_HOME or TOLVANE_SETTINGS");
}

void settings::Open(const std::string& strPath) { KaCSettingsStore::Instance().Open(strPath); }

void settings::Save() {
  // Missing directories are made private (0700): the file holds the user's configuration.
  // Several runs may create them at once.
  const std::filesystem::path parent =
      std::filesystem::path(KaCSettingsStore::Instance().GetPath()).parent_path();
  std::filesystem::path partial;
  for (const std::filesystem::path& part : parent) {
    partial /= part;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
      throw InputError(partial.string() +
                       ": cannot create the settings directory: " + std::strerror(errno));
    }
  }
  KaCSettingsStore::Instance().Save();
}

const std::vector<std::string>& settings::GetKeys() {
  static const std::vector<std::string> s_keys = {"AnalyzePhantomInteractively",
                                                  "ColorCompensate",
                                                  "QualityFromColor",
                                                  "ToothTissueBeforeSequentialRegistration",
                                                  "TrainToothTissueAtStart",
                                                  "GingivaQualityBeforeClassification",
                                                  "ColorCodedEntity"};
  return s_keys;
}

std::string settings::FindKey(const std::string& strName) {
  for (const std::string& k : GetKeys()) {
    if (Lower(k) == Lower(strName)) return k;
  }
  return {};
}

std::string settings::GetText(const std::string& strKey) {
  using S = KaCTolvaneSettings;
  if (strKey == "AnalyzePhantomInteractively") return Text(S::IsAnalyzePhantomInteractively());
  if (strKey == "ColorCompensate") return Text(S::IsColorCompensate());
  if (strKey == "QualityFromColor") return Text(S::IsQualityFromColor());
  if (strKey == "ToothTissueBeforeSequentialRegistration") {
    return Text(S::IsToothTissueBeforeSequentialRegistration());
  }
  if (strKey == "TrainToothTissueAtStart") return Text(S::IsTrainToothTissueAtStart());
  if (strKey == "GingivaQualityBeforeClassification") {
    return Text(S::GetGingivaQualityBeforeClassification());
  }
  if (strKey == "ColorCodedEntity") return Text(S::GetColorCodedEntity());
  throw InputError("unknown setting '" + strKey + "'");
}

void settings::SetText(const std::string& strKey, const std::string& strValue, bool bForce) {
  using S = KaCTolvaneSettings;
  constexpr const char* c_szBool = "true or false";
  // Read first, so that the value set is compared with (and saved over) the stored one.
  (void)GetText(strKey);
  if (strKey == "AnalyzePhantomInteractively") {
    S::SetAnalyzePhantomInteractively(Parse<bool>(strKey, strValue, c_szBool));
  } else if (strKey == "ColorCompensate") {
    S::SetColorCompensate(Parse<bool>(strKey, strValue, c_szBool));
  } else if (strKey == "QualityFromColor") {
    S::SetQualityFromColor(Parse<bool>(strKey, strValue, c_szBool));
  } else if (strKey == "ToothTissueBeforeSequentialRegistration") {
    S::SetToothTissueBeforeSequentialRegistration(Parse<bool>(strKey, strValue, c_szBool));
  } else if (strKey == "TrainToothTissueAtStart") {
    S::SetTrainToothTissueAtStart(Parse<bool>(strKey, strValue, c_szBool));
  } else if (strKey == "GingivaQualityBeforeClassification") {
    const float f = Parse<float>(strKey, strValue, "a number");
    if (!std::isfinite(f)) {
      throw InputError("bad value '" + strValue + "' for " + strKey + ": expected a number");
    }
    S::SetGingivaQualityBeforeClassification(f);
  } else if (strKey == "ColorCodedEntity") {
    const int entity = Parse<int>(strKey, strValue, "a whole number");
    // The codes KaCMpFtColorCodeByQuality colours by; any other code colours every surfel
    // alike, which is almost always a typing error.
    constexpr int c_aEntities[] = {0, 3, 6, 7, 8};
    if (!bForce && std::find(std::begin(c_aEntities), std::end(c_aEntities), entity) ==
                       std::end(c_aEntities)) {
      throw InputError("bad value '" + strValue + "' for " + strKey +
                       ": expected 0 (quality), 3 (tooth), 6 (flag byte), 7 (boundary) or 8 "
                       "(distance to a plane); --force sets another");
    }
    S::SetColorCodedEntity(entity);
  }
}

void settings::RestoreToothTissueThreshold() {
  if (!s_toothTissueThreshold.IsRead()) s_toothTissueThreshold.Read(true);
  KaCToothTissueMath::SetToothTissueThreshold(s_toothTissueThreshold.GetValue());
}

void settings::KeepToothTissueThreshold() {
  if (!s_toothTissueThreshold.IsRead()) s_toothTissueThreshold.Read(true);
  s_toothTissueThreshold.SetValue(KaCToothTissueMath::GetToothTissueThreshold());
}

}  // namespace tolvane::cli
