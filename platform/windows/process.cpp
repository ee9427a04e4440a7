// The process on Windows: start-up from static initialisation, the floating-point control,
// a monitor loop that does not wait, and the end without the libraries' clean-up.
#include <float.h>

#include <cstdlib>

#include "platform/platform.h"

// Windows prepares the process at static initialisation, as its run-time does its own state
// before main, so that nothing of the program runs before the rounding and the locale are set.
void platform_start_before_main(void (*startup)()) {
    startup();
}

// Without the notifications of ExitProcess, so that no module's detach code can wait on an
// audio driver's stuck thread.
void platform_end_process_now(int status) {
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    _exit(status);  // not reached: the process ends in the call above
}

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

// The audio library's MME host already runs its callback thread at time-critical priority.
void platform_audio_stream_opened(PaStream* /*stream*/) {}

// The monitor loop polls the console without pause, at the thread's normal priority. (At idle
// priority it would run only when Windows boosts a starved thread, about every four seconds
// while every core is busy, and lines and keys would wait that long.)
void platform_monitor_wait() {}
