// The console on a POSIX terminal: standard input and output, keys decoded from the
// terminal's bytes, and hang-up and termination signals standing for the console's close
// and shut-down events.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/key_decoder.h"
#include "platform/posix/terminal.h"

namespace {

constexpr int default_line_width = 80;

constexpr int64_t ns_per_second = 1'000'000'000;
// The kernel lets a wait end late by up to 0.1 % of its length (0.5 % at a positive nice
// value): a long wait to the next second ends early by a hundredth of its length, and a short
// final one (at most final_wait_ns) ends within microseconds of the second.
constexpr int64_t early_part = 100;
constexpr int64_t final_wait_ns = 10'000'000;
// How long a wait lasts at most while the terminal reports input that cannot be read (an
// end-of-file mark alone in line mode, a hung-up terminal): then it is not waited on.
constexpr int64_t unreadable_recheck_ns = 25'000'000;

bool input_is_terminal = false;
// The terminal on standard output, opened again as a file description of the program's own
// that never blocks (O_NONBLOCK on standard output's would reach the shell that shares it).
int terminal_output = -1;
// The rest of a status line the terminal took only in part, written before anything else; and
// whether the next bytes begin a line, and whether the line they belong to is dropped.
char held[512];
size_t held_length = 0;
bool at_line_start = true;
bool dropping_line = false;
key_decoder decoder{};
// The last poll read the terminal's keys (the process group owned it).
bool keys_read = false;
// The last wait ended on a terminal with no bytes to read.
bool unreadable_input = false;

// Handling of SIGHUP and SIGTERM found at installation, and the handler the events go to;
// published by `control_ready`.
struct sigaction previous_hangup {};
struct sigaction previous_termination {};
bool hangup_caught = false;
bool termination_caught = false;
ctrl_handler control_handler = nullptr;
std::atomic<bool> control_ready{false};

int64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * ns_per_second + now.tv_nsec;
}

// Until the wall clock's second changes, and so the time of day on the status line.
int64_t ns_to_next_second() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return ns_per_second - now.tv_nsec;
}

int pending_input_bytes(int fd) {
    int pending = 0;
    return ioctl(fd, FIONREAD, &pending) == 0 ? pending : 0;
}

// Waits until fd takes bytes again; false when it cannot be waited on.
bool wait_writable(int fd) {
    pollfd entry{fd, POLLOUT, 0};
    while (poll(&entry, 1, -1) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

// Writes what fd takes now, without waiting; returns how many bytes that is.
size_t write_what_goes(int fd, const char* bytes, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t written = write(fd, bytes + done, length - done);
        if (written > 0) {
            done += static_cast<size_t>(written);
        } else if (written >= 0 || errno != EINTR) {
            break;  // full or stopped (EAGAIN), hung up, ...
        }
    }
    return done;
}

// A terminal can stop taking output for as long as it likes: output stopped with tcflow or
// by a console's Scroll Lock, Ctrl+S after flow control was switched on from elsewhere, a
// terminal program that no longer reads. A write that waited would keep the monitor loop from
// reading ESC, so nothing here waits: a line that finds the terminal taking nothing is dropped
// whole, and the rest of a line it took in part is held and goes out, before anything else,
// once it takes bytes again. The terminal so only ever gets whole status lines.
void write_to_terminal(int fd, const char* bytes, size_t length) {
    if (length == 0) {
        return;
    }
    if (held_length > 0) {
        const size_t done = write_what_goes(fd, held, held_length);
        held_length -= done;
        memmove(held, held + done, held_length);
    }
    if (at_line_start) {
        dropping_line = held_length > 0;  // the line before is still not out
    }
    if (!dropping_line) {
        const size_t done = held_length == 0 ? write_what_goes(fd, bytes, length) : 0;
        const size_t rest = std::min(length - done, sizeof held - held_length);
        dropping_line = done == 0 && at_line_start;
        if (!dropping_line) {
            memcpy(held + held_length, bytes + done, rest);
            held_length += rest;
        }
    }
    at_line_start = bytes[length - 1] == '\n';
}

// A hang-up stands for the console being closed, a termination for log-off or shut-down:
// the event goes to the handler, which queues the close key, then the signal takes its
// course and the process ends, with the terminal put back.
void on_control_signal(int sig, siginfo_t* info, void* context) {
    const int saved_errno = errno;
    if (control_ready.load(std::memory_order_acquire)) {
        control_handler(sig == SIGHUP ? CTRL_CLOSE_EVENT : CTRL_SHUTDOWN_EVENT);
        terminal_pass_signal_on(sig, sig == SIGHUP ? previous_hangup : previous_termination, info,
                                context);
    }
    errno = saved_errno;
}

bool catch_signal(int sig, struct sigaction* previous) {
    sigaction(sig, nullptr, previous);
    if ((previous->sa_flags & SA_SIGINFO) == 0 && previous->sa_handler == SIG_IGN) {
        return false;  // e.g. started with nohup: stays ignored
    }
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_SIGINFO;
    action.sa_sigaction = on_control_signal;
    sigaction(sig, &action, nullptr);
    return true;
}

}  // namespace

