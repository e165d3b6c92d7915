#pragma once

#include <string>
#include <string_view>

#include "base/JsonText.h"

namespace tolvane::cli {

// Text helpers of the tool; the JSON and UTF-8 ones (ToUtf8, JsonNumber, JsonString) live in
// base/JsonText.h, shared with the library.
/// Text safe inside HTML elements and attribute values.
[[nodiscard]] std::string HtmlEscape(const std::string& strText);
/// Base64 (RFC 4648, with padding) of bytes, e.g. for a data: URI.
[[nodiscard]] std::string ToBase64(std::string_view bytes);
/// printf-style formatting into a std::string.
[[nodiscard]] std::string Format(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tolvane::cli
