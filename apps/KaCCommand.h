#pragma once

#include <string>
#include <vector>

/// One subcommand of the tool: its name, one line for the overview, its full help text and the
/// function that runs it. A run function gets the words after the subcommand, prints its
/// results on stdout and returns the exit status (0); it throws KaCUsageError for a command
/// line it cannot run, and KaCInputError or the library's CbException for bad input or a
/// failed computation, whose message names the file and the problem.
struct KaCCommand {
  const char* szName;
  const char* szSummary;
  const char* szHelp;
  int (*pRun)(const std::vector<std::string>& args);

  /// Every subcommand, in the order of the overview.
  [[nodiscard]] static const std::vector<KaCCommand>& GetAll();
  /// The subcommand of that name, or null.
  [[nodiscard]] static const KaCCommand* Find(const std::string& strName);
};

// The subcommands, one source file each.
KaCCommand GetPhantomCommand();
KaCCommand GetDistanceCommand();
KaCCommand GetFilterCommand();
KaCCommand GetAcquireCommand();
KaCCommand GetSettingsCommand();
KaCCommand GetGenerateCommand();
