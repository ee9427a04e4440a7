// First-order pre-emphasis: y[n] = x[n] - 0.95 x[n-1].
//
// Lifts high frequencies against low ones (gain 0.05 at DC, 1.95 at 4 kHz), the classic
// first step before speech analysis. The filter's memory, the previous input,
// lives here in the library: the host keeps no state for the effect. adp_emp is called
// from one audio thread only, in sample order, so a plain variable is enough.
//
// The host does not clip: a value at or above 1.0 wraps around to a negative sample. The
// filter's gain reaches 1.95, so the result is clamped to the range the host can play.
#include "audio/dsp_library.h"

namespace {

constexpr double coefficient = 0.95;
constexpr float lowest = -1.0f;
constexpr float highest = 32767.0f / 32768.0f;

float previous_input = 0.0f;

}  // namespace

extern "C" void adp_emp(float in_value, float* out_value) {
    // In double, rounded once to float: the played sample is then exactly the floor of
    // 32768 * (x[n] - 0.95 x[n-1]), clamped.
    float y = static_cast<float>(in_value - coefficient * previous_input);
    if (y < lowest) y = lowest;
    if (y > highest) y = highest;
    *out_value = y;
    previous_input = in_value;
}
