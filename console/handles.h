// The console handles: standard input and standard output, fetched once on first use.
// Fetching them also prepares the terminal on standard input for key polling (see terminal.h).
#ifndef DSPHOST_CONSOLE_HANDLES_H
#define DSPHOST_CONSOLE_HANDLES_H

// The descriptor keys are read from (0).
int console_input_handle();

// The descriptor the status line is written to (1).
int console_output_handle();

// True when the input handle is a terminal, prepared for key polling. When it is not (a file,
// a pipe, /dev/null), it is never read and no key ever arrives.
bool console_input_is_terminal();

#endif
