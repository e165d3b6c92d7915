#pragma once

#include <tolvane/Export.h>

#include "base/CbMatrix4.h"

/// The identity transformation in double precision (column-major, no translation). A constant
/// of the math layer, initialised before any user code runs; safe to read from any thread.
extern TOLVANE_API const CbMatrix4Rd c_matIdentityD;
