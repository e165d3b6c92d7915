#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/CbVector3f.h"

namespace tolvane::cli {

/// The arguments of one subcommand: options ("--name VALUE", "--name=VALUE" or a flag
/// "--name") and positional arguments, in the order given. "--" ends the options. Parsing
/// refuses options the subcommand does not declare and flags given a value, with
/// UsageError. The typed getters parse option values and throw UsageError naming the
/// option when a value has the wrong form.
class Arguments {
 public:
  /// Parses args (the words after the subcommand). valueOptions take a value, flagOptions do
  /// not; both are given without the leading "--". "--help" and "-h" are always accepted as
  /// flags and reported by WantsHelp().
  Arguments(const std::vector<std::string>& args, const std::set<std::string>& valueOptions,
            const std::set<std::string>& flagOptions);

  [[nodiscard]] bool WantsHelp() const noexcept { return m_bHelp; }
  [[nodiscard]] const std::vector<std::string>& GetPositionals() const noexcept {
    return m_vecPositionals;
  }
  /// Throws UsageError unless there are between nMin and nMax positional arguments.
  void RequirePositionals(std::size_t nMin, std::size_t nMax, const std::string& strWhat) const;

  [[nodiscard]] bool Has(const std::string& strName) const;
  /// The value of an option given once (the last one when given several times).
  [[nodiscard]] std::string GetString(const std::string& strName,
                                      const std::string& strDefault = {}) const;
  /// A whole number in [nMin, nMax].
  [[nodiscard]] long long GetInteger(const std::string& strName, long long nDefault, long long nMin,
                                     long long nMax) const;
  /// A finite number; bPositive additionally requires it to be above 0.
  [[nodiscard]] double GetNumber(const std::string& strName, double fDefault,
                                 bool bPositive = false) const;
  /// Three finite numbers "X,Y,Z", or one number for all three.
  [[nodiscard]] CbVector3f GetVector(const std::string& strName,
                                     const CbVector3f& defaultValue) const;

  /// Parses a finite number; false when text is not one (whole text, no trailing characters).
  static bool ParseNumber(const std::string& strText, double& fValue);
  /// Parses "X,Y,Z" or "S" (S for all three); false when malformed.
  static bool ParseVector(const std::string& strText, CbVector3f& value);

 private:
  std::map<std::string, std::string> m_mapValues;
  std::set<std::string> m_setFlags;
  std::vector<std::string> m_vecPositionals;
  bool m_bHelp = false;
};

}  // namespace tolvane::cli
