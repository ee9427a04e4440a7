// Preparing the process before the main routine's own work, and its orderly end.
#ifndef DSPHOST_APP_STARTUP_H
#define DSPHOST_APP_STARTUP_H

#include <cstdint>

void system_startup();
void system_shutdown();
[[noreturn]] void end_program(int32_t status);

#endif
