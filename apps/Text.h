#pragma once

#include <string>
#include <string_view>

#include "base/JsonText.h"

namespace tolvane::cli {

// Text helpers of the tool; the JSON and UTF-8 ones (ToUtf8, JsonNumber, JsonString) live in
// base/JsonText.h, shared with the library.
/// Text safe inside HTML elements and attribute values.
[[nodiscard]] std::string HtmlEscape(const std::string& strText);
/// The start of a self-contained report page, up to its heading: the document head with the
/// reports' common style sheet plus strExtraCss (rules of its own, each ending in a newline),
/// then <body> and an <h1> of strTitle. Both are written as given (not escaped).
[[nodiscard]] std::string HtmlPageStart(const std::string& strTitle,
                                        const std::string& strExtraCss);
/// Base64 (RFC 4648, with padding) of bytes, e.g. for a data: URI.
[[nodiscard]] std::string ToBase64(std::string_view bytes);
/// printf-style formatting into a std::string.
[[nodiscard]] std::string Format(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tolvane::cli
