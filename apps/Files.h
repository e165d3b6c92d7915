#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "base/CbSmartPointer.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "io/KaCPlyReader.h"
#include "io/KaCPlyWriter.h"

namespace tolvane::cli {

class Progress;

/// Reading and writing collections for the subcommands, with progress on a terminal.
namespace files {

/// Reads a PLY, STL or OBJ file (tolvane::InputReader; "-" is standard input, pipes are read
/// to their end); meshes without normals get them from their faces. Values the reader
/// had to change to fit their attribute are reported on stderr, one warning line per property.
/// With bNeedNormals a file without normals or faces is refused (InputError
/// naming the file and strPurpose, "the analysis needs them").
[[nodiscard]] CbSmartPointer<KaCSurfelCollectionCCT> Read(const std::string& strPath,
                                                          Progress& progress,
                                                          bool bNeedNormals = false,
                                                          const char* szPurpose = "");
/// Writes a PLY file, ASCII when bAscii, else binary little endian, with the extra float
/// properties after the attributes. A binary file shows its share written on a terminal.
void Write(const KaCSurfelCollectionCCT& collection, const std::string& strPath, bool bAscii,
           Progress& progress, const std::vector<KaCPlyWriter::FloatProperty>& vecExtra = {});

/// Where a command prints its results: stdout, or stderr when one of its output files is "-"
/// (standard output), so that stdout carries that file alone. Throws UsageError when more
/// than one output is "-".
[[nodiscard]] std::FILE* TextStream(const std::vector<std::string>& vecOutputs);

}  // namespace files

}  // namespace tolvane::cli
