#include "app/startup.h"

#include <cstdlib>

void system_startup() {}
void system_shutdown() {}
void end_program(int32_t status) {
    std::exit(status);
}
