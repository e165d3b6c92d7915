// The extension module behind the Python package tolvane (see python/tolvane/__init__.py).
#include <pybind11/pybind11.h>

#include "PyCollection.h"
#include "PyCompute.h"
#include "PyErrors.h"
#include "PyFilters.h"
#include "PySettings.h"

PYBIND11_MODULE(_tolvane, m) {
  m.doc() = "Surfel collections, filters, signed distances and the phantom analysis (C++ core).";
  PyRegisterErrors(m);
  PyBindCollection(m);
  PyBindFilters(m);
  PyBindCompute(m);
  PyBindSettings(m);
}
