// The one way Ventora's Windows files reach the Windows API: lean headers, and no min/max macros
// to trip over std::min and std::max.
#pragma once
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
