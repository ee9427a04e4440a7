// Pass-through effect: the output sample is the input sample.
#include "audio/dsp_library.h"

extern "C" void adp_emp(float in_value, float* out_value) {
    *out_value = in_value;
}
