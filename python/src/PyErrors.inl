#pragma once

#include "KaCInputError.h"
#include "base/CbException.h"

template <class F>
decltype(auto) PyGuard(EPyError eKind, F&& f) {
  try {
    return f();
  } catch (const CbException& e) {
    PyRaise(eKind, e);
  } catch (const KaCInputError& e) {
    PyRaise(EPyError::eValue, e.what());
  }
}
