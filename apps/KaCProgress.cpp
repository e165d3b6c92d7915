#include "KaCProgress.h"

#include <cstdio>

#include <unistd.h>

KaCProgress::KaCProgress()
    : m_bEnabled(::isatty(STDERR_FILENO) == 1), m_start(std::chrono::steady_clock::now()) {}

KaCProgress::~KaCProgress() { Done(); }

void KaCProgress::Step(const std::string& strWhat) {
  if (!m_bEnabled) return;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
  std::fprintf(stderr, "\r\033[K[%5.1f s] %s...", seconds, strWhat.c_str());
  std::fflush(stderr);
  m_bShown = true;
}

void KaCProgress::Done() {
  if (!m_bShown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  m_bShown = false;
}
