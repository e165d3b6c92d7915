#pragma once

#include <pybind11/pybind11.h>

#include <string>

class CbException;

/// Which Python exception a library error becomes: ValueError for bad input, OSError for a file
/// that cannot be read or written, RuntimeError for anything else.
enum class EPyError { eValue, eFile, eRuntime };

/// Raises the Python exception of that kind for a library exception: the message is the
/// library's, and the exception carries its origin as the attributes `function`, `file` and
/// `line`. Never returns (throws pybind11::error_already_set).
[[noreturn]] void PyRaise(EPyError eKind, const CbException& e);
/// The same for an error found by the module or the tool's shared code (no origin attributes).
[[noreturn]] void PyRaise(EPyError eKind, const std::string& strMessage);

/// Runs f, turning the library's exceptions into the Python exception of kind eKind (and the
/// tool's shared input errors into ValueError).
template <class F>
decltype(auto) PyGuard(EPyError eKind, F&& f);

/// Registers the fallback translation: a library exception that no PyGuard caught becomes
/// RuntimeError.
void PyRegisterErrors(pybind11::module_& m);

#include "PyErrors.inl"
