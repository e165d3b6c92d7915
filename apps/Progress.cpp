#include "Progress.h"

#include <cstdio>

#include <unistd.h>

namespace tolvane::cli {

Progress::Progress()
    : m_bEnabled(::isatty(STDERR_FILENO) == 1), m_start(std::chrono::steady_clock::now()) {}

Progress::~Progress() { Done(); }

void Progress::Step(const std::string& strWhat) {
  if (!m_bEnabled) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  std::fprintf(stderr, "\r\033[K[%5.1f s] %s...", seconds, strWhat.c_str());
  std::fflush(stderr);
  m_bShown = true;
}

void Progress::Done() {
  if (!m_bShown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  m_bShown = false;
}

}  // namespace tolvane::cli
