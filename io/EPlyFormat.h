#pragma once

/// The three body encodings of a PLY file.
enum class EPlyFormat {
  eAscii,               ///< "ascii 1.0": whitespace-separated numbers
  eBinaryLittleEndian,  ///< "binary_little_endian 1.0"
  eBinaryBigEndian      ///< "binary_big_endian 1.0"
};

/// The header keyword of a format ("ascii", "binary_little_endian", "binary_big_endian").
[[nodiscard]] const char* GetPlyFormatName(EPlyFormat eFormat) noexcept;

/// Vertex property names of the per-surfel attributes beyond position, normal and colour, as
/// files are written: the "scalar_" prefix makes other point-cloud tools load them as scalar
/// fields. The reader also takes the names without the prefix, which older files use.
inline constexpr const char* c_szPlyQuality = "scalar_quality";
inline constexpr const char* c_szPlyTissue = "scalar_tissue";
inline constexpr const char* c_szPlyBoundary = "scalar_boundary";
inline constexpr const char* c_szPlyValue = "scalar_value";
/// The prefix those names share.
inline constexpr const char* c_szPlyScalarPrefix = "scalar_";
