// Standing in for the terminal in tests: standard output (descriptor 1) is pointed at another
// descriptor, or at a temporary file whose bytes the test then collects.
#ifndef DSPHOST_TESTS_SUPPORT_CAPTURE_H
#define DSPHOST_TESTS_SUPPORT_CAPTURE_H

#include <string>
#include <vector>

// Points descriptor 1 at fd (a pipe end, /dev/full, a pseudo-terminal, ...) until
// stdout_restore(). stdio's buffer is flushed first so test-runner output stays outside.
void stdout_redirect(int fd);

// Points descriptor 1 back where it was before stdout_redirect().
void stdout_restore();

// Points descriptor 1 at a fresh temporary file.
void capture_start();

// Restores descriptor 1 and returns every byte written to it since capture_start().
std::string capture_stop();

// What a child process wrote and how it ended.
struct child_run {
    bool finished = false;  // false: it could not start, or the watchdog killed it
    int exit_status = -1;   // valid when finished: the exit code, or -1 for death by signal
    std::string output;
};

// Runs the program argv[0] with exactly the environment env and collects its standard output,
// with a 30 s watchdog. The child writes to a fresh pipe, or, when given, to stdout_fd while
// the output is read from read_fd (a pseudo-terminal's two sides); both are closed here.
child_run run_child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    int stdout_fd = -1, int read_fd = -1);

#endif
