// The tool reads meshes: the distances to a surface come out the same whether it is given as
// a PLY mesh, a binary or ASCII STL or an OBJ, and a mesh without faces or normals is refused
// where normals are needed.
#include <gtest/gtest.h>

#include <string>

#include "apps/ToolTest.h"
#include "support/MeshFiles.h"

namespace {

using tolvane_test::Mesh;
using tolvane_test::WriteFile;
using MeshInput = tolvane_test::ToolTest;

TEST_F(MeshInput, StlAndObjGiveTheDistancesOfThePly) {
  const Mesh reference = tolvane_test::MakeWavySurface(40, 30, 4);
  Mesh moving = tolvane_test::MakeWavySurface(40, 30, 5);
  for (CbVector3f& p : moving.vecPositions) p.z += 0.03f;
  WriteFile(File("ref.ply"), tolvane_test::PlyMeshFile(reference, false));
  WriteFile(File("ref_ascii.ply"), tolvane_test::PlyMeshFile(reference, true));
  WriteFile(File("ref.stl"), tolvane_test::BinaryStlFile(reference));
  WriteFile(File("ref_ascii.stl"), tolvane_test::AsciiStlFile(reference));
  WriteFile(File("ref.obj"), tolvane_test::ObjFile(reference));
  WriteFile(File("moving.ply"), tolvane_test::PlyMeshFile(moving, false));
  WriteFile(File("moving.obj"), tolvane_test::ObjFile(moving));

  const tolvane_test::Result r = Run("distance ref.ply moving.ply --csv base.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string base = Text("base.csv");
  // Most surfels of the moving surface lie over the reference and get a distance near 0.03.
  std::size_t measured = 0;
  std::size_t lines = 0;
  for (std::size_t p = base.find('\n') + 1; p < base.size(); p = base.find('\n', p) + 1) {
    ++lines;
    const std::size_t end = base.find('\n', p);
    const std::string d = base.substr(base.rfind(',', end) + 1, end - base.rfind(',', end) - 1);
    if (d.empty()) continue;
    ++measured;
    EXPECT_NEAR(std::stod(d), 0.03, 0.02);
  }
  EXPECT_EQ(lines, moving.vecPositions.size());
  EXPECT_GT(measured, lines * 8 / 10);

  for (const char* pair :
       {"ref_ascii.ply moving.ply", "ref.stl moving.ply", "ref_ascii.stl moving.ply",
        "ref.obj moving.ply", "ref.ply moving.obj", "ref.stl moving.obj"}) {
    SCOPED_TRACE(pair);
    ASSERT_EQ(Shell(std::string("$T distance ") + pair + " --csv other.csv").status, 0);
    EXPECT_EQ(Text("other.csv"), base);
  }

  // Meshes go through filter too, and come out as PLY; a point set without normals or faces is
  // refused by the commands that need normals.
  EXPECT_EQ(Run("filter ref.stl out.ply").status, 0);
  EXPECT_EQ(Text("out.ply").rfind("ply\n", 0), 0u);
  WriteFile(File("points.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
  ExpectOneLineError(Run("distance ref.stl points.obj"),
                     {"points.obj: has no normals (nx ny nz) and no faces to compute them from"});
}

}  // namespace
