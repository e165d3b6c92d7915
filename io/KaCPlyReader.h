#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/CbSmartPointer.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "io/EPlyFormat.h"

namespace tolvane {
class ByteSource;
}

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
/// - quality: the quality, as a float;
/// - tissue (integer 0..3): the tissue type; boundary (nonzero means set): the boundary flag;
/// - value (uint): the four-byte attribute 105.
/// The last four are also read under the names the writer gives them, with the prefix
/// "scalar_" (scalar_quality, ...); a property under the plain name wins over the prefixed one.
/// Every other property, list properties and every other element (edges, ...) are skipped;
/// comment and obj_info lines are ignored. Attributes a file lacks take the collection's
/// defaults (unset normal, mid grey, quality 1, tooth, no boundary flag, 0).
///
/// The header is read and checked before the body. The body is streamed through a small
/// buffer: memory is the collection plus that buffer, whatever the file's size, and inputs
/// whose size is unknown (standard input, pipes) are read to their end. ASCII bodies are read
/// line by line: each row is one line holding exactly the values its element declares. Only
/// white space may follow the last element, in every encoding.
///
/// Malformed input throws CbException whose message starts with the input's name and says what
/// is wrong (with the line number in ASCII bodies): no "ply" line, an unknown format, a header
/// without "end_header" (or longer than c_nMaxHeaderBytes), a missing vertex element or missing
/// x y z, a header that claims more data than the body holds, a truncated body, a row with
/// fewer or more values than declared, a number that does not parse or does not fit its type,
/// data after the last element. Counts are checked against the bytes left, where the input's
/// size is known, before anything is allocated; otherwise the collection grows only as rows
/// arrive, so memory stays proportional to what was read.
///
/// A value that does not fit its attribute is never changed silently: colours out of range
/// (clamped), values that are not a 32-bit unsigned integer (clamped, truncated), qualities
/// beyond the float range and boundary flags other than 0 and 1 each add one warning to
/// Contents::vecWarnings, naming the property and the number of rows. The reader never prints.
///
/// The collection is new, in the full attribute set (float qualities), and owned by the
/// returned pointer. Stateless: may be called from several threads at once.
class KaCPlyReader {
 public:
  /// Which attributes a file held, its encoding, and what was changed to fit.
  struct Contents {
    EPlyFormat eFormat = EPlyFormat::eAscii;
    bool bNormals = false;
    bool bColors = false;
    bool bQualities = false;
    bool bTissueTypes = false;
    bool bBoundaryFlags = false;
    bool bValues = false;
    /// Rows of the element "face" (0 when there is none).
    std::uint64_t nFaces = 0;
    /// One line per property whose values were changed to fit their attribute, for example
    /// "red: 3 rows out of range, clamped to 0..255".
    std::vector<std::string> vecWarnings;
  };

  /// Largest header accepted, in bytes.
  static constexpr std::size_t c_nMaxHeaderBytes = std::size_t{1} << 20;
  /// Longest ASCII line accepted, in bytes.
  static constexpr std::size_t c_nMaxLineBytes = std::size_t{1} << 20;

  /// Reads the file at strPath; "-" is standard input. pContents, when not null, receives what
  /// the file held.
  [[nodiscard]] static CbSmartPointer<KaCSurfelCollectionCCT> ReadFile(
      const std::string& strPath, Contents* pContents = nullptr);
  /// Reads a PLY file held in memory; strName stands for the file in error messages.
  [[nodiscard]] static CbSmartPointer<KaCSurfelCollectionCCT> ReadBuffer(
      const void* pData, std::size_t nBytes, const std::string& strName,
      Contents* pContents = nullptr);
  /// Reads from source up to its end. With pTriangles, the polygons of the element "face"
  /// (list property vertex_indices or vertex_index) are appended as triangles, three vertex
  /// indices each, polygons split into fans; an index beyond the vertices throws.
  [[nodiscard]] static CbSmartPointer<KaCSurfelCollectionCCT> Read(
      tolvane::ByteSource& source, Contents* pContents = nullptr,
      std::vector<std::uint32_t>* pTriangles = nullptr);
};
