#include "app/startup.h"

#include <atomic>
#include <cfenv>
#include <clocale>
#include <cstdlib>
#include <thread>

#include "platform/exit_steps.h"
#include "platform/platform.h"

namespace {

int32_t startup_count = 0;

// The platform may start the process up from static initialisation (Windows does). main calls
// system_startup again, which then only counts, with a shutdown of its own to match.
const struct start_before_main {
    start_before_main() { platform_start_before_main(system_startup); }
} started_before_main;

}  // namespace

// Every call counts, and every call registers the shutdown that matches it, so the last
// shutdown to run is the one that acts, however many start-ups there were (on Windows static
// initialisation starts up before main does).
void system_startup() {
    add_exit_step(system_shutdown);
    if (startup_count++ != 0) {
        return;
    }
    // The console and output records are process-wide statics, clear from process start;
    // nothing has touched them yet.
    std::fesetround(FE_TONEAREST);
    std::setlocale(LC_CTYPE, "");
    platform_startup();
}

void system_shutdown() {
    if (--startup_count != 0) {
        return;
    }
    // Every text the program keeps is released with its owner; there is nothing left here.
}

namespace {

// Set by the thread that ends the process first, so that exit() and end_process_now() never
// run at the same time.
std::atomic<bool> ending{false};

}  // namespace

void end_program(int32_t status) {
    if (ending.exchange(true)) {
        for (;;) {  // the bound's thread is ending the process
            std::this_thread::sleep_for(std::chrono::hours(1));
        }
    }
    std::exit(status);
}

void bound_the_end(std::chrono::milliseconds bound) {
    std::thread([bound] {
        std::this_thread::sleep_for(bound);
        if (!ending.exchange(true)) {
            end_process_now(0);
        }
        // exit() is running: the at-exit steps and the libraries' clean-up after them.
        std::this_thread::sleep_for(bound);
        platform_end_process_now(0);
    }).detach();
}
