#include "base/CbException.h"

namespace {

std::string Describe(const std::string& function, const std::string& file, int line,
                     const std::string& message) {
  std::string base = file;
  const std::string::size_type slash = base.find_last_of("/\\");
  if (slash != std::string::npos) base = base.substr(slash + 1);
  return message + " (" + function + ", " + base + ":" + std::to_string(line) + ")";
}

}  // namespace

CbException::CbException(const std::string& function, const std::string& file, int line,
                         const std::string& message)
    : std::runtime_error(Describe(function, file, line, message)),
      m_strFunction(function),
      m_strFile(file),
      m_iLine(line),
      m_strMessage(message) {}
