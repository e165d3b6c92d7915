#include "tissue/KaCToothTissueMath.h"

#include <atomic>
#include <string>

#include "base/CbException.h"

namespace {

constexpr int c_nBins = 360;

// Constant-initialised, so it holds the default before any code of the process runs.
std::atomic<int> g_iToothTissueThreshold{KaCToothTissueMath::c_iDefaultToothTissueThreshold};

}  // namespace

KaCToothTissueMath::KaCToothTissueMath() noexcept
    : m_vecHistogram{},
      m_nSamples(0),
      m_iOtsuThreshold(-1),
      m_fSeparability(0.0),
      m_bPrepared(false),
      m_bGood(false) {}

KaCToothTissueMath::KaCToothTissueMath(const KaCToothTissueMath& other) noexcept = default;

KaCToothTissueMath& KaCToothTissueMath::operator=(const KaCToothTissueMath& other) noexcept =
    default;

KaCToothTissueMath::~KaCToothTissueMath() = default;

int KaCToothTissueMath::GetToothTissueThreshold() noexcept {
  return g_iToothTissueThreshold.load(std::memory_order_acquire);
}

void KaCToothTissueMath::SetToothTissueThreshold(int iThreshold) noexcept {
  g_iToothTissueThreshold.store(iThreshold, std::memory_order_release);
}

void KaCToothTissueMath::AddToData(int iHue) {
  if (iHue < 0 || iHue >= c_nBins) {
    throw CbException("KaCToothTissueMath::AddToData", __FILE__, __LINE__,
                      "hue " + std::to_string(iHue) + " is outside 0..359 degrees");
  }
  ++m_vecHistogram[static_cast<unsigned int>((iHue + c_iHueOffset) % c_nBins)];
  ++m_nSamples;
  m_bPrepared = false;
  m_bGood = false;
}

void KaCToothTissueMath::PrepareData() noexcept {
  m_bPrepared = true;
  m_bGood = false;
  m_iOtsuThreshold = -1;
  m_fSeparability = 0.0;
  if (m_nSamples == 0) return;

  const double n = static_cast<double>(m_nSamples);
  double sum = 0.0;
  double sumSquares = 0.0;
  for (int b = 0; b < c_nBins; ++b) {
    const double h = static_cast<double>(m_vecHistogram[static_cast<unsigned int>(b)]);
    sum += h * b;
    sumSquares += h * b * b;
  }
  const double mean = sum / n;
  const double totalVariance = sumSquares / n - mean * mean;

  // Class 0 holds the bins up to and including t (gingiva, as equality is), class 1 the rest.
  // The between-class variance times n^2 is (n * s0 - n0 * sum)^2 / (n0 * n1). Over empty bins
  // n0 and s0 do not change, so the value repeats bit for bit and a plateau is found exactly.
  double best = -1.0;
  int iFirst = -1;
  int iLast = -1;
  std::uint64_t n0AtFirst = 0;
  std::uint64_t n0 = 0;
  double s0 = 0.0;
  for (int t = 0; t < c_nBins - 1; ++t) {
    const std::uint64_t h = m_vecHistogram[static_cast<unsigned int>(t)];
    n0 += h;
    s0 += static_cast<double>(h) * t;
    if (n0 == 0) continue;
    if (n0 == m_nSamples) break;
    const double w0 = static_cast<double>(n0);
    const double diff = n * s0 - w0 * sum;
    const double between = diff * diff / (w0 * (n - w0));
    if (between > best) {
      best = between;
      iFirst = t;
      iLast = t;
      n0AtFirst = n0;
    } else if (between == best && iLast == t - 1) {
      iLast = t;
    }
  }
  if (iFirst < 0 || !(totalVariance > 0.0)) return;

  m_iOtsuThreshold = (iFirst + iLast) / 2;
  m_fSeparability = best / (n * n) / totalVariance;
  const double share0 = static_cast<double>(n0AtFirst) / n;
  const double share1 = 1.0 - share0;
  m_bGood = m_nSamples >= c_nMinSamples && share0 >= c_fMinClassShare &&
            share1 >= c_fMinClassShare && m_fSeparability >= c_fMinSeparability;
}

KaCToothTissueMath& KaCToothTissueMath::operator+=(const KaCToothTissueMath& other) noexcept {
  for (unsigned int b = 0; b < static_cast<unsigned int>(c_nBins); ++b) {
    m_vecHistogram[b] += other.m_vecHistogram[b];
  }
  m_nSamples += other.m_nSamples;
  PrepareData();
  return *this;
}

int KaCToothTissueMath::CalcToothTissueThreshold() {
  if (!m_bPrepared) PrepareData();
  if (!m_bGood) {
    throw CbException("KaCToothTissueMath::CalcToothTissueThreshold", __FILE__, __LINE__,
                      "the hue statistics of " + std::to_string(m_nSamples) +
                          " samples do not split into tooth and gingiva");
  }
  SetToothTissueThreshold(m_iOtsuThreshold);
  return m_iOtsuThreshold;
}
