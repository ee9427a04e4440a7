// Test effect: writes the negated input (-1.0 becomes 1.0, which the host folds to -32768).
#include "audio/dsp_library.h"

extern "C" void adp_emp(float in_value, float* out_value) {
    *out_value = -in_value;
}
