/* The floor for the whole-program benchmarks: the same default duplex stream as dsphost
 * (1 channel each way, 16-bit, 8000 Hz, one frame per buffer) with a callback that only
 * copies the input sample to the output and counts it. Nothing else runs: the main thread
 * prints "wire started" once the stream runs, then sleeps until ESC (or Ctrl+C's character 3
 * when signals are off) on its terminal or SIGTERM, waking only at each change of the
 * wall-clock second to print "wire total=N", the samples so far. At the end it stops, closes
 * and terminates the stream and prints "wire samples=N seconds=S", the samples processed and
 * the time since the stream started. */
#define _GNU_SOURCE /* ppoll */

#include <errno.h>
#include <poll.h>
#include <portaudio.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdio.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static atomic_llong wire_count;
static volatile sig_atomic_t stop_requested;

static int wire_callback(const void* input, void* output, unsigned long frame_count,
                         const PaStreamCallbackTimeInfo* time_info,
                         PaStreamCallbackFlags status_flags, void* user_data) {
    (void)frame_count;
    (void)time_info;
    (void)status_flags;
    (void)user_data;
    ((short*)output)[0] = ((const short*)input)[0];
    atomic_store_explicit(&wire_count, atomic_load_explicit(&wire_count, memory_order_relaxed) + 1,
                          memory_order_relaxed);
    return paContinue;
}

static void on_terminate(int sig) {
    (void)sig;
    stop_requested = 1;
}

static double now_seconds(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

/* SIGTERM is blocked from the start except inside ppoll, so a signal that arrives before
 * or between waits is not lost: it ends the next wait. */
static sigset_t during_wait;

static void catch_terminate(void) {
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigprocmask(SIG_BLOCK, &blocked, &during_wait);
    sigdelset(&during_wait, SIGTERM);

    struct sigaction action;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    action.sa_handler = on_terminate;
    sigaction(SIGTERM, &action, NULL);
}

/* Until the wall clock's next whole second. */
static struct timespec to_next_second(void) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct timespec wait = {0, 1000000000L - now.tv_nsec};
    return wait;
}

/* Waits for ESC or 3 on a terminal, or for SIGTERM, printing the total at each second. */
static void wait_for_stop(int terminal) {
    struct pollfd input = {STDIN_FILENO, POLLIN, 0};
    while (!stop_requested) {
        const struct timespec wait = to_next_second();
        const int ready = ppoll(&input, terminal ? 1 : 0, &wait, &during_wait);
        if (ready == 0) {
            printf("wire total=%lld\r\n", atomic_load_explicit(&wire_count, memory_order_relaxed));
            fflush(stdout);
        }
        if (ready > 0) {
            unsigned char byte = 0;
            const ssize_t got = read(STDIN_FILENO, &byte, 1);
            if (got == 0 || (got == 1 && (byte == 27 || byte == 3))) {
                return;
            }
        } else if (ready < 0 && errno != EINTR) {
            return;
        }
    }
}

int main(void) {
    catch_terminate();
    struct termios found;
    const int terminal = tcgetattr(STDIN_FILENO, &found) == 0;
    if (terminal) {
        struct termios modes = found;
        modes.c_lflag &= ~(tcflag_t)(ICANON | ECHO);
        modes.c_cc[VMIN] = 1;
        modes.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &modes);
    }

    PaStream* stream = NULL;
    Pa_Initialize();
    Pa_OpenDefaultStream(&stream, 1, 1, paInt16, 8000.0, 1, wire_callback, NULL);
    Pa_StartStream(stream);
    const double started = now_seconds();
    printf("wire started\r\n");
    fflush(stdout);

    wait_for_stop(terminal);

    const long long samples = atomic_load_explicit(&wire_count, memory_order_relaxed);
    const double seconds = now_seconds() - started;
    Pa_StopStream(stream);
    Pa_CloseStream(stream);
    Pa_Terminate();
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &found);
    }
    printf("wire samples=%lld seconds=%.6f\r\n", samples, seconds);
    return 0;
}
