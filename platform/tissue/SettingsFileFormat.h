#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace tolvane::settings_file {

/// The contents of a settings file: key=value entries under [section] headers.
using Section = std::map<std::string, std::string>;
using Entries = std::map<std::string, Section>;
/// Says whether a value is acceptable for a key of a section.
using Validator = std::function<bool(const std::string& section, const std::string& key,
                                     const std::string& value)>;

/// Parses the text of a settings file: "[section]" headers, "key=value" lines (white space
/// around both trimmed), blank lines and lines starting with ';' or '#'. Throws CbException
/// "NAME:LINE: problem" for a malformed header, a line without '=', a key before any section
/// or a value that isValid refuses.
[[nodiscard]] Entries Parse(std::string_view text, const std::string& strName,
                            const Validator& isValid);
/// The text of a settings file, sections and keys in sorted order; Parse gives it back.
[[nodiscard]] std::string Format(const Entries& entries);

}  // namespace tolvane::settings_file
