#include "console/terminal.h"
