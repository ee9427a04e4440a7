#include "console/keyboard.h"
