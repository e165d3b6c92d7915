#pragma once

#include <string>

#include "base/CbSmartPointer.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "io/KaCPlyReader.h"

class KaCProgress;

/// Reading and writing collections for the subcommands, with progress on a terminal.
class KaCToolFiles {
 public:
  /// Reads a PLY file. With bNeedNormals a file without nx ny nz is refused (KaCInputError
  /// naming the file and strPurpose, "the analysis needs them").
  [[nodiscard]] static CbSmartPointer<KaCSurfelCollectionCCT> Read(const std::string& strPath,
                                                                   KaCProgress& progress,
                                                                   bool bNeedNormals = false,
                                                                   const char* szPurpose = "");
  /// Writes a PLY file, ASCII when bAscii, else binary little endian.
  static void Write(const KaCSurfelCollectionCCT& collection, const std::string& strPath,
                    bool bAscii, KaCProgress& progress);
};
