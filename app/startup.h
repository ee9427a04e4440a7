// Preparing the process before the main routine's own work, and its orderly end.
#ifndef DSPHOST_APP_STARTUP_H
#define DSPHOST_APP_STARTUP_H

#include <chrono>
#include <cstdint>

void system_startup();
void system_shutdown();
[[noreturn]] void end_program(int32_t status);

// Makes sure the process ends within about bound from now, with status 0, whatever the calls
// made meanwhile do: if the orderly end has not begun by then, the program's own at-exit steps
// run and the process ends without the libraries' clean-up; if it has begun but not finished
// after another bound, the process ends where it stands.
void bound_the_end(std::chrono::milliseconds bound);

#endif
