#include "geometry/CyMathConstants.h"

// Constant-initialised, so it is valid even during the static initialisation of other units.
constexpr CbMatrix4Rd c_matIdentityD = CbMatrix4Rd::Identity();
