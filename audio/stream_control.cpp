#include "audio/stream_control.h"

#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <unistd.h>

#include "audio/sample_callback.h"

namespace {

// The audio back ends behind PortAudio (ALSA, JACK) print their diagnostics on standard
// error, about a hundred lines at initialisation on a machine without a sound card. The
// status line is this program's only output, so standard error points at /dev/null while
// the audio library works on the main thread, and is put back afterwards.
int silence_stderr() {
    const int saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd >= 0) {
        dup2(null_fd, STDERR_FILENO);
        close(null_fd);
    }
    return saved;
}

void restore_stderr(int saved) {
    if (saved >= 0) {
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
}

// ALSA can also complain later, from the audio thread (an xrun while recovering, say);
// its messages go to this handler, which drops them.
void silent_alsa_error(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void stream_start(PaStream** stream, std::atomic<int64_t>* stream_count, int32_t* pa_result) {
    snd_lib_error_set_handler(silent_alsa_error);
    const int saved = silence_stderr();
    *pa_result = Pa_Initialize();
    *pa_result =
        Pa_OpenDefaultStream(stream, 1, 1, paInt16, 8000.0, 1, audio_callback, stream_count);
    *pa_result = Pa_StartStream(*stream);
    restore_stderr(saved);
}

double stream_cpu_load(PaStream* stream) {
    return Pa_GetStreamCpuLoad(stream);
}

void stream_stop(PaStream* stream, int32_t* pa_result) {
    const int saved = silence_stderr();
    *pa_result = Pa_StopStream(stream);
    *pa_result = Pa_CloseStream(stream);
    Pa_Terminate();
    restore_stderr(saved);
}
