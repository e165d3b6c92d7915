#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/CbMatrix4.h"

namespace tolvane::cli {

/// The 4x4 transformation of `tolvane distance`: 16 finite numbers in storage order (column
/// by column, translation in m12 m13 m14), separated by white space or commas.
namespace transformation {

/// Parses the option text. False when it holds anything but exactly 16 numbers; nFound is then
/// the count of numbers read before the end or before a word that is not a number.
bool Parse(std::string_view text, CbMatrix4Rd& m, std::size_t& nFound);
/// The text of a transformation file with its comments ('#' to the end of a line) removed.
[[nodiscard]] std::string StripComments(std::string_view fileText);
/// Reads a transformation file; throws InputError naming the file when it cannot be read or
/// does not hold exactly 16 numbers.
[[nodiscard]] CbMatrix4Rd ReadFile(const std::string& strPath);

}  // namespace transformation

}  // namespace tolvane::cli
