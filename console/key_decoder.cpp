#include "console/key_decoder.h"
