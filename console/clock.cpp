#include "console/clock.h"
