#pragma once

#include <chrono>
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
  /// Clears the status line.
  void Done();

 private:
  bool m_bEnabled;
  bool m_bShown = false;
  std::chrono::steady_clock::time_point m_start;
};

}  // namespace tolvane::cli
