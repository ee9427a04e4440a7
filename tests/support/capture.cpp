#include "tests/support/capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

int saved_stdout = -1;
int capture_file = -1;

void check(bool ok, const char* what) {
    if (!ok) {
        perror(what);
        abort();
    }
}

}  // namespace

void stdout_redirect(int fd) {
    check(saved_stdout < 0, "stdout_redirect: already redirected");
    fflush(stdout);
    saved_stdout = dup(STDOUT_FILENO);
    check(saved_stdout >= 0, "dup");
    check(dup2(fd, STDOUT_FILENO) >= 0, "dup2");
}

void stdout_restore() {
    check(saved_stdout >= 0, "stdout_restore: not redirected");
    fflush(stdout);
    check(dup2(saved_stdout, STDOUT_FILENO) >= 0, "dup2");
    close(saved_stdout);
    saved_stdout = -1;
}

void capture_start() {
    char path[] = "/tmp/dsphost_capture_XXXXXX";
    capture_file = mkstemp(path);
    check(capture_file >= 0, "mkstemp");
    unlink(path);
    stdout_redirect(capture_file);
}

std::string capture_stop() {
    stdout_restore();
    std::string bytes;
    char buffer[4096];
    ssize_t got = 0;
    off_t offset = 0;
    while ((got = pread(capture_file, buffer, sizeof buffer, offset)) > 0) {
        bytes.append(buffer, static_cast<size_t>(got));
        offset += got;
    }
    close(capture_file);
    capture_file = -1;
    return bytes;
}
