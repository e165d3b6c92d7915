#pragma once

// TOLVANE_API marks the classes and functions libtolvane exports. The library is built with
// hidden visibility, so everything not marked stays internal to it.
#if defined(__GNUC__) || defined(__clang__)
#define TOLVANE_API __attribute__((visibility("default")))
#else
#define TOLVANE_API
#endif
