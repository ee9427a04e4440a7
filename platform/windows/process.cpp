// The process on Windows: start-up from static initialisation, the floating-point control,
// and the monitor loop's place behind the audio thread.
#include <float.h>

#include "app/startup.h"
#include "platform/platform.h"
#include "platform/windows/windows_headers.h"

namespace {

// Start-up runs before main, while the program's statics are initialised. main calls
// system_startup again, which then only counts, with a shutdown of its own to match.
[[maybe_unused]] const bool started_before_main = (system_startup(), true);

}  // namespace

// Rounding to nearest; 64-bit precision where the processor has precision control (x86).
// The x64 processor has none, and asking for it there would be an invalid parameter.
void platform_startup() {
#if defined(_M_IX86) || defined(__i386__)
    _controlfp(0, _MCW_RC | _MCW_PC);
#else
    _controlfp(0, _MCW_RC);
#endif
}

// Nothing to do around the audio library's calls here: its MME host prints nothing, and
// there are no signals to keep away from the threads it starts.
void platform_audio_calls_begin() {}
void platform_audio_calls_end() {}

// The monitor loop spins without sleeping; at idle priority every other thread of normal
// priority (the audio thread among them) runs first.
void platform_monitor_yields() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
}
