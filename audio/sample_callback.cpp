#include "audio/sample_callback.h"

#include <cmath>

#include "audio/dsp_library.h"

int64_t sample_count = 0;

int16_t output_sample(float out_value) {
    // floor(product) as a 32-bit integer, NaN and values outside the 32-bit range giving
    // INT32_MIN. Within range the conversion truncates toward zero, and one less is the
    // floor when that went up. The comparison is false for NaN, and an out-of-range double
    // is never converted. Cheaper than a call of floor on the audio thread.
    const double product = static_cast<double>(out_value) * 32768.0;
    int32_t wide = INT32_MIN;
    if (std::fabs(product) < 2147483648.0) {
        wide = static_cast<int32_t>(product);
        if (static_cast<double>(wide) > product) {
            --wide;
        }
    }
    // The low 16 bits, read as a signed sample (modular since C++20).
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(wide)));
}

int audio_callback(const void* input, void* output, unsigned long /*frame_count*/,
                   const PaStreamCallbackTimeInfo* /*time_info*/,
                   PaStreamCallbackFlags /*status_flags*/, void* user_data) {
    const int16_t s = input != nullptr ? static_cast<const int16_t*>(input)[0] : int16_t{0};
    const float in_value = static_cast<float>(s / 32768.0);
    float out_value = 0.0f;
    adp_emp(in_value, &out_value);
    if (output != nullptr) {
        static_cast<int16_t*>(output)[0] = output_sample(out_value);
    }
    ++sample_count;
    static_cast<std::atomic<int64_t>*>(user_data)->store(sample_count, std::memory_order_relaxed);
    return paContinue;
}
