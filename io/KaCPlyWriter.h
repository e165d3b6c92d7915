#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "container/KaCSurfelCollectionCCT.h"
#include "io/EPlyFormat.h"

/// Writes a surfel collection as a PLY file with one element "vertex" whose properties are, in
/// this order: float x y z, float nx ny nz (the decoded normal; 0 0 0 for an unset normal),
/// uchar red green blue, float scalar_quality, uchar scalar_tissue (0..3), uchar
/// scalar_boundary (0 or 1), int scalar_value (attribute 105; "uint" when a value exceeds
/// 2^31 - 1, which fewer programs load), then any extra float
/// properties the caller passes. The "scalar_" names are the ones other point-cloud tools load
/// as per-point scalar fields. KaCPlyReader reads every attribute back unchanged.
///
/// ASCII bodies print floats in their shortest form that reads back to the same float (NaN as
/// "nan"). Files go through tolvane::OutputFile: a file target appears only once it is complete,
/// "-" is standard output. Errors throw CbException naming the file. The collection and the extra
/// values are only read; several threads may write different files at once.
class KaCPlyWriter {
 public:
  /// An extra per-surfel float property: its name and one value per surfel, surfel i's at
  /// pValues[i]. The caller keeps the values alive during the call.
  struct FloatProperty {
    std::string strName;
    const float* pValues = nullptr;
  };
  /// Receives the file's bytes in order, in chunks of up to about 64 KiB.
  using Sink = std::function<void(const char* pData, std::size_t nBytes)>;

  /// Writes the collection to strPath (binary little endian unless told otherwise).
  static void WriteFile(const KaCSurfelCollectionCCT& collection, const std::string& strPath,
                        EPlyFormat eFormat = EPlyFormat::eBinaryLittleEndian,
                        const std::vector<FloatProperty>& vecExtra = {});
  /// The bytes of the same file, in memory.
  [[nodiscard]] static std::string WriteBuffer(const KaCSurfelCollectionCCT& collection,
                                               EPlyFormat eFormat = EPlyFormat::eBinaryLittleEndian,
                                               const std::vector<FloatProperty>& vecExtra = {});
  /// The size of a binary body (everything after the header) for nSurfels surfels and nExtra
  /// extra properties; lets a caller of Write tell how far it has come.
  [[nodiscard]] static std::uint64_t GetBinaryBodyBytes(std::uint64_t nSurfels,
                                                        std::size_t nExtra) noexcept;
  /// The bytes of the same file, handed to sink (a pipe, standard output, a socket).
  /// An extra property whose name is empty, holds white space, repeats a name or has no
  /// values throws CbException before anything reaches the sink.
  static void Write(const KaCSurfelCollectionCCT& collection, EPlyFormat eFormat,
                    const std::vector<FloatProperty>& vecExtra, const Sink& sink);
};
