#include "tests/support/capture.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
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

namespace {

std::vector<char*> c_strings(const std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (const std::string& s : strings) {
        pointers.push_back(const_cast<char*>(s.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

child_run run_child(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    int stdout_fd, int read_fd) {
    child_run run;
    if (stdout_fd < 0) {
        int ends[2];
        check(pipe(ends) == 0, "pipe");
        read_fd = ends[0];
        stdout_fd = ends[1];
    }
    std::vector<char*> args = c_strings(argv);
    std::vector<char*> environment = c_strings(env);
    fflush(stdout);
    pid_t child = fork();
    check(child >= 0, "fork");
    if (child == 0) {
        dup2(stdout_fd, STDOUT_FILENO);
        close(stdout_fd);
        close(read_fd);
        execve(args[0], args.data(), environment.data());
        _exit(127);
    }
    close(stdout_fd);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool timed_out = false;
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd entry{read_fd, POLLIN, 0};
        int ready = left.count() > 0 ? poll(&entry, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready == 0) {
            timed_out = true;
            kill(child, SIGKILL);
            break;
        }
        char buffer[4096];
        ssize_t got = read(read_fd, buffer, sizeof buffer);
        if (got > 0) {
            run.output.append(buffer, static_cast<size_t>(got));
        } else if (got == 0 || errno != EINTR) {  // end of file, or EIO from a terminal
            break;
        }
    }
    close(read_fd);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    run.finished = !timed_out;
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
