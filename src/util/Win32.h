// <windows.h> as the core includes it: without the min and max macros and
// the rarely used parts, and without the macro that would turn the profile
// writer's WriteProfileString into the Win32 function. Empty elsewhere.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#undef WriteProfileString
#endif
