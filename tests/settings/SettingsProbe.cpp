// Usage: tolvane_settings_probe FILE get
//        tolvane_settings_probe FILE set-entity N      (changes ColorCodedEntity, no Save)
//        tolvane_settings_probe FILE set-gingiva F     (changes the gingiva quality, then Save)
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include <tolvane/KaCTolvaneSettings.h>

#include "tissue/KaCSettingsStore.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  try {
    KaCSettingsStore::Instance().Open(argv[1]);
    const std::string cmd = argv[2];
    if (cmd == "get") {
      std::printf("%d %d %.9g\n", KaCTolvaneSettings::GetColorCodedEntity(),
                  KaCTolvaneSettings::IsColorCompensate() ? 1 : 0,
                  static_cast<double>(KaCTolvaneSettings::GetGingivaQualityBeforeClassification()));
    } else if (cmd == "set-entity" && argc == 4) {
      // Written back when the library unloads at exit.
      KaCTolvaneSettings::SetColorCodedEntity(std::atoi(argv[3]));
    } else if (cmd == "set-gingiva" && argc == 4) {
      KaCTolvaneSettings::SetGingivaQualityBeforeClassification(std::strtof(argv[3], nullptr));
      KaCSettingsStore::Instance().Save();
    } else {
      return 2;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
