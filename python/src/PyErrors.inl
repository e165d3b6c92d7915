#pragma once

#include "InputError.h"
#include "base/CbException.h"

template <class F>
decltype(auto) PyGuard(EPyError eKind, F&& f) {
  try {
    return f();
  } catch (const CbException& e) {
    PyRaise(eKind, e);
  } catch (const tolvane::cli::InputError& e) {
    PyRaise(EPyError::eValue, e.what());
  }
}
