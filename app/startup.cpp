#include "app/startup.h"

#include <cfenv>
#include <clocale>
#include <cstdlib>

#include "platform/platform.h"

namespace {

int32_t startup_count = 0;

}  // namespace

// Every call counts, and every call registers the shutdown that matches it, so the last
// shutdown to run is the one that acts, however many start-ups there were (on Windows static
// initialisation starts up before main does).
void system_startup() {
    std::atexit(system_shutdown);
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

void end_program(int32_t status) {
    std::exit(status);
}
