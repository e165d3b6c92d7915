#include "io/InputReader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <tuple>

#include "base/CbException.h"
#include "io/KaCPlyWriter.h"
#include "support/MeshFiles.h"
#include "support/TestSupport.h"

namespace {

using tolvane::InputReader;

CbSmartPointer<KaCSurfelCollectionCCT> Read(const std::string& bytes, const std::string& name,
                                            InputReader::Contents* pContents = nullptr) {
  return InputReader::ReadBuffer(bytes.data(), bytes.size(), name, pContents);
}

std::string Problem(const std::string& bytes, const std::string& name) {
  try {
    (void)Read(bytes, name);
  } catch (const CbException& e) {
    return e.GetMessage();
  }
  return "no error";
}

// Normal code by position: the surfels of a mesh whatever order a format stores them in.
std::map<std::tuple<float, float, float>, unsigned short> ByPosition(
    const KaCSurfelCollectionCCT& c) {
  std::map<std::tuple<float, float, float>, unsigned short> m;
  const auto pos = c.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto normals = c.GetNormalAccessor();
  for (unsigned int i = 0; i < c.GetNrSurfels(); ++i) {
    m[{pos[i].x, pos[i].y, pos[i].z}] = normals[i];
  }
  return m;
}

}  // namespace

TEST(InputReader, EveryFormatOfOneMeshGivesTheSameSurfels) {
  const tolvane_test::Mesh mesh = tolvane_test::MakeWavySurface(40, 30, 4);
  InputReader::Contents contents;
  const auto ply = Read(tolvane_test::PlyMeshFile(mesh, false), "mesh.ply", &contents);
  EXPECT_TRUE(contents.bNormalsFromFaces);
  EXPECT_EQ(contents.nTriangles, mesh.vecTriangles.size() / 3);
  ASSERT_EQ(ply->GetNrSurfels(), mesh.vecPositions.size());
  const auto expected = ByPosition(*ply);
  ASSERT_EQ(expected.size(), mesh.vecPositions.size());
  // Every normal faces up the surface (+z side) and is set.
  for (const auto& [p, code] : expected) {
    ASSERT_FALSE(KaCNormalCodec::IsUnset(code));
    ASSERT_GT(KaCNormalCodec::Decode(code).z, 0.8f);
  }
  const struct {
    std::string bytes;
    const char* name;
    InputReader::EFormat format;
  } inputs[] = {
      {tolvane_test::PlyMeshFile(mesh, true), "mesh.ply", InputReader::EFormat::ePly},
      {tolvane_test::BinaryStlFile(mesh), "mesh.stl", InputReader::EFormat::eStlBinary},
      {tolvane_test::AsciiStlFile(mesh), "mesh.stl", InputReader::EFormat::eStlAscii},
      {tolvane_test::ObjFile(mesh), "mesh.obj", InputReader::EFormat::eObj},
      // Content decides, not the name.
      {tolvane_test::BinaryStlFile(mesh), "-", InputReader::EFormat::eStlBinary},
      {tolvane_test::ObjFile(mesh), "mesh.txt", InputReader::EFormat::eObj},
  };
  for (const auto& in : inputs) {
    SCOPED_TRACE(in.name);
    const auto c = Read(in.bytes, in.name, &contents);
    EXPECT_EQ(contents.eFormat, in.format);
    EXPECT_TRUE(contents.bNormals && contents.bNormalsFromFaces);
    EXPECT_EQ(contents.nTriangles, mesh.vecTriangles.size() / 3);
    // STL repeats each vertex per facet: merged back to one surfel each.
    EXPECT_EQ(ByPosition(*c), expected);
    EXPECT_EQ(c->GetNrSurfels(), mesh.vecPositions.size());
  }
}

