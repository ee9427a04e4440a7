// The process on a POSIX system: signals, standard error around the audio library, the
// audio thread's scheduling class, and the end without the libraries' clean-up.
#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <pa_linux_alsa.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/terminal.h"

namespace {

sigset_t mask_before_audio_calls;

// ALSA can also complain later, from the audio thread (an xrun while recovering, say);
// its messages go to this handler, which drops them.
void silent_alsa_error(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void platform_startup() {
    // A reader that goes away must not kill the program: a write to a closed pipe fails
    // like any other failed write, and the audio keeps running.
    signal(SIGPIPE, SIG_IGN);
    // Touching the terminal from the background must not stop the process, audio and all:
    // with these blocked, a read there fails and a write or a change of modes goes through
    // (a write the terminal would hold with TOSTOP is dropped before it is made). Every
    // thread started later inherits the mask.
    sigset_t terminal_stops;
    sigemptyset(&terminal_stops);
    sigaddset(&terminal_stops, SIGTTIN);
    sigaddset(&terminal_stops, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &terminal_stops, nullptr);
}

// main starts the process up: nothing runs before it.
void platform_start_before_main(void (* /*startup*/)()) {}

void platform_end_process_now(int status) {
    _exit(status);
}

// The audio back ends behind PortAudio (ALSA, JACK, the sound servers' client libraries)
// print their diagnostics on standard error: about a hundred lines at initialisation on a
// machine without a sound card, and from their own threads at any time while a stream
// exists (a server that goes away, a loop on an error path that prints a line a turn). The
// status line is this program's only output, so from the first audio call on, standard
// error points at /dev/null for the rest of the process.
//
// The threads the audio library starts meanwhile inherit a mask that blocks the signals the
// program handles, so that a Ctrl+Z, Ctrl+C or hang-up is always taken on the main thread.
void platform_audio_calls_begin() {
    const sigset_t async_signals = terminal_async_signals();
    pthread_sigmask(SIG_BLOCK, &async_signals, &mask_before_audio_calls);
    snd_lib_error_set_handler(silent_alsa_error);
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd >= 0) {
        dup2(null_fd, STDERR_FILENO);
        close(null_fd);
    }
}

void platform_audio_calls_end() {
    pthread_sigmask(SIG_SETMASK, &mask_before_audio_calls, nullptr);
}

namespace {

// True when ALSA's default device of this direction is a sound card: it names a card, or it
// cannot be opened a second time, being held by the stream alone as only a card's device is.
// A sound server's plug-in and the null device name none.
bool default_is_sound_card(snd_pcm_stream_t direction) {
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", direction, SND_PCM_NONBLOCK) < 0) {
        return true;  // held: a sound card
    }
    snd_pcm_info_t* info = nullptr;
    bool card = false;
    if (snd_pcm_info_malloc(&info) == 0 && snd_pcm_info(pcm, info) == 0) {
        card = snd_pcm_info_get_card(info) >= 0;
    }
    snd_pcm_info_free(info);
    snd_pcm_close(pcm);
    return card;
}

// True when both sides of the stream are sound cards, whose samples the callback thread
// itself moves. Behind a sound server's plug-in (PulseAudio, PipeWire, JACK), the server's
// client library moves them in threads of its own and the callback thread only polls for
// them: in the real-time class it polls ahead of a library thread of normal priority, and on
// PulseAudio that was measured to spin and lose samples.
bool on_sound_cards() {
    return default_is_sound_card(SND_PCM_STREAM_PLAYBACK) &&
           default_is_sound_card(SND_PCM_STREAM_CAPTURE);
}

// True when the calling thread may enter the real-time FIFO class (RLIMIT_RTPRIO,
// CAP_SYS_NICE, a control group with real-time time to give): it tries, and goes back at once.
bool may_use_realtime() {
    int policy = 0;
    sched_param found{};
    pthread_getschedparam(pthread_self(), &policy, &found);
    sched_param lowest_fifo{};
    lowest_fifo.sched_priority = 1;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &lowest_fifo) != 0) {
        return false;
    }
    pthread_setschedparam(pthread_self(), policy, &found);
    return true;
}

}  // namespace

// PortAudio's ALSA host starts its callback thread in the real-time FIFO class when asked. It
// is asked on sound cards, where the class is allowed: where it is not, starting the stream
// can fail outright. Otherwise the audio thread stays in the normal class, without a word.
// The calls exist for ALSA streams only.
void platform_audio_stream_opened(PaStream* stream) {
    if (stream == nullptr) {
        return;
    }
    const PaHostApiInfo* host = Pa_GetHostApiInfo(Pa_GetDefaultHostApi());
    if (host != nullptr && host->type == paALSA && on_sound_cards() && may_use_realtime()) {
        PaAlsa_EnableRealtimeScheduling(stream, 1);
    }
}
