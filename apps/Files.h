#pragma once

#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "base/CbSmartPointer.h"
#include "container/KaCSurfelCollectionCCT.h"
#include "io/InputReader.h"
#include "io/KaCPlyReader.h"
#include "io/KaCPlyWriter.h"

namespace tolvane::cli {

class Progress;

/// Reading and writing collections for the subcommands, with progress on a terminal.
namespace files {

/// Reads a PLY, STL or OBJ file (tolvane::InputReader; "-" is standard input, pipes are read
/// to their end); meshes without normals get them from their faces. On a terminal the share
/// read shows as a percentage (inputs of known size). Values the reader
/// had to change to fit their attribute are reported on stderr, one warning line per property.
/// With bNeedNormals a file without normals or faces is refused (InputError
/// naming the file and strPurpose, "the analysis needs them").
[[nodiscard]] CbSmartPointer<KaCSurfelCollectionCCT> Read(const std::string& strPath,
                                                          Progress& progress,
                                                          bool bNeedNormals = false,
                                                          const char* szPurpose = "");

/// Read on a thread of its own, started by the constructor, so that the calling thread can do
/// other work meanwhile; Take then reports as Read does. Nothing is printed before Take, so
/// warnings and errors come in the order the caller takes the files. Only for regular files
/// (IsRegularFile): two threads must not share a stream. The destructor waits for the thread.
/// When no thread can be started, Take reads the file itself.
class BackgroundRead {
 public:
  explicit BackgroundRead(std::string strPath);
  ~BackgroundRead();
  BackgroundRead(const BackgroundRead&) = delete;
  BackgroundRead& operator=(const BackgroundRead&) = delete;

  /// Waits for the read to end, then reports and checks as Read does; throws what the read
  /// threw. Once only.
  [[nodiscard]] CbSmartPointer<KaCSurfelCollectionCCT> Take(Progress& progress,
                                                            bool bNeedNormals = false,
                                                            const char* szPurpose = "");

 private:
  void Load() noexcept;

  std::string m_strPath;
  CbSmartPointer<KaCSurfelCollectionCCT> m_sp;
  tolvane::InputReader::Contents m_contents;
  std::exception_ptr m_error;
  bool m_bLoaded = false;
  std::thread m_thread;
};

/// Whether strPath names a regular file (not "-", a pipe or a device).
[[nodiscard]] bool IsRegularFile(const std::string& strPath);
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
