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
#ifdef _WIN32
    const bool converted = localtime_s(&local, &now) == 0;
#else
    const bool converted = localtime_r(&now, &local) != nullptr;
#endif
    if (!converted) {
        return "";
    }
    char text[32];
    // Plain %d conversions: no locale affects them.
    snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}
