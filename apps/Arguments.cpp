#include "Arguments.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "UsageError.h"

namespace tolvane::cli {

Arguments::Arguments(const std::vector<std::string>& args,
                     const std::set<std::string>& valueOptions,
                     const std::set<std::string>& flagOptions) {
  bool bOptionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (bOptionsEnded || a.size() < 2 || a[0] != '-' || a == "-") {
      m_vecPositionals.push_back(a);
      continue;
    }
    if (a == "--") {
      bOptionsEnded = true;
      continue;
    }
    if (a == "-h" || a == "--help") {
      m_bHelp = true;
      continue;
    }
    if (a.rfind("--", 0) != 0) {
      // A lone dash and a digit: a negative number given as a positional argument.
      if (a.size() > 1 && (std::isdigit(static_cast<unsigned char>(a[1])) || a[1] == '.')) {
        m_vecPositionals.push_back(a);
        continue;
      }
      throw UsageError("unknown option '" + a + "'");
    }
    const auto eq = a.find('=');
    const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    if (valueOptions.count(name) != 0) {
      if (eq != std::string::npos) {
        m_mapValues[name] = a.substr(eq + 1);
      } else {
        if (i + 1 >= args.size()) throw UsageError("option '--" + name + "' needs a value");
        m_mapValues[name] = args[++i];
      }
    } else if (flagOptions.count(name) != 0) {
      if (eq != std::string::npos) throw UsageError("option '--" + name + "' takes no value");
      m_setFlags.insert(name);
    } else {
      throw UsageError("unknown option '--" + name + "'");
    }
  }
}

void Arguments::RequirePositionals(std::size_t nMin, std::size_t nMax,
                                   const std::string& strWhat) const {
  if (m_vecPositionals.size() < nMin) throw UsageError("missing " + strWhat);
  if (m_vecPositionals.size() > nMax) {
    throw UsageError("unexpected argument '" + m_vecPositionals[nMax] + "'");
  }
}

bool Arguments::Has(const std::string& strName) const {
  return m_mapValues.count(strName) != 0 || m_setFlags.count(strName) != 0;
}

std::string Arguments::GetString(const std::string& strName, const std::string& strDefault) const {
  const auto it = m_mapValues.find(strName);
  return it == m_mapValues.end() ? strDefault : it->second;
}

long long Arguments::GetInteger(const std::string& strName, long long nDefault, long long nMin,
                                long long nMax) const {
  const auto it = m_mapValues.find(strName);
  if (it == m_mapValues.end()) return nDefault;
  const std::string& t = it->second;
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(t.c_str(), &end, 10);
  if (t.empty() || end != t.c_str() + t.size() || errno == ERANGE || v < nMin || v > nMax) {
    throw UsageError("option '--" + strName + "' needs a whole number from " +
                     std::to_string(nMin) + " to " + std::to_string(nMax) + ", not '" + t + "'");
  }
  return v;
}

double Arguments::GetNumber(const std::string& strName, double fDefault, bool bPositive) const {
  const auto it = m_mapValues.find(strName);
  if (it == m_mapValues.end()) return fDefault;
  double v = 0.0;
  if (!ParseNumber(it->second, v) || (bPositive && !(v > 0.0))) {
    throw UsageError("option '--" + strName + "' needs a " + (bPositive ? "positive " : "") +
                     "number, not '" + it->second + "'");
  }
  return v;
}

CbVector3f Arguments::GetVector(const std::string& strName, const CbVector3f& defaultValue) const {
  const auto it = m_mapValues.find(strName);
  if (it == m_mapValues.end()) return defaultValue;
  CbVector3f v;
  if (!ParseVector(it->second, v)) {
    throw UsageError("option '--" + strName + "' needs X,Y,Z or one number, not '" + it->second +
                     "'");
  }
  return v;
}

bool Arguments::ParseNumber(const std::string& strText, double& fValue) {
  if (strText.empty() || std::isspace(static_cast<unsigned char>(strText[0]))) return false;
  errno = 0;
  char* end = nullptr;
  const double v = std::strtod(strText.c_str(), &end);
  if (end != strText.c_str() + strText.size() || errno == ERANGE || !std::isfinite(v)) {
    return false;
  }
  fValue = v;
  return true;
}

bool Arguments::ParseVector(const std::string& strText, CbVector3f& value) {
  std::vector<double> parts;
  std::size_t start = 0;
  while (true) {
    const auto comma = strText.find(',', start);
    double v = 0.0;
    if (!ParseNumber(
            strText.substr(start, comma == std::string::npos ? std::string::npos : comma - start),
            v)) {
      return false;
    }
    parts.push_back(v);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (parts.size() == 1) parts.assign(3, parts[0]);
  if (parts.size() != 3) return false;
  value = CbVector3f(static_cast<float>(parts[0]), static_cast<float>(parts[1]),
                     static_cast<float>(parts[2]));
  return std::isfinite(value.x) && std::isfinite(value.y) && std::isfinite(value.z);
}

}  // namespace tolvane::cli
