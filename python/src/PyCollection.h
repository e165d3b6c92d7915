#pragma once

#include <pybind11/pybind11.h>

#include <memory>
#include <vector>

#include "base/CbSmartPointer.h"
#include "container/KaCSurfelCollectionCCT.h"

/// The object behind tolvane.Collection: a counted pointer to the library's collection.
///
/// Numpy views of the attributes point into the collection's arrays and hold the Python object
/// as their base, so the collection lives as long as any view. An operation that may move the
/// arrays (a filter that removes surfels) first moves this object to a copy of the surfels when
/// views were handed out, and keeps the old surfels in m_vecRetired: views taken before it then
/// still read valid (old) memory instead of freed memory.
///
/// Threads: reading from several threads at once is safe (the GIL is released during long
/// work); a change must not run while another thread reads the same collection.
struct PyCollection {
  CbSmartPointer<KaCSurfelCollectionCCT> sp;
  /// Whether the source held normals (a file's nx ny nz, from_arrays(normals=...)): the
  /// signed distance and the phantom analysis refuse a collection without them.
  bool bHasNormals = false;
  bool bViewsHandedOut = false;
  std::vector<CbSmartPointer<KaCSurfelCollectionCCT>> m_vecRetired;

  explicit PyCollection(CbSmartPointer<KaCSurfelCollectionCCT> p, bool bNormals)
      : sp(std::move(p)), bHasNormals(bNormals) {}

  [[nodiscard]] KaCSurfelCollectionCCT& Get() const { return *sp; }
  /// Before a change that may move the arrays: gives this object a copy of its surfels when
  /// views of the current ones exist.
  void PrepareForResize();
};

using PyCollectionPtr = std::shared_ptr<PyCollection>;

void PyBindCollection(pybind11::module_& m);
