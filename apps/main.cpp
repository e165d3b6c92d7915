// tolvane: the command-line tool. Parses the subcommand, runs it and reports the outcome:
// exit status 0 on success, 1 on bad input or a failed computation, 2 on bad usage, each
// failure as one line on stderr.
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "Command.h"
#include "InputError.h"
#include "UsageError.h"
#include "base/CbException.h"
#include "base/OutputFile.h"

namespace {

using tolvane::cli::Command;
using tolvane::cli::InputError;
using tolvane::cli::UsageError;

constexpr int c_iExitBadInput = 1;
constexpr int c_iExitUsage = 2;

void PrintOverview(std::FILE* out) {
  std::fputs(
      "Usage: tolvane COMMAND [ARGS...]\n"
      "\n"
      "Surfel collection tools: phantom analysis, distances, filters, acquisition, settings.\n"
      "\n"
      "Commands:\n",
      out);
  for (const Command& c : Command::GetAll()) {
    std::fprintf(out, "  %-10s %s\n", c.szName, c.szSummary);
  }
  std::fputs(
      "\n"
      "Run 'tolvane COMMAND --help' for a command's arguments, 'tolvane --version' for the\n"
      "version.\n"
      "Exit status: 0 success, 1 bad input or failed computation, 2 bad usage.\n",
      out);
}

// One line, whatever the message holds.
void Report(const std::string& prefix, std::string message) {
  for (char& c : message) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  std::fprintf(stderr, "%s%s\n", prefix.c_str(), message.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  // An interrupted run leaves no temporary output files behind.
  tolvane::OutputFile::RemoveTemporariesOnSignals();
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    PrintOverview(stderr);
    return c_iExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintOverview(stdout);
    return 0;
  }
  if (args[0] == "--version" || args[0] == "-V") {
    std::printf("tolvane %s\n", TOLVANE_VERSION);
    return 0;
  }
  const Command* pCommand = Command::Find(args[0]);
  if (pCommand == nullptr) {
    Report("tolvane: ", "unknown command '" + args[0] + "' (see tolvane --help)");
    return c_iExitUsage;
  }
  const std::string prefix = std::string("tolvane ") + pCommand->szName + ": ";
  try {
    return pCommand->pRun(std::vector<std::string>(args.begin() + 1, args.end()));
  } catch (const UsageError& e) {
    Report(prefix, std::string(e.what()) + " (see tolvane " + pCommand->szName + " --help)");
    return c_iExitUsage;
  } catch (const CbException& e) {
    Report(prefix, e.GetMessage());
  } catch (const InputError& e) {
    Report(prefix, e.what());
  } catch (const std::bad_alloc&) {
    Report(prefix, "out of memory");
  } catch (const std::exception& e) {
    Report(prefix, e.what());
  }
  return c_iExitBadInput;
}
