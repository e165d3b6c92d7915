#pragma once

/// The three body encodings of a PLY file.
enum class EPlyFormat {
  eAscii,               ///< "ascii 1.0": whitespace-separated numbers
  eBinaryLittleEndian,  ///< "binary_little_endian 1.0"
  eBinaryBigEndian      ///< "binary_big_endian 1.0"
};

/// The header keyword of a format ("ascii", "binary_little_endian", "binary_big_endian").
[[nodiscard]] const char* GetPlyFormatName(EPlyFormat eFormat) noexcept;
