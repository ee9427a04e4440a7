// Bringing the duplex stream up and down: default devices, 1 channel each way, 16-bit,
// 8000 Hz, one frame per buffer, driven by audio_callback. Results are kept in
// *pa_result and never acted on: without a device everything still runs.
#ifndef DSPHOST_AUDIO_STREAM_CONTROL_H
#define DSPHOST_AUDIO_STREAM_CONTROL_H

#include <portaudio.h>

#include <atomic>
#include <cstdint>

// Initialise, open the default stream with stream_count as user data, start it.
void stream_start(PaStream** stream, std::atomic<int64_t>* stream_count, int32_t* pa_result);

// The fraction of the available time the callback path uses.
double stream_cpu_load(PaStream* stream);

// Stop, close, terminate.
void stream_stop(PaStream* stream, int32_t* pa_result);

#endif
