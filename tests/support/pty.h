// A program under test on a real pseudo-terminal, driven from the master side.
//
// Typical use:
//   pty_session s;
//   pty_open(&s);                        // the terminal exists, nobody runs on it yet
//   termios before{}; pty_modes(s, &before);
//   pty_write(s, "typed ahead");         // optional: bytes waiting before the program starts
//   pty_spawn(&s, {"/path/to/program"}, options);
//   ... pty_write / pty_read / pty_signal / pty_wait_modes ...
//   int status = 0;
//   ASSERT_TRUE(pty_wait_exit(&s, 10000, &status));   // watchdog: kills on timeout
//   pty_close(&s);
//
// The child is a session leader with the terminal as its controlling terminal (setsid and
// TIOCSCTTY), in the terminal's foreground process group, so bytes typed on the master raise
// signals as on a real terminal: 3 gives SIGINT, 0x1C SIGQUIT, 0x1A SIGTSTP (with the default
// modes openpty sets up: ISIG, ICANON, ECHO on). Its standard input, output and error are the
// terminal unless options say otherwise; every other descriptor is closed; its signal mask is
// empty, every signal has its default action and core dumps are off.
//
// Linux only: the terminal's modes and foreground group are read through the master side.
#ifndef DSPHOST_TESTS_SUPPORT_PTY_H
#define DSPHOST_TESTS_SUPPORT_PTY_H

#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct pty_session {
    int master = -1;
    int slave = -1;      // open in the test until pty_spawn
    pid_t pid = -1;      // the spawned child; -1 before pty_spawn and after it was reaped
    std::string unread;  // output taken from the master while waiting, not yet returned
};

struct pty_spawn_options {
    // "NAME=value" entries added to the test's environment (replacing a variable of that name).
    std::vector<std::string> environment;
    // When >= 0, the child's standard output is this descriptor (one above 2) instead of the
    // terminal.
    int stdout_fd = -1;
    // When not empty, the child's standard output is this file (created or truncated).
    std::string stdout_path;
    // Standard input from /dev/null instead of the terminal.
    bool stdin_null = false;
    // Runs the program as a job-control shell would: a small session leader holds the
    // terminal and runs the program in its own process group, made the foreground group.
    // That group is not orphaned, so Ctrl+Z (SIGTSTP) really stops the program; signal it
    // with pty_signal, which reaches the foreground group. pid is then the session leader,
    // which ends as the program does (same exit code, or the same signal).
    bool job_control = false;
};

// Opens a new pseudo-terminal of the given size. False on failure.
bool pty_open(pty_session* session, int rows = 24, int columns = 80);

// Starts argv[0] (a path) with argv on the terminal. The test's copy of the slave side is
// closed afterwards. False when the fork fails; a program that cannot be executed exits 127.
bool pty_spawn(pty_session* session, const std::vector<std::string>& argv,
               const pty_spawn_options& options = {});

// Types bytes on the terminal (writes them to the master). False unless all were written.
bool pty_write(const pty_session& session, std::string_view bytes);

// What the terminal shows: waits up to timeout_ms for the first bytes, then returns them and
// whatever else is already there, without waiting further. Empty on timeout.
std::string pty_read(pty_session* session, int timeout_ms);

// Reads until the output collected so far contains needle or timeout_ms have passed. Returns
// whether it appeared; *output (if not null) receives everything read.
bool pty_read_until(pty_session* session, std::string_view needle, int timeout_ms,
                    std::string* output = nullptr);

// The terminal's current modes (tcgetattr). False on failure.
bool pty_modes(const pty_session& session, termios* modes);

// Waits up to timeout_ms until the terminal's modes satisfy test. Returns whether they did.
bool pty_wait_modes(const pty_session& session, const std::function<bool(const termios&)>& test,
                    int timeout_ms);

// True when two sets of modes are the same: flags, line discipline, control characters and
// speeds.
bool same_modes(const termios& a, const termios& b);

// The terminal's foreground process group, -1 when unknown.
pid_t pty_foreground_group(const pty_session& session);

// Sends sig to the terminal's foreground process group (the program, also under job_control).
bool pty_signal(const pty_session& session, int sig);

// Waits up to timeout_ms for the child to end, collecting its terminal output meanwhile (see
// pty_read). On success stores the wait status (WIFEXITED, WTERMSIG, ...) and returns true.
// The watchdog: on timeout the child's process groups are killed with SIGKILL, the child is
// reaped and false is returned.
bool pty_wait_exit(pty_session* session, int timeout_ms, int* status);

// Kills a child still running (SIGKILL, reaped) and closes the terminal.
void pty_close(pty_session* session);

// The state letter of a process from /proc ('R', 'S', 'T' for stopped, ...), 0 when unknown.
char process_state(pid_t pid);

#endif
