// What differs between the platforms, behind one small set of functions. Each platform has
// one folder that implements all of them: posix/ (a terminal with termios and signals) and
// windows/ (the Windows console). Everything else is shared and compiled for both.
#ifndef DSPHOST_PLATFORM_PLATFORM_H
#define DSPHOST_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>

#include "platform/console_types.h"

using PaStream = void;  // as the audio library declares it

// Process start-up, after the shared steps of system_startup.
void platform_startup();

// Called from a static initialiser with the program's start-up: where the platform starts the
// process up before main (Windows), it calls startup now; elsewhere main does, and this does
// nothing.
void platform_start_before_main(void (*startup)());

// Ends the process at once with status: no at-exit steps, no clean-up of the libraries
// (loaded modules included), nothing that could wait on another thread.
[[noreturn]] void platform_end_process_now(int status);

// Around the audio library's start and stop sequences on the main thread: keeps the signals
// meant for the main thread out of the threads the audio library creates. From the first
// call on, the audio back ends' diagnostics stay off the screen for good, whichever thread
// prints them.
void platform_audio_calls_begin();
void platform_audio_calls_end();

// Between opening the stream and starting it: puts the audio thread in a real-time
// scheduling class on a sound card, where the system allows it and the audio library can.
void platform_audio_stream_opened(PaStream* stream);

// Ends a pass of the monitor loop that found no key. POSIX sleeps until a key arrives, the
// wall clock's second changes or a signal the program handles comes; Windows returns at once,
// so the loop polls the console without pause.
void platform_monitor_wait();

// Fetches the console handles and prepares the console for key polling (processed input on,
// or the terminal's modes).
void platform_open_handles(console_handle* input, console_handle* output);

// Puts bytes on the console, or hands them unchanged to a redirected standard output. A
// failing write drops the rest silently. A console that takes no output now (a terminal whose
// output is stopped) never makes it wait: its status lines are dropped whole meanwhile.
void platform_console_write(console_handle output, const char* bytes, size_t length);

// The console's line width for the print zones: its column count, 80 when it has none.
int platform_line_width(console_handle output);

// The most key records one call of platform_read_key_records hands back.
constexpr size_t KEY_RECORDS_PER_READ = 512;

// Reads key records pending now into records (room for KEY_RECORDS_PER_READ) and returns how
// many; 0 once nothing more is pending. Never waits.
size_t platform_read_key_records(console_handle input, key_event* records);

// The unshifted character the keyboard layout gives a virtual key, all 16 bits of it (beyond
// one byte on some Windows layouts), 0 for keys without one.
uint16_t layout_character(uint16_t virtual_key);

// Handles a console control event (CTRL_CLOSE_EVENT, ...): true when handled, false to leave
// it to the platform's default handling. Called from a signal handler or another thread.
using ctrl_handler = bool (*)(int event);

// Installs and removes the platform's console control handler, which hands every control event
// (or the signals standing for close and shut-down) to handler.
void platform_install_ctrl_handler(ctrl_handler handler);
void platform_remove_ctrl_handler();

#endif
