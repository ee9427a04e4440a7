#include "platform/posix/terminal.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "platform/exit_steps.h"

namespace {

// Signals after which the process ends; the terminal is put back first.
constexpr int ending_signals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGSEGV,
                                  SIGBUS, SIGFPE,  SIGILL,  SIGABRT};
constexpr int ending_signal_count = sizeof(ending_signals) / sizeof(ending_signals[0]);

// Written once by terminal_prepare before `ready` is set; only read afterwards, also from
// signal handlers, which look at `ready` first.
int terminal_fd = -1;
termios found_modes{};
termios program_modes{};
struct sigaction previous_actions[ending_signal_count] {};
struct sigaction stop_action {};
std::atomic<bool> ready{false};

// The program's modes are on the terminal.
std::atomic<bool> modes_on{false};
// The process is ending: the modes are not switched on again.
std::atomic<bool> finished{false};
// Set after a stop and on SIGCONT: the next poll looks at the terminal's owner afresh and
// switches the program's modes on if the process is in the foreground.
std::atomic<bool> recheck{false};

static_assert(std::atomic<bool>::is_always_lock_free, "signal handlers need lock-free flags");

// Main thread only: the process group, and whether it owned the terminal when last looked at.
pid_t own_group = 0;
bool foreground_seen = false;

bool attempted = false;
bool prepared = false;

// Takes the default action of sig: raised with the default disposition and unblocked, it
// acts here (the process ends, or stops until continued).
void take_default_action(int sig) {
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigaction(sig, &default_action, nullptr);
    raise(sig);
    sigset_t just_sig;
    sigemptyset(&just_sig);
    sigaddset(&just_sig, sig);
    pthread_sigmask(SIG_UNBLOCK, &just_sig, nullptr);
}

