#pragma once

#include <tolvane/Export.h>

#include <stdexcept>
#include <string>

/// Exception of the base layer. Carries the function that raised it, the source file and the
/// line, besides a message. Every error the library reports is a CbException or derived from it.
class TOLVANE_API CbException : public std::runtime_error {
 public:
  CbException(const std::string& function, const std::string& file, int line,
              const std::string& message);

  [[nodiscard]] const std::string& GetFunction() const noexcept { return m_strFunction; }
  [[nodiscard]] const std::string& GetFile() const noexcept { return m_strFile; }
  [[nodiscard]] int GetLine() const noexcept { return m_iLine; }
  /// The message alone, without function, file and line (what() gives all of them).
  [[nodiscard]] const std::string& GetMessage() const noexcept { return m_strMessage; }

 private:
  std::string m_strFunction;
  std::string m_strFile;
  int m_iLine;
  std::string m_strMessage;
};

/// Raised by the base layer's containers (lists, arrays) when they cannot get memory or are
/// used out of range.
class TOLVANE_API CbExceptionContainer : public CbException {
 public:
  using CbException::CbException;
};
