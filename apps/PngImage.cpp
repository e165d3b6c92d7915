#include "PngImage.h"

#include <algorithm>
#include <stdexcept>

namespace tolvane::cli {

namespace {

std::uint32_t Crc32(const std::string& bytes, std::size_t nFrom) {
  static const auto c_table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = nFrom; i < bytes.size(); ++i) {
    c = c_table[(c ^ static_cast<unsigned char>(bytes[i])) & 0xFFu] ^ (c >> 8);
  }
  return c ^ 0xFFFFFFFFu;
}

void PutBigEndian(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFFu);
}

// Length, type, data, then the CRC over type and data.
void PutChunk(std::string& out, const char* szType, const std::string& data) {
  PutBigEndian(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t nFrom = out.size();
  out += szType;
  out += data;
  PutBigEndian(out, Crc32(out, nFrom));
}

// A zlib stream of stored deflate blocks (at most 65535 bytes each) with its Adler-32.
std::string StoredZlib(const std::string& raw) {
  std::string z = "\x78\x01";
  std::size_t pos = 0;
  do {
    const std::size_t n = std::min<std::size_t>(65535, raw.size() - pos);
    const bool bLast = pos + n == raw.size();
    z += static_cast<char>(bLast ? 1 : 0);
    z += static_cast<char>(n & 0xFFu);
    z += static_cast<char>(n >> 8);
    z += static_cast<char>(~n & 0xFFu);
    z += static_cast<char>((~n >> 8) & 0xFFu);
    z.append(raw, pos, n);
    pos += n;
  } while (pos < raw.size());
  std::uint32_t a = 1;
  std::uint32_t b = 0;
  for (char ch : raw) {
    a = (a + static_cast<unsigned char>(ch)) % 65521u;
    b = (b + a) % 65521u;
  }
  PutBigEndian(z, (b << 16) | a);
  return z;
}

}  // namespace

std::string PngImage::Encode() const {
  if (nWidth == 0 || nHeight == 0 || vecPalette.empty() || vecPalette.size() > 256 ||
      vecPixels.size() != static_cast<std::size_t>(nWidth) * nHeight) {
    throw std::invalid_argument("PngImage: empty image, bad palette or pixel count");
  }
  std::string out = "\x89PNG\r\n\x1a\n";
  std::string header;
  PutBigEndian(header, nWidth);
  PutBigEndian(header, nHeight);
  header += std::string("\x08\x03\x00\x00\x00", 5);  // 8 bits, palette, deflate, no interlace
  PutChunk(out, "IHDR", header);
  std::string palette;
  for (const auto& c : vecPalette) palette.append(reinterpret_cast<const char*>(c.data()), 3);
  PutChunk(out, "PLTE", palette);
  // Every row starts with filter type 0 (none).
  std::string raw;
  raw.reserve(static_cast<std::size_t>(nWidth + 1) * nHeight);
  for (unsigned int y = 0; y < nHeight; ++y) {
    raw += '\0';
    raw.append(
        reinterpret_cast<const char*>(vecPixels.data()) + static_cast<std::size_t>(y) * nWidth,
        nWidth);
  }
  PutChunk(out, "IDAT", StoredZlib(raw));
  PutChunk(out, "IEND", std::string());
  return out;
}

}  // namespace tolvane::cli
