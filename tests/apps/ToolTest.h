#pragma once
// Runs the tolvane program, or a shell script that calls it as $T, in a fresh directory of the
// test's own, with the settings file and the home directory inside it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/TestSupport.h"

namespace tolvane_test {

/// What a run left: its exit status (-1 when a signal ended it), standard output and error.
struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

class ToolTest : public ::testing::Test {
 protected:
  /// The tool with the arguments of a command line (split at spaces), run in the test's
  /// directory.
  Result Run(const std::string& line) {
    std::vector<std::string> args = {TOLVANE_CLI_PATH};
    std::istringstream in(line);
    for (std::string a; in >> a;) args.push_back(a);
    return Exec(args);
  }
  /// A shell script, run in the test's directory with the tool as $T.
  Result Shell(const std::string& script) { return Exec({"/bin/sh", "-c", script}); }

  [[nodiscard]] std::string File(const std::string& name) const { return m_dir.File(name); }
  [[nodiscard]] std::string Text(const std::string& name) const { return ReadFile(File(name)); }
  /// The names in a folder of the test's directory, sorted.
  [[nodiscard]] std::vector<std::string> Names(const std::string& dir = "") const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(File(dir))) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  /// Expects exit status 1 and exactly one line on stderr containing every part.
  static void ExpectOneLineError(const Result& r, std::initializer_list<std::string> parts) {
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    for (const std::string& p : parts) EXPECT_NE(r.err.find(p), std::string::npos) << r.err;
  }

  TempDir m_dir;
  /// Set for every run (an empty value unsets): never the user's own settings or home.
  std::map<std::string, std::string> m_env = {{"HOME", m_dir.Path()},
                                              {"XDG_CONFIG_HOME", m_dir.File("xdg")},
                                              {"TOLVANE_SETTINGS", m_dir.File("settings.ini")},
                                              {"T", TOLVANE_CLI_PATH}};

 private:
  Result Exec(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& s : args) argv.push_back(const_cast<char*>(s.c_str()));
    argv.push_back(nullptr);
    const std::string outPath = m_output.File("stdout");
    const std::string errPath = m_output.File("stderr");
    const pid_t pid = ::fork();
    if (pid == 0) {
      for (const auto& [k, v] : m_env) {
        if (v.empty()) {
          ::unsetenv(k.c_str());
        } else {
          ::setenv(k.c_str(), v.c_str(), 1);
        }
      }
      ::dup2(::open("/dev/null", O_RDONLY), 0);
      ::dup2(::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      ::dup2(::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      if (::chdir(m_dir.Path().c_str()) == 0) ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(outPath), ReadFile(errPath)};
  }

  TempDir m_output;  // the captured streams, outside the test's directory
};

}  // namespace tolvane_test
