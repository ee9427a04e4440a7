#include "audio/stream_control.h"

#include "audio/sample_callback.h"
#include "platform/platform.h"

void stream_start(PaStream** stream, std::atomic<int64_t>* stream_count, int32_t* pa_result) {
    platform_audio_calls_begin();
    *pa_result = Pa_Initialize();
    *pa_result =
        Pa_OpenDefaultStream(stream, 1, 1, paInt16, 8000.0, 1, audio_callback, stream_count);
    platform_audio_stream_opened(*stream);
    *pa_result = Pa_StartStream(*stream);
    platform_audio_calls_end();
}

double stream_cpu_load(PaStream* stream) {
    return Pa_GetStreamCpuLoad(stream);
}

void stream_stop(PaStream* stream, int32_t* pa_result) {
    platform_audio_calls_begin();
    *pa_result = Pa_StopStream(stream);
    *pa_result = Pa_CloseStream(stream);
    Pa_Terminate();
    platform_audio_calls_end();
}
