// The tool reads meshes: the distances to a surface come out the same whether it is given as
// a PLY mesh, a binary or ASCII STL or an OBJ, and a mesh without faces or normals is refused
// where normals are needed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/wait.h>

#include "support/MeshFiles.h"
#include "support/TestSupport.h"

namespace {

using tolvane_test::Mesh;

// Runs the tool with the arguments (each quoted), stdout and stderr to files; the exit status.
int Tool(const tolvane_test::TempDir& dir, const std::string& args) {
  const std::string cmd = "cd '" + dir.Path() + "' && HOME='" + dir.Path() + "' '" +
                          TOLVANE_CLI_PATH + "' " + args + " >out.txt 2>err.txt";
  const int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(MeshInput, StlAndObjGiveTheDistancesOfThePly) {
  tolvane_test::TempDir dir;
  const Mesh reference = tolvane_test::MakeWavySurface(40, 30, 4);
  Mesh moving = tolvane_test::MakeWavySurface(40, 30, 5);
  for (CbVector3f& p : moving.vecPositions) p.z += 0.03f;
  tolvane_test::WriteFile(dir.File("ref.ply"), tolvane_test::PlyMeshFile(reference, false));
  tolvane_test::WriteFile(dir.File("ref_ascii.ply"), tolvane_test::PlyMeshFile(reference, true));
  tolvane_test::WriteFile(dir.File("ref.stl"), tolvane_test::BinaryStlFile(reference));
  tolvane_test::WriteFile(dir.File("ref_ascii.stl"), tolvane_test::AsciiStlFile(reference));
  tolvane_test::WriteFile(dir.File("ref.obj"), tolvane_test::ObjFile(reference));
  tolvane_test::WriteFile(dir.File("moving.ply"), tolvane_test::PlyMeshFile(moving, false));
  tolvane_test::WriteFile(dir.File("moving.obj"), tolvane_test::ObjFile(moving));

  ASSERT_EQ(Tool(dir, "distance ref.ply moving.ply --csv base.csv"), 0)
      << tolvane_test::ReadFile(dir.File("err.txt"));
  const std::string base = tolvane_test::ReadFile(dir.File("base.csv"));
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
    ASSERT_EQ(Tool(dir, std::string("distance ") + pair + " --csv other.csv"), 0)
        << tolvane_test::ReadFile(dir.File("err.txt"));
    EXPECT_EQ(tolvane_test::ReadFile(dir.File("other.csv")), base);
  }

  // Meshes go through filter too, and come out as PLY; a point set without normals or faces is
  // refused by the commands that need normals.
  EXPECT_EQ(Tool(dir, "filter ref.stl out.ply"), 0) << tolvane_test::ReadFile(dir.File("err.txt"));
  EXPECT_EQ(tolvane_test::ReadFile(dir.File("out.ply")).rfind("ply\n", 0), 0u);
  tolvane_test::WriteFile(dir.File("points.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\n");
  EXPECT_EQ(Tool(dir, "distance ref.stl points.obj"), 1);
  EXPECT_NE(tolvane_test::ReadFile(dir.File("err.txt"))
                .find("points.obj: has no normals (nx ny nz) and no faces to compute them from"),
            std::string::npos)
      << tolvane_test::ReadFile(dir.File("err.txt"));
}
