#include "SettingsFileFormat.h"

#include <sstream>

#include "base/CbException.h"

namespace tolvane::settings_file {

namespace {

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

}  // namespace

Entries Parse(std::string_view text, const std::string& strName, const Validator& isValid) {
  Entries parsed;
  std::string section;
  bool bHaveSection = false;
  int lineNo = 0;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNo;
    const std::string_view t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    const auto fail = [&](int sourceLine, const std::string& problem) {
      throw CbException("KaCSettingsStore::Open", __FILE__, sourceLine,
                        strName + ":" + std::to_string(lineNo) + ": " + problem);
    };
    if (t.front() == '[') {
      if (t.back() != ']') fail(__LINE__, "malformed section header");
      section = std::string(Trim(t.substr(1, t.size() - 2)));
      if (section.empty()) fail(__LINE__, "malformed section header");
      bHaveSection = true;
      parsed[section];
      continue;
    }
    const auto eq = t.find('=');
    if (eq == std::string_view::npos || eq == 0) fail(__LINE__, "expected key=value");
    if (!bHaveSection) fail(__LINE__, "key=value before any [section]");
    const std::string key(Trim(t.substr(0, eq)));
    const std::string value(Trim(t.substr(eq + 1)));
    if (isValid && !isValid(section, key, value)) {
      fail(__LINE__, "bad value '" + value + "' for " + key);
    }
    parsed[section][key] = value;
  }
  return parsed;
}

std::string Format(const Entries& entries) {
  std::ostringstream out;
  bool first = true;
  for (const auto& [section, keys] : entries) {
    if (!first) out << '\n';
    first = false;
    out << '[' << section << "]\n";
    for (const auto& [key, value] : keys) out << key << '=' << value << '\n';
  }
  return out.str();
}

}  // namespace tolvane::settings_file
