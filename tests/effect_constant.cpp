// Test effect: ignores its input and writes 0.25, which the host plays as 8192.
#include "audio/dsp_library.h"

extern "C" void adp_emp(float /*in_value*/, float* out_value) {
    *out_value = 0.25f;
}
