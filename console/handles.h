// The console handles: standard input and standard output, fetched once on first use.
// Fetching them also prepares the console for key polling (see platform/platform.h).
#ifndef DSPHOST_CONSOLE_HANDLES_H
#define DSPHOST_CONSOLE_HANDLES_H

#include "platform/platform.h"

// Where keys are read from.
console_handle console_input_handle();

// Where the status line is written to.
console_handle console_output_handle();

#endif
