#pragma once

#include <pybind11/pybind11.h>

/// Filter, FilterList and one function per filter step of the tool.
void PyBindFilters(pybind11::module_& m);
