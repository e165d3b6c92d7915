#pragma once

#include <tolvane/Export.h>

#include <vector>

#include <tolvane/KaIMpSurfelCollection.h>

/// A map that returns a copy of its input without the samples flagged for deletion. The flag
/// vector is indexed by sample: entry i belongs to surfel i, and the value 1 deletes it; every
/// other value keeps it. The kept samples appear in input order from index 0, with every
/// attribute and unchanged positions and normals; the result shares the input's ray image.
///
/// Keeps the address of the caller's flag vector, not a copy: the vector must outlive every
/// call and hold at least one entry per input surfel (this is not checked).
/// Not reference-counted and has no in-place face.
///
/// Threads: no state of its own; one map may serve several threads as long as the flag vector
/// is not changed meanwhile.
class TOLVANE_API KaCMpDeleteSamples : public KaIMpSurfelCollection {
 public:
  /// deleteFlags: kept by address.
  explicit KaCMpDeleteSamples(const std::vector<unsigned int>& deleteFlags);
  KaCMpDeleteSamples(const KaCMpDeleteSamples& other);
  KaCMpDeleteSamples& operator=(const KaCMpDeleteSamples& other);
  ~KaCMpDeleteSamples() override;

  /// A new collection, owned by the caller. Allocated once at the input's size and shrunk to
  /// the kept samples.
  [[nodiscard]] KaCSurfelCollectionCCT* operator()(
      const KaCSurfelCollectionCCT& input) const override;

 private:
  const std::vector<unsigned int>* m_pDeleteFlags;
};
