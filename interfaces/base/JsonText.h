#pragma once

#include <tolvane/Export.h>

#include <string>

namespace tolvane {

// Text for JSON output, shared by the library's JSON forms and the tool. Pure functions of
// their arguments; callable from any thread.

/// UTF-8 of a wide string (UTF-32 code points, as wchar_t holds them here); a value that is
/// no code point becomes U+FFFD.
[[nodiscard]] TOLVANE_API std::string ToUtf8(const std::wstring& strText);
/// The shortest decimal form that reads back to the same float; "null" when not finite.
[[nodiscard]] TOLVANE_API std::string JsonNumber(float fValue);
/// The same for a double.
[[nodiscard]] TOLVANE_API std::string JsonNumber(double fValue);
/// A JSON string literal of UTF-8 text, quotes included.
[[nodiscard]] TOLVANE_API std::string JsonString(const std::string& strText);

}  // namespace tolvane
