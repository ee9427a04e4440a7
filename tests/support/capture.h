// Standing in for the terminal in tests: standard output (descriptor 1) is pointed at another
// descriptor, or at a temporary file whose bytes the test then collects.
#ifndef DSPHOST_TESTS_SUPPORT_CAPTURE_H
#define DSPHOST_TESTS_SUPPORT_CAPTURE_H

#include <string>

// Points descriptor 1 at fd (a pipe end, /dev/full, a pseudo-terminal, ...) until
// stdout_restore(). stdio's buffer is flushed first so test-runner output stays outside.
void stdout_redirect(int fd);

// Points descriptor 1 back where it was before stdout_redirect().
void stdout_restore();

// Points descriptor 1 at a fresh temporary file.
void capture_start();

// Restores descriptor 1 and returns every byte written to it since capture_start().
std::string capture_stop();

#endif
