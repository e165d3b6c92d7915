#include "Transformation.h"

#include <fstream>
#include <sstream>

#include "Arguments.h"
#include "InputError.h"

namespace tolvane::cli {

bool transformation::Parse(std::string_view text, CbMatrix4Rd& m, std::size_t& nFound) {
  std::string spaced(text);
  for (char& c : spaced) {
    if (c == ',') c = ' ';
  }
  std::istringstream in(spaced);
  std::string word;
  nFound = 0;
  double values[16] = {};
  while (in >> word) {
    double v = 0.0;
    if (!Arguments::ParseNumber(word, v)) return false;
    if (nFound < 16) values[nFound] = v;
    ++nFound;
  }
  if (nFound != 16) return false;
  for (int i = 0; i < 16; ++i) m.m[i] = values[i];
  return true;
}

std::string transformation::StripComments(std::string_view fileText) {
  std::string text;
  while (!fileText.empty()) {
    const auto end = fileText.find('\n');
    const std::string_view line = fileText.substr(0, end);
    text.append(line.substr(0, line.find('#')));
    text += ' ';
    fileText = end == std::string_view::npos ? std::string_view() : fileText.substr(end + 1);
  }
  return text;
}

CbMatrix4Rd transformation::ReadFile(const std::string& strPath) {
  std::ifstream in(strPath, std::ios::binary);
  if (!in) throw InputError(strPath + ": cannot open");
  std::ostringstream text;
  text << in.rdbuf();
  CbMatrix4Rd m;
  std::size_t n = 0;
  if (!Parse(StripComments(text.str()), m, n)) {
    throw InputError(strPath + ": expected 16 numbers (a 4x4 matrix in storage order)");
  }
  return m;
}

}  // namespace tolvane::cli
