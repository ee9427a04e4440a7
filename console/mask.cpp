#include "console/mask.h"
