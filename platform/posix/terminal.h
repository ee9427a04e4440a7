// The terminal on standard input: its modes are saved, switched to what key polling needs,
// and put back exactly as found on every way the process ends.
//
// Key polling needs: no line editing and no echo (keys arrive at once and are not echoed over
// the status lines), signals on (Ctrl+C stays an interrupt that ends the process), no output
// flow control (Ctrl+S would stop the status lines, and with them the loop that reads ESC),
// and reads that return at once (VMIN 0, VTIME 0). O_NONBLOCK is never set: the descriptor is
// shared with the shell. Type-ahead is kept.
//
// The modes are put back at exit, and on SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGSEGV, SIGBUS,
// SIGFPE, SIGILL and SIGABRT, after which the signal takes its course: the handling found
// before, normally the default action, so the exit status is the one the signal gives.
// Ctrl+Z (SIGTSTP) puts them back and stops. The modes are the program's only while its
// process group owns the terminal: started in the background, or sent there, it leaves the
// terminal to the shell, and switches its modes on when it comes to the foreground. Signals
// that were ignored when the terminal was prepared stay ignored. SIGCONT (from fg or bg) is
// taken only while the monitor loop waits, and makes the next poll look at the terminal again.
#ifndef DSPHOST_PLATFORM_POSIX_TERMINAL_H
#define DSPHOST_PLATFORM_POSIX_TERMINAL_H

#include <signal.h>
#include <termios.h>

// Prepares the terminal on fd: saves its modes, installs the signal handlers, registers
// terminal_restore to run at exit and switches the program's modes on (TCSANOW, so type-ahead
// stays). Returns false, changing nothing, when fd is not a terminal. Acts on the first call
// in the process only; later calls return the first result.
bool terminal_prepare(int fd);

// Follows the terminal's foreground: switches the program's modes on when the process group
// has just come to own the terminal (or was continued), puts the saved modes back when it has
// just lost it. True while the process group owns the terminal, so its keys may be read.
bool terminal_follow_foreground();

// True when writing to fd would stop the process: fd is a terminal with TOSTOP set whose
// foreground is another process group.
bool terminal_output_held(int fd);

// The asynchronous signals the program handles, or that stop it on terminal access; they are
// taken on the main thread only.
sigset_t terminal_async_signals();

// The calling thread's signal mask for the monitor loop's wait: SIGCONT, blocked on the
// main thread at all other times, is let through.
sigset_t terminal_wait_mask();

// Puts the saved modes back if the program's modes are on. Async-signal-safe; never stops the
// process when it runs in the background.
void terminal_restore();

// For a signal handler that is done with sig: puts the terminal back, then hands sig on to
// previous, the handling found before the handler was installed: calls previous's handler
// with the same arguments, or, for the default action, ends the process by sig (re-raised
// with the default disposition and unblocked), so the exit status is the one sig gives.
// Async-signal-safe.
void terminal_pass_signal_on(int sig, const struct sigaction& previous, siginfo_t* info,
                             void* context);

#endif
