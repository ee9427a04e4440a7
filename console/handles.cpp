#include "console/handles.h"

#include <unistd.h>

namespace {

bool handles_open = false;
int input_handle = -1;
int output_handle = -1;

void open_handles() {
    if (handles_open) {
        return;
    }
    handles_open = true;
    input_handle = STDIN_FILENO;
    output_handle = STDOUT_FILENO;
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
