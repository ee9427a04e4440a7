// The single output path of the print services: bytes go to standard output unchanged, as
// soon as they are handed over, whether that is a terminal, a file or a pipe.
#ifndef DSPHOST_CONSOLE_CONSOLE_OUTPUT_H
#define DSPHOST_CONSOLE_CONSOLE_OUTPUT_H

#include <cstddef>

// Writes the bytes to console_output_handle(), retrying until all are out. A failing write
// (closed pipe, full disk) drops the rest of these bytes silently; the next call tries again.
// Updates the output column.
void console_write(const char* bytes, size_t length);

// The 0-based column at which the next byte goes: the bytes after the last CR or LF written,
// modulo the line width. 0 before the first write.
int output_column();

// The line width, fixed at the first write: the terminal's column count when standard output
// is a terminal, else 80.
int output_line_width();

// The width a line on descriptor fd has: the terminal's column count, or 80 when fd is no
// terminal or reports no width.
int line_width_of(int fd);

// Moves to the next print zone (zones are 14 columns wide): blanks up to the zone's start, or
// CR LF when that zone would not fit on the line.
void move_to_next_zone();

#endif
