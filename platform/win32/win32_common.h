// The desktop's headers for the Win32 backend, included after the seam headers whose names they would
// otherwise rewrite (their macros turn MessageBox into MessageBoxA and WM_SIZE into a number).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// The seam's own functions carry these names; the desktop's are called by their A names.
#undef MessageBox
#undef PeekMessage
#undef DispatchMessage
#undef DefWindowProc
#undef SetEnvironmentVariable
#undef CreateWindowEx
