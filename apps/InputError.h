#pragma once

#include <stdexcept>
#include <string>

namespace tolvane::cli {

/// Bad input or a failed computation found by the tool itself (not by the library): the
/// message names the file and what is wrong. The tool reports it in one line and exits with
/// status 1, as it does for the library's CbException.
class InputError : public std::runtime_error {
 public:
  explicit InputError(const std::string& strMessage) : std::runtime_error(strMessage) {}
};

}  // namespace tolvane::cli
