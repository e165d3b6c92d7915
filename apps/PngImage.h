#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tolvane::cli {

/// An image of palette indices, written as an 8-bit palette PNG. The zlib stream holds stored
/// (uncompressed) deflate blocks: a valid PNG every viewer reads, without a compression library,
/// at one byte per pixel plus a few bytes per row and block.
struct PngImage {
  unsigned int nWidth = 0;
  unsigned int nHeight = 0;
  std::vector<std::array<std::uint8_t, 3>> vecPalette;  ///< 1 to 256 colours
  std::vector<std::uint8_t> vecPixels;                  ///< nWidth x nHeight indices, by rows

  /// The PNG file's bytes. Throws std::invalid_argument for an empty image, a palette of 0 or
  /// more than 256 colours, or a pixel count that does not match.
  [[nodiscard]] std::string Encode() const;
};

}  // namespace tolvane::cli
