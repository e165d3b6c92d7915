#pragma once

#include <string>

// Text helpers of the tool.

/// UTF-8 of a wide string (UTF-32 code points, as wchar_t holds them here).
[[nodiscard]] std::string KaToUtf8(const std::wstring& strText);
/// The shortest decimal form that reads back to the same float; "null" when not finite (for
/// JSON).
[[nodiscard]] std::string KaJsonNumber(float fValue);
/// The same for a double.
[[nodiscard]] std::string KaJsonNumber(double fValue);
/// A JSON string literal, quotes included.
[[nodiscard]] std::string KaJsonString(const std::string& strText);
/// Text safe inside HTML elements and attribute values.
[[nodiscard]] std::string KaHtmlEscape(const std::string& strText);
/// printf-style formatting into a std::string.
[[nodiscard]] std::string KaFormat(const char* szFormat, ...) __attribute__((format(printf, 1, 2)));
