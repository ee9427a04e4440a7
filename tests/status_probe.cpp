// A fresh process for tests whose subject is set up once per process.
//   status_probe clock       writes clock_string() and a line end (for a moved clock)
//   status_probe line WIDTH  prints the example status line and "12345" through the print
//                            services, and exits with 0 only if the output had WIDTH columns
//                            and ends at column 5
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/clock.h"
#include "console/console_output.h"
#include "tests/support/status_print.h"

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "clock") == 0) {
        printf("%s\n", clock_string().c_str());
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "line") == 0) {
        print_example_line();
        print_string("12345", 0);
        bool ok = output_line_width() == atoi(argv[2]) && output_column() == 5;
        return ok ? 0 : 1;
    }
    return 2;
}
