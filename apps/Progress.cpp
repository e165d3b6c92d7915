#include "Progress.h"

#include <cstdio>

#include <unistd.h>

namespace tolvane::cli {

Progress::Progress()
    : m_bEnabled(::isatty(STDERR_FILENO) == 1), m_start(std::chrono::steady_clock::now()) {}

Progress::~Progress() { Done(); }

void Progress::Step(const std::string& strWhat) {
  if (!m_bEnabled) return;
  m_strWhat = strWhat;
  Draw(-1);
}

void Progress::Fraction(std::uint64_t nDone, std::uint64_t nTotal) {
  if (!m_bEnabled || nTotal == 0) return;
  const auto iPercent = static_cast<int>((nDone >= nTotal ? nTotal : nDone) * 100 / nTotal);
  if (iPercent != m_iPercent) Draw(iPercent);
}

void Progress::Draw(int iPercent) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  std::fprintf(stderr, "\r\033[K[%5.1f s] %s...", seconds, m_strWhat.c_str());
  if (iPercent >= 0) std::fprintf(stderr, " %3d %%", iPercent);
  std::fflush(stderr);
  m_iPercent = iPercent;
  m_bShown = true;
}

void Progress::Done() {
  if (!m_bShown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  m_bShown = false;
}

}  // namespace tolvane::cli
