#include "Text.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace tolvane::cli {

std::string HtmlPageStart(const std::string& strTitle, const std::string& strExtraCss) {
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
         strTitle +
         "</title>\n<style>\n"
         "body{font-family:sans-serif;margin:2em;color:#222;max-width:1120px}\n"
         "table{border-collapse:collapse;margin:1em 0}\n"
         "td,th{border:1px solid #ccc;padding:.25em .6em;text-align:right}\n"
         "td:first-child,th:first-child,td.t{text-align:left}\n"
         "th{text-align:left}\n"
         "figure{margin:0}\n" +
         strExtraCss + "</style>\n</head>\n<body>\n<h1>" + strTitle + "</h1>\n";
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
