#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/CbVector3f.h"

namespace tolvane_test {

/// A triangle mesh: positions and triangles of three vertex indices (counter-clockwise seen
/// from the side the normals face).
struct Mesh {
  std::vector<CbVector3f> vecPositions;
  std::vector<std::uint32_t> vecTriangles;
};

/// A gently curved, jittered height field of nx x ny vertices over 0.1 mm spacing, facing +z.
Mesh MakeWavySurface(unsigned int nx, unsigned int ny, unsigned int seed);

/// The mesh as the bytes of a file: PLY with a face element and no normals (ascii or binary
/// little endian), binary STL, ASCII STL, OBJ with v and f lines.
std::string PlyMeshFile(const Mesh& mesh, bool bAscii);
std::string BinaryStlFile(const Mesh& mesh);
std::string AsciiStlFile(const Mesh& mesh);
std::string ObjFile(const Mesh& mesh);

}  // namespace tolvane_test