void platform_open_handles(console_handle* input, console_handle* output) {
    *input = STDIN_FILENO;
    *output = STDOUT_FILENO;
    input_is_terminal = terminal_prepare(STDIN_FILENO);
    char name[256];
    if (isatty(STDOUT_FILENO) != 0 && ttyname_r(STDOUT_FILENO, name, sizeof name) == 0) {
        terminal_output = open(name, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        *output = terminal_output >= 0 ? terminal_output : STDOUT_FILENO;
    }
}

void platform_console_write(console_handle output, const char* bytes, size_t length) {
    if (terminal_output_held(output)) {
        return;  // a background job on a terminal with TOSTOP: the line is dropped
    }
    if (output == terminal_output) {
        write_to_terminal(output, bytes, length);
        return;
    }
    while (length > 0) {
        const ssize_t written = write(output, bytes, length);
        if (written > 0) {
            bytes += written;
            length -= static_cast<size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Standard output may share a non-blocking file description with the keyboard;
            // wait as a blocking write would rather than lose part of the line.
            if (!wait_writable(output)) {
                return;
            }
        } else {
            return;
        }
    }
}

int platform_line_width(console_handle output) {
    winsize size{};
    if (isatty(output) != 0 && ioctl(output, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return default_line_width;
}

// Reads only the bytes the terminal says are pending, so no read ever waits, whatever mode
// the terminal is in (in line mode only whole lines count as pending). In the background the
// terminal is not read at all. Each byte gives at most KEY_DECODER_MAX_EVENTS records, so no
// more bytes are read than the records' room left can take.
size_t platform_read_key_records(console_handle input, key_event* records) {
    keys_read = input_is_terminal && terminal_follow_foreground();
    if (!keys_read) {
        return 0;
    }
    size_t count = 0;
    uint8_t bytes[64];
    int pending = 0;
    while (count + KEY_DECODER_MAX_EVENTS <= KEY_RECORDS_PER_READ &&
           (pending = pending_input_bytes(input)) > 0) {
        const size_t wanted = std::min({static_cast<size_t>(pending), sizeof bytes,
                                        (KEY_RECORDS_PER_READ - count) / KEY_DECODER_MAX_EVENTS});
        const ssize_t got = read(input, bytes, wanted);
        if (got <= 0) {
            break;
        }
        const int64_t now = monotonic_ns();
        for (ssize_t i = 0; i < got; ++i) {
            count += key_decoder_feed(decoder, bytes[i], now, records + count);
        }
    }
    if (count + KEY_DECODER_MAX_EVENTS <= KEY_RECORDS_PER_READ && key_decoder_waiting(decoder)) {
        count += key_decoder_tick(decoder, monotonic_ns(), records + count);
    }
    return count;
}

// Sleeps until the terminal has bytes to read, a lone ESC's wait ends, the wall clock's
// second changes or a handled signal arrives (SIGCONT is let through only here, so a
// continue never slips in between a pass and its wait). Only a terminal whose keys are read
// is waited on: in the background its input is the shell's.
void platform_monitor_wait() {
    const int64_t to_second = ns_to_next_second();
    int64_t wait_ns = to_second > final_wait_ns ? to_second - to_second / early_part : to_second;
    if (key_decoder_waiting(decoder)) {
        const int64_t to_escape = key_decoder_deadline(decoder) - monotonic_ns();
        wait_ns = std::clamp<int64_t>(to_escape, 0, wait_ns);
    }
    const bool watch = keys_read && !unreadable_input;
    if (unreadable_input) {
        wait_ns = std::min(wait_ns, unreadable_recheck_ns);
    }
    fd_set readable;
    FD_ZERO(&readable);
    if (watch) {
        FD_SET(STDIN_FILENO, &readable);
    }
    const timespec timeout{static_cast<time_t>(wait_ns / ns_per_second),
                           static_cast<long>(wait_ns % ns_per_second)};
    const sigset_t mask = terminal_wait_mask();
    const int ready =
        pselect(watch ? STDIN_FILENO + 1 : 0, &readable, nullptr, nullptr, &timeout, &mask);
    unreadable_input = ready > 0 && pending_input_bytes(STDIN_FILENO) == 0;
}

void platform_install_ctrl_handler(ctrl_handler handler) {
    control_handler = handler;
    hangup_caught = catch_signal(SIGHUP, &previous_hangup);
    termination_caught = catch_signal(SIGTERM, &previous_termination);
    control_ready.store(true, std::memory_order_release);
}

void platform_remove_ctrl_handler() {
    if (hangup_caught) {
        sigaction(SIGHUP, &previous_hangup, nullptr);
    }
    if (termination_caught) {
        sigaction(SIGTERM, &previous_termination, nullptr);
    }
}
