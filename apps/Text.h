#pragma once

#include <string>
#include <string_view>

namespace tolvane::cli {

// Text helpers of the tool.

/// UTF-8 of a wide string (UTF-32 code points, as wchar_t holds them here).
[[nodiscard]] std::string ToUtf8(const std::wstring& strText);
/// The shortest decimal form that reads back to the same float; "null" when not finite (for
/// JSON).
[[nodiscard]] std::string JsonNumber(float fValue);
/// The same for a double.
[[nodiscard]] std::string JsonNumber(double fValue);
/// A JSON string literal, quotes included.
[[nodiscard]] std::string JsonString(const std::string& strText);
/// Text safe inside HTML elements and attribute values.
[[nodiscard]] std::string HtmlEscape(const std::string& strText);
/// Base64 (RFC 4648, with padding) of bytes, e.g. for a data: URI.
[[nodiscard]] std::string ToBase64(std::string_view bytes);
/// printf-style formatting into a std::string.
[[nodiscard]] std::string Format(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tolvane::cli
