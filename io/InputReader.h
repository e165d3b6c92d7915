#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/CbSmartPointer.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "io/KaCPlyReader.h"

namespace tolvane {

class ByteSource;

/// Reads a surfel collection from any input format the tool takes, recognised by its content
/// (the file name's extension only settles what the content leaves open):
/// - PLY point sets and meshes (KaCPlyReader); a PLY mesh without nx ny nz gets vertex normals
///   computed from its faces;
/// - STL, binary and ASCII: one surfel per distinct vertex (vertices at the same position are
///   merged), with the vertex normal computed from the faces;
/// - OBJ: one surfel per "v" line (optional r g b after x y z give the colour, 0..1); normals
///   from the "vn" the faces name, else from the faces, else paired with the "v" lines when
///   there are no faces and as many "vn" as "v".
/// Vertex normals from faces are the sum of the faces' normals weighted by their area
/// (computed in double), normalised; a vertex on no face with an area keeps the unset normal.
/// Attributes other than position, normal and (OBJ) colour take the collection's defaults.
///
/// "-" is standard input. Malformed input throws CbException whose message starts with the
/// input's name. PLY inputs are streamed; STL and OBJ inputs are read whole, then parsed.
/// Stateless: may be called from several threads at once.
class InputReader {
 public:
  enum class EFormat { ePly, eStlBinary, eStlAscii, eObj };

  /// What an input held.
  struct Contents {
    EFormat eFormat = EFormat::ePly;
    /// Details of a PLY input (its encoding and attributes).
    KaCPlyReader::Contents ply;
    /// Surfels carry normals: from the file, or computed from its faces.
    bool bNormals = false;
    /// The normals were computed from the faces.
    bool bNormalsFromFaces = false;
    /// Triangles read (polygons count as the triangles of their fan).
    std::uint64_t nTriangles = 0;
    /// Values changed to fit, and vertices left without a normal, one line each.
    std::vector<std::string> vecWarnings;
  };

  /// Reads the file at strPath ("-": standard input).
  [[nodiscard]] static CbSmartPointer<KaCSurfelCollectionCCT> ReadFile(
      const std::string& strPath, Contents* pContents = nullptr);
  /// Reads an input held in memory; strName stands for it in messages and its extension is
  /// taken into account as a file name's would be.
  [[nodiscard]] static CbSmartPointer<KaCSurfelCollectionCCT> ReadBuffer(
      const void* pData, std::size_t nBytes, const std::string& strName,
      Contents* pContents = nullptr);
  /// Reads source to its end; strName's extension (".stl", ".obj") is the hint.
  [[nodiscard]] static CbSmartPointer<KaCSurfelCollectionCCT> Read(ByteSource& source,
                                                                   const std::string& strName,
                                                                   Contents* pContents);

  /// Sets every surfel's normal to the area-weighted normal of the triangles (three surfel
  /// indices each, counter-clockwise seen from outside) around it; returns how many surfels lie
  /// on no triangle with an area and were left with the unset normal. Indices must be valid.
  static std::uint64_t SetNormalsFromTriangles(KaCSurfelCollectionCCT& collection,
                                               const std::vector<std::uint32_t>& vecTriangles);
};

}  // namespace tolvane
