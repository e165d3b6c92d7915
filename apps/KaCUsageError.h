#pragma once

#include <stdexcept>
#include <string>

/// A command line the tool cannot run: unknown subcommand or option, missing or surplus
/// arguments, an option value of the wrong form. The tool reports it in one line and exits
/// with status 2.
class KaCUsageError : public std::runtime_error {
 public:
  explicit KaCUsageError(const std::string& strMessage) : std::runtime_error(strMessage) {}
};
