#include "console/clock.h"

#include <cstdio>
#include <ctime>

std::string clock_string() {
    time_t now = time(nullptr);
    tm local{};
    if (localtime_r(&now, &local) == nullptr) {
        return "";
    }
    char text[32];
    // Plain %d conversions: no locale affects them.
    snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}
