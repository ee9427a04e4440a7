// The program's own steps at the end of the process (the terminal's modes put back, the
// control handler removed, ...), run in the reverse order of their registration: by exit() as
// at-exit steps, or by end_process_now(), which ends the process without the libraries' own
// clean-up, for when that clean-up could wait for ever on a stuck audio back end.
#ifndef DSPHOST_PLATFORM_EXIT_STEPS_H
#define DSPHOST_PLATFORM_EXIT_STEPS_H

// Registers step with atexit, and for end_process_now.
void add_exit_step(void (*step)());

// Runs the registered steps, latest first, then ends the process at once with status.
[[noreturn]] void end_process_now(int status);

#endif
