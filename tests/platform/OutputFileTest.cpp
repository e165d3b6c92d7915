#include "base/OutputFile.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/TestSupport.h"
#include "base/CbException.h"

namespace {

using tolvane::OutputFile;
using tolvane_test::ReadFile;
using tolvane_test::TempDir;
using tolvane_test::WriteFile;

// The names in a directory, sorted.
std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

mode_t ModeOf(const std::string& path, bool bFollow = true) {
  struct stat st {};
  EXPECT_EQ(bFollow ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}

TEST(OutputFile, TargetAppearsWholeOnlyOnCommitAndKeepsItsMode) {
  TempDir dir;
  const std::string path = dir.File("out.ply");
  tolvane::WriteOutputFile(path, "old");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  {
    OutputFile f(path);
    EXPECT_TRUE(f.IsReplacing());
    f.Write(std::string(3 << 20, 'x'));  // several buffer flushes
    // The temporary file sits beside the target under the documented name.
    const auto names = Entries(dir.Path());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].substr(0, 13), ".out.ply.tmp.");
    EXPECT_EQ(names[0].size(), 19u);
    // Abandoned (as on an exception): the old content stays and the temporary file goes.
  }
  EXPECT_EQ(ReadFile(path), "old");
  EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"out.ply"});

  OutputFile f(path);
  f.Write("new");
  f.Commit();
  EXPECT_THROW(f.Write("more"), CbException);
  EXPECT_EQ(ReadFile(path), "new");
  EXPECT_EQ(ModeOf(path) & 07777, 0640u);
  EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"out.ply"});

  EXPECT_EQ(OutputFile::TemporaryName("a/b/c.csv"), "a/b/.c.csv.tmp.XXXXXX");
  EXPECT_THROW(tolvane::WriteOutputFile(dir.File("no/such/dir/out.ply"), "x"), CbException);
  try {
    OutputFile d(dir.Path());
    FAIL();
  } catch (const CbException& e) {
    EXPECT_EQ(e.GetMessage(), dir.Path() + ": is a directory");
  }
}

TEST(OutputFile, SymlinksStayAndTheirTargetIsReplacedInItsOwnDirectory) {
  TempDir dir;
  std::filesystem::create_directories(dir.File("real"));
  WriteFile(dir.File("real/data.csv"), "old");
  ASSERT_EQ(::chmod(dir.File("real/data.csv").c_str(), 0600), 0);
  // link -> middle -> real/data.csv, relative links resolved against their own directory.
  ASSERT_EQ(::symlink("real/data.csv", dir.File("middle").c_str()), 0);
  ASSERT_EQ(::symlink("middle", dir.File("link").c_str()), 0);
  {
    OutputFile f(dir.File("link"));
    f.Write("new");
    EXPECT_EQ(Entries(dir.File("real")).size(), 2u);  // the temporary file is beside the target
    f.Commit();
  }
  EXPECT_TRUE(S_ISLNK(ModeOf(dir.File("link"), false)));
  EXPECT_TRUE(S_ISLNK(ModeOf(dir.File("middle"), false)));
  EXPECT_EQ(ReadFile(dir.File("real/data.csv")), "new");
  EXPECT_EQ(ModeOf(dir.File("real/data.csv")) & 07777, 0600u);
  EXPECT_EQ(Entries(dir.File("real")), std::vector<std::string>{"data.csv"});

  // A dangling link gets its target created.
  ASSERT_EQ(::symlink("real/fresh.csv", dir.File("dangling").c_str()), 0);
  tolvane::WriteOutputFile(dir.File("dangling"), "fresh");
  EXPECT_TRUE(S_ISLNK(ModeOf(dir.File("dangling"), false)));
  EXPECT_EQ(ReadFile(dir.File("real/fresh.csv")), "fresh");
}

TEST(OutputFile, SpecialFilesAndStandardOutputAreWrittenDirectly) {
  TempDir dir;
  // A FIFO stays a FIFO, and its reader gets the bytes.
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] { received = ReadFile(fifo); });
  {
    OutputFile f(fifo);
    EXPECT_FALSE(f.IsReplacing());
    f.Write("through the fifo");
    f.Commit();
  }
  reader.join();
  EXPECT_EQ(received, "through the fifo");
  EXPECT_TRUE(S_ISFIFO(ModeOf(fifo)));

  // A character device (the null device, made here) stays a device. Making one needs root.
  const std::string device = dir.File("null");
  if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    tolvane::WriteOutputFile(device, "gone");
    EXPECT_TRUE(S_ISCHR(ModeOf(device)));
    EXPECT_EQ(Entries(dir.Path()), (std::vector<std::string>{"fifo", "null"}));
  }

  // "-" is standard output (captured here through a pipe), left open afterwards.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::fflush(stdout);
  const int savedStdout = ::dup(STDOUT_FILENO);
  ASSERT_EQ(::dup2(fds[1], STDOUT_FILENO), STDOUT_FILENO);
  ::close(fds[1]);
  tolvane::WriteOutputFile("-", "to stdout");
  EXPECT_EQ(::write(STDOUT_FILENO, "!", 1), 1);  // still open
  ::dup2(savedStdout, STDOUT_FILENO);
  ::close(savedStdout);
  char buf[64] = {};
  EXPECT_EQ(::read(fds[0], buf, sizeof buf), 10);
  ::close(fds[0]);
  EXPECT_EQ(std::string(buf), "to stdout!");
  // Without the dash rule "-" is an ordinary name.
  const std::string cwd = std::filesystem::current_path().string();
  std::filesystem::current_path(dir.Path());
  {
    OutputFile f("-", false);
    f.Write("file");
    f.Commit();
  }
  std::filesystem::current_path(cwd);
  EXPECT_EQ(ReadFile(dir.File("-")), "file");
}

// A terminating signal removes every temporary file still open, and the process still ends
// by that signal; an ignored SIGHUP stays ignored.
TEST(OutputFile, TerminatingSignalsRemoveTemporaryFiles) {
  TempDir dir;
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      OutputFile::RemoveTemporariesOnSignals();
      OutputFile a(dir.File("a.ply"));
      OutputFile b(dir.File("b.ply"));
      a.Write("partial");
      ::raise(sig);
      ::_exit(0);  // not reached
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig;
    EXPECT_TRUE(Entries(dir.Path()).empty()) << sig;
  }
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGHUP, SIG_IGN);
    OutputFile::RemoveTemporariesOnSignals();
    OutputFile a(dir.File("a.ply"));
    ::raise(SIGHUP);
    a.Write("whole");
    a.Commit();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadFile(dir.File("a.ply")), "whole");
}

}  // namespace
