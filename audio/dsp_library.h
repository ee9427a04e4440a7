// The interface of the effect library libmix_c.so.
//
// adp_emp is called on the audio thread once per sample, 8000 times a second, in sample
// order. in_value lies in [-1, 1); the function leaves its output sample in *out_value,
// which the host sets to 0.0 before each call. It must not block or allocate.
#ifndef DSPHOST_AUDIO_DSP_LIBRARY_H
#define DSPHOST_AUDIO_DSP_LIBRARY_H

#ifdef __cplusplus
extern "C" {
#endif

void adp_emp(float in_value, float* out_value);

#ifdef __cplusplus
}
#endif

#endif
