// The time of day shown on the status line.
#ifndef DSPHOST_CONSOLE_CLOCK_H
#define DSPHOST_CONSOLE_CLOCK_H

#include <string>

// The local time of day as "hh:mm:ss" (24-hour, two digits each), or the empty text when the
// local time cannot be had.
std::string clock_string();

#endif
