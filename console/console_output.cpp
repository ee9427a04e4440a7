#include "console/console_output.h"
