#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tolvane::cli {

/// Progress of long work on stderr, shown only when stderr is a terminal: one status line that
/// each Step() overwrites and Done() clears, so nothing of it remains in the scroll-back or
/// reaches a file or pipe. One thread only.
class Progress {
 public:
  Progress();
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  /// Shows "strWhat..." with the seconds elapsed since construction.
  void Step(const std::string& strWhat);
  /// Adds the share done of the current step as a whole percentage; the line is redrawn only
  /// when that percentage changes. Nothing when nTotal is 0.
  void Fraction(std::uint64_t nDone, std::uint64_t nTotal);
  /// Clears the status line.
  void Done();

  /// Whether anything is shown at all (stderr is a terminal).
  [[nodiscard]] bool IsEnabled() const noexcept { return m_bEnabled; }

 private:
  void Draw(int iPercent);

  bool m_bEnabled;
  bool m_bShown = false;
  int m_iPercent = -1;
  std::string m_strWhat;
  std::chrono::steady_clock::time_point m_start;
};

}  // namespace tolvane::cli
