#include "Text.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace tolvane::cli {

std::string ToUtf8(const std::wstring& strText) {
  std::string out;
  out.reserve(strText.size());
  for (const wchar_t wc : strText) {
    auto c = static_cast<std::uint32_t>(wc);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

namespace {

template <class T>
std::string Shortest(T v) {
  if (!std::isfinite(v)) return "null";
  char buf[64];
  const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, v);
  (void)ec;  // 64 characters hold every float and double
  return std::string(buf, ptr);
}

}  // namespace

std::string JsonNumber(float fValue) { return Shortest(fValue); }
std::string JsonNumber(double fValue) { return Shortest(fValue); }

std::string JsonString(const std::string& strText) {
  std::string out = "\"";
  for (const char c : strText) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += Format("\\u%04x", static_cast<unsigned int>(static_cast<unsigned char>(c)));
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

std::string HtmlEscape(const std::string& strText) {
  std::string out;
  for (const char c : strText) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Format(const char* szFormat, ...) {
  va_list args;
  va_start(args, szFormat);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, szFormat, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    std::vector<char> buf(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(buf.data(), buf.size(), szFormat, args);
    out.assign(buf.data(), static_cast<std::size_t>(n));
  }
  va_end(args);
  return out;
}

std::string ToBase64(std::string_view bytes) {
  static const char c_digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                            static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1]))
                                << 8 |
                            static_cast<unsigned char>(bytes[i + 2]);
    out += c_digits[v >> 18];
    out += c_digits[(v >> 12) & 63];
    out += c_digits[(v >> 6) & 63];
    out += c_digits[v & 63];
  }
  if (i < bytes.size()) {
    std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (i + 1 < bytes.size()) {
      v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    }
    out += c_digits[v >> 18];
    out += c_digits[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? c_digits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace tolvane::cli
