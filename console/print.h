// Print services for the status line: a text item and a signed 64-bit integer item, each
// optionally followed by a line end or a move to the next print zone.
#ifndef DSPHOST_CONSOLE_PRINT_H
#define DSPHOST_CONSOLE_PRINT_H

#include <climits>
#include <cstdint>
#include <string>
#include <string_view>

// After the item, write CR LF.
constexpr int32_t PRINT_NEWLINE = 1;
// After the item, move to the next print zone (never combined with a line end).
constexpr int32_t PRINT_ZONE = 2;
// The value 4, unnamed, is an older spelling of PRINT_NEWLINE for print_string and
// print_int64; print_masked_double ignores it.
// print_int64 only: one blank after the digits.
constexpr int32_t PRINT_TRAILING_BLANK = 16;
// print_masked_double only: the item ends the masked print and releases the mask.
constexpr int32_t PRINT_MASK_DONE = INT32_MIN;

// Writes the text's bytes unchanged in one write, then acts on the flags.
void print_string(std::string_view text, int32_t flags);

// Writes "-" and the digits for a negative value, a blank and the digits otherwise; no
// grouping, whatever the locale. The line end, if any, goes out in the same write.
void print_int64(int64_t value, int32_t flags);

// One status line, item by item: the message, a blank, the clock string, the total count, the
// count since the previous line, and the CPU figure through the mask "##.##%", then CR LF.
void print_status_line(std::string_view clock, int64_t total, int64_t since_last,
                       double cpu_percent);

#endif
