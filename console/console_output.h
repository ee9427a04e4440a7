// The single output path of the print services: bytes go to the console, or unchanged to a
// redirected standard output, as soon as they are handed over. Keeps the output column for
// the print zones.
#ifndef DSPHOST_CONSOLE_CONSOLE_OUTPUT_H
#define DSPHOST_CONSOLE_CONSOLE_OUTPUT_H

#include <cstddef>

// Writes the bytes to console_output_handle(), retrying until all are out (a terminal that
// takes no output now is not waited for: see platform_console_write). A failing write (closed
// pipe, full disk) drops the rest of these bytes silently; the next call tries again.
// Updates the output column.
void console_write(const char* bytes, size_t length);

// Moves to the next print zone (zones are 14 columns wide): blanks up to the zone's start, or
// CR LF when that zone would not fit on the line.
void move_to_next_zone();

#endif
