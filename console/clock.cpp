#include "console/clock.h"

#include <cstdio>
#include <ctime>

std::string clock_string() {
    // The precise clock, not time(): that one reads a coarse clock that turns the second
    // several milliseconds late, and the status line would come late with it.
    timespec now_precise{};
    clock_gettime(CLOCK_REALTIME, &now_precise);
    const time_t now = now_precise.tv_sec;
    tm local{};
    if (localtime_r(&now, &local) == nullptr) {
        return "";
    }
    char text[32];
    // Plain %d conversions: no locale affects them.
    snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}
