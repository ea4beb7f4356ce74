// The Win32 API for the window's own calls, without the parts that clash with the standard
// library (min/max) or that nothing here uses.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
