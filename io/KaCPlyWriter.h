#pragma once

#include <string>

#include "container/KaCSurfelCollectionCCT.h"
#include "io/EPlyFormat.h"

/// Writes a surfel collection as a PLY file with one element "vertex" whose properties are, in
/// this order: float x y z, float nx ny nz (the decoded normal; 0 0 0 for an unset normal),
/// uchar red green blue, float quality, uchar tissue (0..3), uchar boundary (0 or 1) and
/// uint value (attribute 105). KaCPlyReader reads every one of them back unchanged.
///
/// ASCII bodies print floats in their shortest form that reads back to the same float.
/// Files go through KaCAtomicFile: the target appears only once it is complete. Errors throw
/// CbException naming the file. The collection is only read; several threads may write
/// different files at once.
class KaCPlyWriter {
 public:
  /// Writes the collection to strPath (binary little endian unless told otherwise).
  static void WriteFile(const KaCSurfelCollectionCCT& collection, const std::string& strPath,
                        EPlyFormat eFormat = EPlyFormat::eBinaryLittleEndian);
  /// The bytes of the same file, in memory.
  [[nodiscard]] static std::string WriteBuffer(
      const KaCSurfelCollectionCCT& collection,
      EPlyFormat eFormat = EPlyFormat::eBinaryLittleEndian);
};
