// The Windows build's tests run under Wine. Where Wine is known to differ
// from Windows itself, the expectation stays with the Linux build; the
// reason says how Wine differs.
#pragma once

#include <gtest/gtest.h>

#ifdef _WIN32
#define SKIP_WHERE_WINE_DIFFERS(reason) GTEST_SKIP() << "Wine differs from Windows: " << (reason)
#else
#define SKIP_WHERE_WINE_DIFFERS(reason) static_cast<void>(reason)
#endif
