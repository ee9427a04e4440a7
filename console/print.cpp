#include "console/print.h"