// tcsetattr from a background process group raises SIGTTOU, which would stop the process;
// with SIGTTOU blocked the call goes through.
void set_modes_without_stopping(const termios& modes) {
    sigset_t ttou;
    sigset_t old;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    pthread_sigmask(SIG_BLOCK, &ttou, &old);
    tcsetattr(terminal_fd, TCSANOW, &modes);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void put_back_found_modes() {
    if (ready.load(std::memory_order_acquire) && modes_on.load()) {
        set_modes_without_stopping(found_modes);
        modes_on.store(false);
    }
}

// Job control applies to the process's controlling terminal only; any other terminal has no
// foreground to lose.
bool owns(int fd, pid_t group) {
    const pid_t owner = tcgetpgrp(fd);
    return owner < 0 || owner == group;
}

bool in_foreground() {
    return owns(terminal_fd, own_group);
}

void on_ending_signal(int sig, siginfo_t* info, void* context) {
    const int saved_errno = errno;
    for (int i = 0; i < ending_signal_count; ++i) {
        if (ending_signals[i] == sig && ready.load(std::memory_order_acquire)) {
            terminal_pass_signal_on(sig, previous_actions[i], info, context);
        }
    }
    errno = saved_errno;
}

// Ctrl+Z: put the terminal back and stop as the default action would; once continued, the
// next poll switches the program's modes on again if the process is in the foreground.
void on_stop(int /*sig*/) {
    const int saved_errno = errno;
    put_back_found_modes();
    take_default_action(SIGTSTP);  // the process stops here
    sigaction(SIGTSTP, &stop_action, nullptr);
    recheck.store(true);
    errno = saved_errno;
}

// Also after a stop by SIGSTOP, which cannot be caught: whoever ran the
// terminal meanwhile may have changed its modes.
void on_continue(int /*sig*/) {
    recheck.store(true);
}

bool ignored(int sig) {
    struct sigaction current {};
    sigaction(sig, nullptr, &current);
    return (current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler == SIG_IGN;
}

void install_handlers() {
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_SIGINFO;
    action.sa_sigaction = on_ending_signal;
    for (int i = 0; i < ending_signal_count; ++i) {
        sigaction(ending_signals[i], nullptr, &previous_actions[i]);
    }
    stop_action = action;
    stop_action.sa_flags = SA_RESTART;
    stop_action.sa_handler = on_stop;
    ready.store(true, std::memory_order_release);
    for (int i = 0; i < ending_signal_count; ++i) {
        if (!ignored(ending_signals[i])) {
            sigaction(ending_signals[i], &action, nullptr);
        }
    }
    if (!ignored(SIGTSTP)) {
        sigaction(SIGTSTP, &stop_action, nullptr);
    }
    struct sigaction continue_action = stop_action;
    continue_action.sa_handler = on_continue;
    sigaction(SIGCONT, &continue_action, nullptr);
    // Taken only while the monitor loop waits (terminal_wait_mask): a continue that came
    // during a pass then ends the wait that follows it.
    sigset_t just_continue;
    sigemptyset(&just_continue);
    sigaddset(&just_continue, SIGCONT);
    pthread_sigmask(SIG_BLOCK, &just_continue, nullptr);
}

// The modes the program runs the terminal in, made from the modes found.
termios terminal_program_modes(const termios& found) {
    termios modes = found;
    modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    modes.c_lflag |= ISIG;
    // Ctrl+S and Ctrl+Q are keys, not output flow control (turning it off also lets go of
    // output that a Ctrl+S typed earlier held). IXANY acts only with IXON; IXOFF, which asks
    // the sender of the input to pause when the input is not read, is left as found.
    modes.c_iflag &= ~static_cast<tcflag_t>(IXON);
    modes.c_cc[VMIN] = 0;
    modes.c_cc[VTIME] = 0;
    return modes;
}

}  // namespace

bool terminal_prepare(int fd) {
    if (attempted) {
        return prepared;
    }
    attempted = true;
    termios found{};
    if (isatty(fd) == 0 || tcgetattr(fd, &found) != 0) {
        return false;
    }
    terminal_fd = fd;
    found_modes = found;
    program_modes = terminal_program_modes(found);
    own_group = getpgrp();
    install_handlers();
    add_exit_step(terminal_restore);
    // Started in the background, the terminal is left alone until the process is brought to
    // the foreground.
    foreground_seen = in_foreground();
    if (foreground_seen && tcsetattr(fd, TCSANOW, &program_modes) == 0) {
        modes_on.store(true);
    }
    prepared = true;
    return true;
}

sigset_t terminal_async_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT, SIGTTIN, SIGTTOU}) {
        sigaddset(&set, sig);
    }
    return set;
}

sigset_t terminal_wait_mask() {
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    sigdelset(&mask, SIGCONT);
    return mask;
}

bool terminal_follow_foreground() {
    if (!ready.load(std::memory_order_acquire) || finished.load()) {
        return false;
    }
    const bool forced = recheck.exchange(false);
    const bool foreground = in_foreground();
    if (forced || foreground != foreground_seen) {
        // No stop or ending signal comes between switching the modes and noting it.
        const sigset_t blocked = terminal_async_signals();
        sigset_t old;
        pthread_sigmask(SIG_BLOCK, &blocked, &old);
        if (foreground) {
            set_modes_without_stopping(program_modes);
            modes_on.store(true);
        } else {
            put_back_found_modes();
        }
        foreground_seen = foreground;
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }
    return foreground;
}

bool terminal_output_held(int fd) {
    termios modes{};
    return tcgetattr(fd, &modes) == 0 && (modes.c_lflag & TOSTOP) != 0 && !owns(fd, getpgrp());
}

void terminal_restore() {
    finished.store(true);
    put_back_found_modes();
}

void terminal_pass_signal_on(int sig, const struct sigaction& previous, siginfo_t* info,
                             void* context) {
    terminal_restore();
    if ((previous.sa_flags & SA_SIGINFO) != 0) {
        previous.sa_sigaction(sig, info, context);
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(sig);
    } else if (previous.sa_handler == SIG_DFL) {
        take_default_action(sig);  // the process ends here, with the status sig gives
    }
}
