// libFuzzer entry point for the settings file parser: any bytes either parse or throw
// CbException; what parses is written out again and parses back to the same entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/CbException.h"
#include "platform/tissue/SettingsFileFormat.h"
#include "tissue/KaCSettingsValue.h"

namespace {

// Typed keys as the library's own settings are: a key's type follows its first letter.
bool IsValid(const std::string& /*section*/, const std::string& key, const std::string& value) {
  bool b = false;
  int i = 0;
  float f = 0.0f;
  switch (key.empty() ? ' ' : key[0]) {
    case 'b':
      return KaParseSettingText(value, b);
    case 'i':
      return KaParseSettingText(value, i);
    case 'f':
      return KaParseSettingText(value, f);
    default:
      return true;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nBytes) {
  namespace sf = tolvane::settings_file;
  const std::string_view text(reinterpret_cast<const char*>(pData), nBytes);
  sf::Entries entries;
  try {
    entries = sf::Parse(text, "fuzz.ini", IsValid);
  } catch (const CbException&) {
    return 0;  // malformed input is reported, which is all that is asked
  }
  // Keys or sections holding characters that the format cannot write back ('=', ']' or a
  // line break inside a name) cannot come out of Parse, so the round trip must hold.
  const sf::Entries again = sf::Parse(sf::Format(entries), "again.ini", IsValid);
  if (again != entries) std::abort();
  return 0;
}
