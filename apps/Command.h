#pragma once

#include <string>
#include <vector>

namespace tolvane::cli {

/// One subcommand of the tool: its name, one line for the overview, its full help text and the
/// function that runs it. A run function gets the words after the subcommand, prints its
/// results on stdout and returns the exit status (0); it throws UsageError for a command
/// line it cannot run, and InputError or the library's CbException for bad input or a
/// failed computation, whose message names the file and the problem.
struct Command {
  const char* szName;
  const char* szSummary;
  const char* szHelp;
  int (*pRun)(const std::vector<std::string>& args);

  /// Every subcommand, in the order of the overview.
  [[nodiscard]] static const std::vector<Command>& GetAll();
  /// The subcommand of that name, or null.
  [[nodiscard]] static const Command* Find(const std::string& strName);
};

/// Exit status of a run whose analysis finished but failed its checks (docs/cli.md).
inline constexpr int c_iExitChecksFailed = 3;

// The subcommands, one source file each.
Command GetPhantomCommand();
Command GetDistanceCommand();
Command GetFilterCommand();
Command GetAcquireCommand();
Command GetSettingsCommand();
Command GetGenerateCommand();

}  // namespace tolvane::cli
