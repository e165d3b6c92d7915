// Runs the tolvane program against links, pipes, concurrent runs and signals, and checks that
// nothing is lost or left behind. FIFOs and devices as outputs are OutputFile's own tests.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "apps/ToolTest.h"
#include "io/KaCPlyReader.h"
#include "io/KaCPlyWriter.h"
#include "support/SurfelComparison.h"

namespace {

using tolvane_test::WriteFile;
using ToolOutputsTest = tolvane_test::ToolTest;

TEST_F(ToolOutputsTest, EveryAttributeThroughLinksPipesAndStandardOutput) {
  // A big-endian file with every attribute set: what filter writes holds the same surfels, as
  // binary little endian unless --ascii is given.
  const KaCSurfelCollectionCCT c = tolvane_test::MakeCollection(3000, eSurfelAttributeSetFull, 5);
  KaCPlyWriter::WriteFile(c, File("p.ply"), EPlyFormat::eBinaryBigEndian);
  const auto expectHolds = [&](const std::string& name, EPlyFormat f) {
    KaCPlyReader::Contents contents;
    const auto back = KaCPlyReader::ReadFile(File(name), &contents);
    EXPECT_EQ(contents.eFormat, f) << name;
    tolvane_test::ExpectSameSurfels(c, *back);
  };

  // Through a symbolic link: the link stays, the file it names holds the new collection.
  std::filesystem::create_directory(File("real"));
  WriteFile(File("real/out.ply"), "old");
  ASSERT_EQ(::symlink("real/out.ply", File("link.ply").c_str()), 0);
  ASSERT_EQ(Shell("$T filter p.ply link.ply").status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(File("link.ply")));
  expectHolds("real/out.ply", EPlyFormat::eBinaryLittleEndian);
  EXPECT_EQ(Names("real"), std::vector<std::string>{"out.ply"});

  // "-" is standard output for PLY, CSV and HTML outputs (and standard input for PLY); the
  // command's own text then goes to stderr, so that stdout holds the file alone.
  ASSERT_EQ(Shell("$T filter p.ply - | $T filter - piped.ply --ascii").status, 0);
  expectHolds("piped.ply", EPlyFormat::eAscii);
  ASSERT_EQ(Shell("$T distance p.ply p.ply --csv - > d.csv 2> d.txt").status, 0);
  EXPECT_EQ(Text("d.csv").rfind("index,x,y,z,distance\n0,", 0), 0u);
  EXPECT_EQ(Text("d.txt").rfind("surfels: 3000\n", 0), 0u);
  ASSERT_EQ(Shell("$T generate phantom q.ply --count 3000 && "
                  "$T phantom q.ply --seed 1 --report - > r.html 2> r.txt")
                .status,
            0);
  EXPECT_EQ(Text("r.html").rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_EQ(Text("r.txt").rfind("Depth: ", 0), 0u);
  EXPECT_EQ(Run("distance p.ply p.ply --csv - --out -").status, 2);

  // A directory is refused with one line.
  std::filesystem::create_directory(File("dir.ply"));
  ExpectOneLineError(Run("filter p.ply dir.ply"), {"dir.ply: is a directory"});
}

// Seven runs at once, each setting its own key over 20 rounds: every last value is there.
TEST_F(ToolOutputsTest, ConcurrentSettingsRunsLoseNoUpdate) {
  const std::vector<std::pair<std::string, std::string>> keys = {
      {"AnalyzePhantomInteractively", "true false"},
      {"ColorCompensate", "false true"},
      {"QualityFromColor", "false true"},
      {"ToothTissueBeforeSequentialRegistration", "false true"},
      {"TrainToothTissueAtStart", "true false"},
      {"GingivaQualityBeforeClassification", "0.25 0.75"},
      {"ColorCodedEntity", "3 8"}};
  std::string script;
  for (const auto& [key, values] : keys) {
    script += "(for r in 1 2 3 4 5 6 7 8 9 10; do for v in " + values + "; do $T settings set " +
              key + " $v || exit 1; done; done) & pids=\"$pids $!\"; ";
  }
  script += "s=0; for p in $pids; do wait $p || s=1; done; exit $s";
  ASSERT_EQ(Shell(script).status, 0);
  const std::string text = Text("settings.ini");
  for (const auto& [key, values] : keys) {
    const std::string last = values.substr(values.find(' ') + 1);
    EXPECT_NE(text.find(key + "=" + last + "\n"), std::string::npos) << key << "\n" << text;
  }
  EXPECT_EQ(Names(), (std::vector<std::string>{"settings.ini", "settings.ini.lock"}));
}

TEST_F(ToolOutputsTest, SettingsFileLinksModesDirectoriesAndEntityCodes) {
  // A settings file kept elsewhere behind a link (as dotfile managers do), mode 0600.
  std::filesystem::create_directory(File("dotfiles"));
  const std::string real = File("dotfiles/settings.ini");
  WriteFile(real, "[Mine]\nKeep=1\n");
  ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
  ASSERT_EQ(::symlink("dotfiles/settings.ini", File("settings.ini").c_str()), 0);
  ASSERT_EQ(Run("settings set ColorCompensate false").status, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(File("settings.ini")));
  EXPECT_EQ(std::filesystem::status(real).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(Text("dotfiles/settings.ini"), "[Mine]\nKeep=1\n\n[Tolvane]\nColorCompensate=false\n");

  // ColorCodedEntity takes the codes that select a quantity, others only with --force.
  ExpectOneLineError(Run("settings set ColorCodedEntity 5"),
                     {"0 (quality), 3 (tooth), 6 (flag byte)"});
  EXPECT_EQ(Text("dotfiles/settings.ini"), "[Mine]\nKeep=1\n\n[Tolvane]\nColorCompensate=false\n");
  ASSERT_EQ(Shell("$T settings set ColorCodedEntity 5 --force && $T settings set "
                  "ColorCodedEntity 8")
                .status,
            0);
  EXPECT_NE(Text("dotfiles/settings.ini").find("ColorCodedEntity=8\n"), std::string::npos);

  // Missing directories are created private.
  ASSERT_EQ(Run("settings set ColorCompensate false --file new/dir/s.ini").status, 0);
  for (const char* dir : {"new", "new/dir"}) {
    EXPECT_EQ(std::filesystem::status(File(dir)).permissions(), std::filesystem::perms::owner_all)
        << dir;
  }
}

// SIGTERM while a large file is being written: the temporary file goes, the old file stays,
// and the run ends by the signal.
TEST_F(ToolOutputsTest, SigtermDuringALargeWriteLeavesNoTemporaryFile) {
  WriteFile(File("big.ply"), "old");
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::execl(TOLVANE_CLI_PATH, TOLVANE_CLI_PATH, "generate", "phantom", File("big.ply").c_str(),
            "--count", "1000000", "--ascii", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Waits (without a time limit of its own: ctest's applies) for the temporary file.
  bool bSeen = false;
  int status = 0;
  while (!bSeen) {
    for (const std::string& n : Names()) bSeen = bSeen || n.rfind(".big.ply.tmp.", 0) == 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(bSeen) << "the run ended before its temporary file was seen";
  ASSERT_EQ(::kill(pid, SIGTERM), 0);
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(Names(), std::vector<std::string>{"big.ply"});
  EXPECT_EQ(Text("big.ply"), "old");
}

}  // namespace
