#include "support/MeshFiles.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>

namespace tolvane_test {

namespace {

void Put(std::string& out, float v) {
  char b[32];
  out.append(b, std::to_chars(b, b + sizeof b, v).ptr);
}

void PutVector(std::string& out, const CbVector3f& v) {
  for (int k = 0; k < 3; ++k) {
    out += ' ';
    Put(out, v[k]);
  }
}

template <class T>
void PutBinary(std::string& out, const T& v) {
  out.append(reinterpret_cast<const char*>(&v), sizeof(T));
}

CbVector3f FacetNormal(const Mesh& mesh, std::size_t t) {
  const CbVector3f& a = mesh.vecPositions[mesh.vecTriangles[t]];
  const CbVector3f& b = mesh.vecPositions[mesh.vecTriangles[t + 1]];
  const CbVector3f& c = mesh.vecPositions[mesh.vecTriangles[t + 2]];
  const CbVector3f e1 = b - a;
  const CbVector3f e2 = c - a;
  return CbVector3f(e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z,
                    e1.x * e2.y - e1.y * e2.x);
}

}  // namespace

Mesh MakeWavySurface(unsigned int nx, unsigned int ny, unsigned int seed) {
  Mesh m;
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> jitter(-0.02f, 0.02f);
  for (unsigned int j = 0; j < ny; ++j) {
    for (unsigned int i = 0; i < nx; ++i) {
      const float x = 0.1f * static_cast<float>(i) + jitter(rng);
      const float y = 0.1f * static_cast<float>(j) + jitter(rng);
      m.vecPositions.emplace_back(x, y, 0.3f * std::sin(x) * std::cos(0.7f * y));
    }
  }
  for (unsigned int j = 0; j + 1 < ny; ++j) {
    for (unsigned int i = 0; i + 1 < nx; ++i) {
      const std::uint32_t a = j * nx + i;
      m.vecTriangles.insert(m.vecTriangles.end(), {a, a + 1, a + nx + 1, a, a + nx + 1, a + nx});
    }
  }
  return m;
}

std::string PlyMeshFile(const Mesh& mesh, bool bAscii) {
  std::string out = std::string("ply\nformat ") + (bAscii ? "ascii" : "binary_little_endian") +
                    " 1.0\nelement vertex " + std::to_string(mesh.vecPositions.size()) +
                    "\nproperty float x\nproperty float y\nproperty float z\nelement face " +
                    std::to_string(mesh.vecTriangles.size() / 3) +
                    "\nproperty list uchar uint vertex_indices\nend_header\n";
  for (const CbVector3f& p : mesh.vecPositions) {
    if (bAscii) {
      PutVector(out, p);
      out += '\n';
    } else {
      PutBinary(out, p);
    }
  }
  for (std::size_t t = 0; t < mesh.vecTriangles.size(); t += 3) {
    if (bAscii) {
      out += "3";
      for (int k = 0; k < 3; ++k) out += " " + std::to_string(mesh.vecTriangles[t + k]);
      out += '\n';
    } else {
      out += '\x03';
      for (int k = 0; k < 3; ++k) PutBinary(out, mesh.vecTriangles[t + k]);
    }
  }
  return out;
}

std::string BinaryStlFile(const Mesh& mesh) {
  std::string out(80, ' ');
  out.replace(0, 11, "solid mesh ");  // some programs start binary files so, too
  PutBinary(out, static_cast<std::uint32_t>(mesh.vecTriangles.size() / 3));
  for (std::size_t t = 0; t < mesh.vecTriangles.size(); t += 3) {
    PutBinary(out, FacetNormal(mesh, t));
    for (int k = 0; k < 3; ++k) PutBinary(out, mesh.vecPositions[mesh.vecTriangles[t + k]]);
    out += std::string(2, '\0');
  }
  return out;
}

std::string AsciiStlFile(const Mesh& mesh) {
  std::string out = "solid mesh\n";
  for (std::size_t t = 0; t < mesh.vecTriangles.size(); t += 3) {
    out += "  facet normal";
    PutVector(out, FacetNormal(mesh, t));
    out += "\n    outer loop\n";
    for (int k = 0; k < 3; ++k) {
      out += "      vertex";
      PutVector(out, mesh.vecPositions[mesh.vecTriangles[t + k]]);
      out += '\n';
    }
    out += "    endloop\n  endfacet\n";
  }
  return out + "endsolid mesh\n";
}

std::string ObjFile(const Mesh& mesh) {
  std::string out = "# generated surface\no mesh\n";
  for (const CbVector3f& p : mesh.vecPositions) {
    out += 'v';
    PutVector(out, p);
    out += '\n';
  }
  out += "vt 0 0\n";
  for (std::size_t t = 0; t < mesh.vecTriangles.size(); t += 3) {
    // Corners in all the forms OBJ allows.
    out += "f " + std::to_string(mesh.vecTriangles[t] + 1) + " " +
           std::to_string(mesh.vecTriangles[t + 1] + 1) + "/1 " +
           std::to_string(static_cast<long long>(mesh.vecTriangles[t + 2]) -
                          static_cast<long long>(mesh.vecPositions.size())) +
           "/1\n";
  }
  return out;
}

}  // namespace tolvane_test
