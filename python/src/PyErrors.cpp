#include "PyErrors.h"

#include "base/CbException.h"

namespace py = pybind11;

namespace {

PyObject* TypeOf(EPyError eKind) {
  switch (eKind) {
    case EPyError::eValue:
      return PyExc_ValueError;
    case EPyError::eFile:
      return PyExc_OSError;
    case EPyError::eRuntime:
      break;
  }
  return PyExc_RuntimeError;
}

// Sets the Python error for a library exception (the GIL is held).
void SetError(EPyError eKind, const CbException& e) {
  py::object type = py::reinterpret_borrow<py::object>(TypeOf(eKind));
  py::object error = type(e.GetMessage());
  error.attr("function") = e.GetFunction();
  error.attr("file") = e.GetFile();
  error.attr("line") = e.GetLine();
  PyErr_SetObject(TypeOf(eKind), error.ptr());
}

}  // namespace

void PyRaise(EPyError eKind, const CbException& e) {
  SetError(eKind, e);
  throw py::error_already_set();
}

void PyRaise(EPyError eKind, const std::string& strMessage) {
  PyErr_SetString(TypeOf(eKind), strMessage.c_str());
  throw py::error_already_set();
}

void PyRegisterErrors(py::module_&) {
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const CbException& e) {
      SetError(EPyError::eRuntime, e);
    }
  });
}
