// The library's C interface as seen from inside: these declarations, and
// only these, are visible outside the shared library.
#pragma once

#if defined(__GNUC__)
#pragma GCC visibility push(default)
#endif
#include "crontab/crontab.h"
#include "crontab/registry.h"
#if defined(__GNUC__)
#pragma GCC visibility pop
#endif
