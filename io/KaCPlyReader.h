#pragma once

#include <cstddef>
#include <string>

#include "base/CbSmartPointer.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "io/EPlyFormat.h"

/// Reads a surfel collection from a PLY file ("ascii", "binary_little_endian" or
/// "binary_big_endian", version 1.0).
///
/// The surfels come from the element "vertex", whose properties map to attributes:
/// - x y z (required; any numeric type, must be finite): the position;
/// - nx ny nz (all three or none): the normal, encoded to the nearest normal code. A direction
///   that is exactly the direction of a code keeps that code, so files this module wrote read
///   back bit for bit; the zero vector gives the unset normal;
/// - red green blue (all three or none): uchar as it is, ushort scaled by 255/65535, float and
///   double scaled from 0..1, other integer types clamped to 0..255;
/// - quality (or, when absent, scalar_quality): the quality, as a float;
/// - tissue, boundary, value: also read under the names the writer uses, scalar_tissue,
///   scalar_boundary and scalar_value, when the plain name is absent;
/// - tissue (integer 0..3): the tissue type; boundary (nonzero means set): the boundary flag;
/// - value (uint): the four-byte attribute 105.
/// Every other property, list properties and every other element (faces, edges, ...) are
/// skipped; comment and obj_info lines are ignored. Attributes a file lacks take the
/// collection's defaults (unset normal, mid grey, quality 1, tooth, no boundary flag, 0).
///
/// Malformed input throws CbException whose message starts with the file name and says what is
/// wrong: no "ply" line, an unknown format, a header without "end_header" (or longer than
/// c_nMaxHeaderBytes), a missing vertex element or missing x y z, a header that claims more data
/// than the body holds, a truncated body, a number that does not parse or does not fit its type.
/// Every count is checked against the bytes left before anything is allocated, so the memory
/// used stays proportional to the file's size.
///
/// The collection is new, in the full attribute set (float qualities), and owned by the
/// returned pointer. Stateless: may be called from several threads at once.
class KaCPlyReader {
 public:
  /// Which attributes a file held, and its encoding.
  struct Contents {
    EPlyFormat eFormat = EPlyFormat::eAscii;
    bool bNormals = false;
    bool bColors = false;
    bool bQualities = false;
    bool bTissueTypes = false;
    bool bBoundaryFlags = false;
    bool bValues = false;
  };

  /// Largest header accepted, in bytes.
  static constexpr std::size_t c_nMaxHeaderBytes = std::size_t{1} << 20;

  /// Reads the file at strPath. pContents, when not null, receives what the file held.
  [[nodiscard]] static CbSmartPointer<KaCSurfelCollectionCCT> ReadFile(
      const std::string& strPath, Contents* pContents = nullptr);
  /// Reads a PLY file held in memory; strName stands for the file in error messages.
  [[nodiscard]] static CbSmartPointer<KaCSurfelCollectionCCT> ReadBuffer(
      const void* pData, std::size_t nBytes, const std::string& strName,
      Contents* pContents = nullptr);
};
