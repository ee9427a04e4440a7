#include "console/handles.h"

#include <unistd.h>

#include "console/terminal.h"

namespace {

bool handles_open = false;
int input_handle = -1;
int output_handle = -1;
bool input_is_terminal = false;

// The flag is set first, so a failed fetch is not retried.
void open_handles() {
    if (handles_open) {
        return;
    }
    handles_open = true;
    input_handle = STDIN_FILENO;
    output_handle = STDOUT_FILENO;
    input_is_terminal = terminal_prepare(input_handle);
}

}  // namespace

int console_input_handle() {
    open_handles();
    return input_handle;
}

int console_output_handle() {
    open_handles();
    return output_handle;
}

bool console_input_is_terminal() {
    open_handles();
    return input_is_terminal;
}