TEST(InputReader, VertexNormalsWeighFacesByArea) {
  // Vertex 0 joins a face of area 2 facing +z and a face of area 0.5 facing +x: the cross
  // products (0, 0, 4) and (1, 0, 0) add to (1, 0, 4). Vertex 5 lies on no face.
  const std::string ply =
      "ply\nformat ascii 1.0\nelement vertex 6\nproperty float x\nproperty float y\n"
      "property float z\nelement face 2\nproperty list uchar int vertex_indices\nend_header\n"
      "0 0 0\n2 0 0\n0 2 0\n0 1 0\n0 0 1\n5 5 5\n3 0 1 2\n3 0 3 4\n";
  InputReader::Contents contents;
  const auto c = Read(ply, "roof.ply", &contents);
  const float s = std::sqrt(17.0f);
  EXPECT_EQ(c->GetNormalAccessor()[0], KaCNormalCodec::Encode({1 / s, 0, 4 / s}));
  EXPECT_EQ(c->GetNormalAccessor()[1], KaCNormalCodec::Encode({0, 0, 1}));
  EXPECT_EQ(c->GetNormalAccessor()[4], KaCNormalCodec::Encode({1, 0, 0}));
  EXPECT_TRUE(KaCNormalCodec::IsUnset(c->GetNormalAccessor()[5]));
  EXPECT_EQ(contents.vecWarnings,
            std::vector<std::string>{"1 vertex lies on no face with an area, normal left unset"});

  // A PLY mesh with its own normals keeps them; a point set has none and no faces.
  const KaCSurfelCollectionCCT points = tolvane_test::MakeCollection(20);
  const auto back = Read(KaCPlyWriter::WriteBuffer(points), "p.ply", &contents);
  EXPECT_TRUE(contents.bNormals && !contents.bNormalsFromFaces);
  const std::string bare =
      "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
      "property float z\nend_header\n1 2 3\n";
  (void)Read(bare, "bare.ply", &contents);
  EXPECT_FALSE(contents.bNormals);

  // OBJ normals: named by the faces' corners, or paired with the vertices of a point set.
  const std::string objFaces = "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 2\nf 1//1 2//1 3//1\n";
  EXPECT_EQ(Read(objFaces, "f.obj", &contents)->GetNormalAccessor()[2],
            KaCNormalCodec::Encode({0, 0, 1}));
  EXPECT_FALSE(contents.bNormalsFromFaces);
  const std::string objPoints = "v 0 0 0 1 0 0\nv 1 0 0 0 1 0\nvn 1 0 0\nvn 0 -1 0\n";
  const auto pts = Read(objPoints, "p.obj", &contents);
  EXPECT_EQ(pts->GetNormalAccessor()[1], KaCNormalCodec::Encode({0, -1, 0}));
  EXPECT_EQ(pts->GetColor(0), KaCCompressedColor(255, 0, 0));
  EXPECT_TRUE(contents.bNormals);
}

TEST(InputReader, MalformedMeshesGiveAClearError) {
  const tolvane_test::Mesh mesh = tolvane_test::MakeWavySurface(3, 3, 1);
  const struct {
    std::string bytes;
    const char* name;
    const char* problem;
  } cases[] = {
      {"", "e.stl", "e.stl: empty file"},
      {"hello world\n", "x.dat", "x.dat: not a PLY, STL or OBJ file"},
      {tolvane_test::BinaryStlFile(mesh) + "x", "m.stl",
       "m.stl: not an STL file (neither 'solid' nor a binary size of 84 + 50 bytes per facet)"},
      {"solid s\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\n"
       "vertex 1 1 0\nendloop\nendfacet\nendsolid\n",
       "m.stl", "m.stl: line 7: a facet has three vertices"},
      {"solid s\nfacet normal 0 0 1\nouter loop\nvertex 0 0 nan\n", "m.stl",
       "m.stl: line 4: position is not finite"},
      {"solid s\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\n", "m.stl",
       "m.stl: no endsolid (file truncated?)"},
      {"v 0 0 0\nv 1 0 0\nf 1 2 3\n", "m.obj", "m.obj: line 3: face refers to vertex 3 of 2"},
      {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 0\n", "m.obj", "m.obj: line 4: bad face corner '0'"},
      {"v 0 0 0\nv 1 0 x\n", "m.obj", "m.obj: line 2: bad number 'x'"},
      {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nproperty float y\n"
       "property float z\nelement face 1\nproperty list uchar int vertex_indices\nend_header\n"
       "0 0 0\n3 0 0 1\n",
       "m.ply", "m.ply: face 0 refers to vertex 1 of 1"},
  };
  for (const auto& c : cases) EXPECT_EQ(Problem(c.bytes, c.name), c.problem);
}
