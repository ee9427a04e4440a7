#include "console/handles.h"

namespace {

bool handles_open = false;
console_handle input_handle{};
console_handle output_handle{};

// The flag is set first, so a failed fetch is not retried.
void open_handles() {
    if (handles_open) {
        return;
    }
    handles_open = true;
    platform_open_handles(&input_handle, &output_handle);
}

}  // namespace

console_handle console_input_handle() {
    open_handles();
    return input_handle;
}

console_handle console_output_handle() {
    open_handles();
    return output_handle;
}
