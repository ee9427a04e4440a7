// <windows.h> without the parts this program never uses and without the min and max macros.
#ifndef DSPHOST_PLATFORM_WINDOWS_WINDOWS_HEADERS_H
#define DSPHOST_PLATFORM_WINDOWS_WINDOWS_HEADERS_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#endif
