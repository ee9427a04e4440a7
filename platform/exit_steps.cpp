#include "platform/exit_steps.h"

#include <cstdlib>
#include <iterator>

#include "platform/platform.h"

namespace {

// Registered on the main thread before the end begins; read by whichever thread ends the
// process.
void (*steps[8])() = {};
int step_count = 0;

}  // namespace

void add_exit_step(void (*step)()) {
    std::atexit(step);
    if (step_count < static_cast<int>(std::size(steps))) {
        steps[step_count++] = step;
    }
}

void end_process_now(int status) {
    while (step_count > 0) {
        steps[--step_count]();
    }
    platform_end_process_now(status);
}
