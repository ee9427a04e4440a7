#include "app/startup.h"

#include <cfenv>
#include <clocale>
#include <cstdlib>

#include "platform/platform.h"

namespace {

int32_t startup_count = 0;

}  // namespace

void system_startup() {
    if (startup_count++ != 0) {
        return;
    }
    // The console and output records are process-wide statics, clear from process start;
    // nothing has touched them yet.
    std::fesetround(FE_TONEAREST);
    std::setlocale(LC_CTYPE, "");
    platform_startup();
    std::atexit(system_shutdown);
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
