// The stream callback: one input sample through adp_emp to one output sample.
#ifndef DSPHOST_AUDIO_SAMPLE_CALLBACK_H
#define DSPHOST_AUDIO_SAMPLE_CALLBACK_H

#include <portaudio.h>

#include <atomic>
#include <cstdint>

// Samples processed since the process started; touched only by the audio thread.
extern int64_t sample_count;

// Converts an effect's output to the 16-bit sample that is played: floor of
// out_value * 32768, wrapped to 16 bits; NaN and values outside the 32-bit range give 0.
int16_t output_sample(float out_value);

// user_data points at the std::atomic<int64_t> stream_count, which receives the new
// value of sample_count on every call. Returns paContinue. A missing input buffer is
// read as silence and a missing output buffer is not written; the sample still counts.
int audio_callback(const void* input, void* output, unsigned long frame_count,
                   const PaStreamCallbackTimeInfo* time_info, PaStreamCallbackFlags status_flags,
                   void* user_data);

#endif
