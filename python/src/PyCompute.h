#pragma once

#include <pybind11/pybind11.h>

/// The signed distance, the phantom analysis and the synthetic phantom scan generator.
void PyBindCompute(pybind11::module_& m);
