// The console handles: standard input and standard output, fetched once on first use.
// Fetching them also prepares the terminal on standard input for key polling.
#ifndef DSPHOST_CONSOLE_HANDLES_H
#define DSPHOST_CONSOLE_HANDLES_H

// The descriptor keys are read from (0).
int console_input_handle();

// The descriptor the status line is written to (1).
int console_output_handle();

#endif
