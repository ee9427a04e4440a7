// One status line printed item by item through the real print services, as the monitor loop
// prints it, for the tests of the output path and the probe they start. Header only: the
// probe links the console library and nothing of the test support.
#ifndef DSPHOST_TESTS_SUPPORT_STATUS_PRINT_H
#define DSPHOST_TESTS_SUPPORT_STATUS_PRINT_H

#include <cstdint>
#include <string_view>

#include "console/mask.h"
#include "console/print.h"

// The line for the example figures: "hit ctrl-C or ESC key to exit 12:34:56 123456 8000 3.12%".
constexpr std::string_view example_line =
    "hit ctrl-C or ESC key to exit 12:34:56 123456 8000 3.12%\r\n";

// count is the samples counted so far, shown the count the line before showed, cpu_load the
// library's figure (0.0312 for 3.12 %).
inline void print_status_line(std::string_view clock, int64_t count, int64_t shown,
                              double cpu_load) {
    print_string("hit ctrl-C or ESC key to exit", 0);
    print_string(" ", 0);
    print_string(clock, 0);
    print_int64(count, 0);
    print_int64(count - shown, 0);
    mask_init("##.##%");
    print_masked_double(cpu_load * 100.0, PRINT_NEWLINE | PRINT_MASK_DONE);
    mask_end();
}

inline void print_example_line() {
    print_status_line("12:34:56", 123456, 115456, 0.0312);
}

#endif
