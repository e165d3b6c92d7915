#pragma once

#include <random>
#include <string>

#include "container/KaCSurfelCollectionCCT.h"

namespace tolvane_test {

/// A collection of n surfels with positions on a jittered grid in the z = 0 plane, normals
/// facing (0, 0, -1), colours, qualities, tissue types, boundary flags and attributes 103 and
/// 105 all set from a fixed seed, so that every attribute differs between neighbours.
KaCSurfelCollectionCCT MakeCollection(unsigned int n,
                                      ESurfelAttributeSet eSet = eSurfelAttributeSetFull,
                                      unsigned int seed = 1);

/// The whole text of a file; empty when it cannot be read.
std::string ReadFile(const std::string& path);
/// Replaces the file at path by the text.
void WriteFile(const std::string& path, const std::string& text);

/// A fresh empty directory under the system's temporary directory, removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  [[nodiscard]] const std::string& Path() const { return m_strPath; }
  [[nodiscard]] std::string File(const std::string& name) const { return m_strPath + "/" + name; }

 private:
  std::string m_strPath;
};

}  // namespace tolvane_test
