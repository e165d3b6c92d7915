#pragma once

#include <tolvane/Export.h>

#include <string>
#include <vector>

namespace tolvane {

/// One check of a phantom analysis: what was measured, the limit it must keep and whether it
/// kept it. A check passes when its value lies on the right side of its limit (at most the
/// limit, or at least it when bMinimum is set); a value that is not a number never passes.
struct TOLVANE_API PhantomCheck {
  std::string strName;  ///< short name, e.g. "plane residual"
  double fValue = 0.0;
  double fLimit = 0.0;
  std::string strUnit;    ///< "mm", "deg", "share", "count"
  bool bMinimum = false;  ///< the value must reach the limit (else: stay within it)
  bool bPass = false;
};

/// The verdict over a finished analysis: every check, and whether all of them passed. A plain
/// value; holds no references.
struct TOLVANE_API PhantomVerdict {
  bool bPass = false;
  std::vector<PhantomCheck> vecChecks;

  /// "pass", or "FAIL: NAME: VALUE over LIMIT" (or "under" for a minimum) for the first
  /// failing check, with the values in the check's unit.
  [[nodiscard]] std::string Summary() const;
};

}  // namespace tolvane
