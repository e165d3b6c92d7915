#pragma once

#include <stdexcept>
#include <string>

namespace tolvane::cli {

/// A command line the tool cannot run: unknown subcommand or option, missing or surplus
/// arguments, an option value of the wrong form. The tool reports it in one line and exits
/// with status 2.
class UsageError : public std::runtime_error {
 public:
  explicit UsageError(const std::string& strMessage) : std::runtime_error(strMessage) {}
};

}  // namespace tolvane::cli
