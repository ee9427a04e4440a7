// The process on a POSIX system: signals, standard error around the audio library, and the
// monitor loop's place behind the audio thread.
#include <alsa/asoundlib.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/terminal.h"

namespace {

int saved_stderr = -1;
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

// The audio back ends behind PortAudio (ALSA, JACK) print their diagnostics on standard
// error, about a hundred lines at initialisation on a machine without a sound card. The
// status line is this program's only output, so standard error points at /dev/null while
// the audio library works on the main thread, and is put back afterwards.
//
// The threads the audio library starts meanwhile inherit a mask that blocks the signals the
// program handles, so that a Ctrl+Z, Ctrl+C or hang-up is always taken on the main thread.
void platform_audio_calls_begin() {
    const sigset_t async_signals = terminal_async_signals();
    pthread_sigmask(SIG_BLOCK, &async_signals, &mask_before_audio_calls);
    snd_lib_error_set_handler(silent_alsa_error);
    saved_stderr = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd >= 0) {
        dup2(null_fd, STDERR_FILENO);
        close(null_fd);
    }
}

void platform_audio_calls_end() {
    if (saved_stderr >= 0) {
        dup2(saved_stderr, STDERR_FILENO);
        close(saved_stderr);
        saved_stderr = -1;
    }
    pthread_sigmask(SIG_SETMASK, &mask_before_audio_calls, nullptr);
}

// The lowest priority (nice 19) for the main thread alone: whenever the audio thread, the
// sound server or another program is ready to run, it gets the processor first, however busy
// the machine, yet the loop still gets a small share, so the status lines stay on the second;
// when nothing else wants the processor, the loop spins at full speed. The audio library's
// threads were started before and keep their priority.
void platform_monitor_yields() {
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}
