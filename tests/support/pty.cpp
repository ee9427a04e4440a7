#include "tests/support/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tests/support/test_util.h"

namespace {

// Everything below runs in the forked child: system calls only, no allocation.

void reset_signals() {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig) {
        sigaction(sig, &action, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

[[noreturn]] void exec_program(int terminal, const pty_spawn_options& options,
                               const char* stdout_path, char* const* argv, char* const* envp) {
    int in = terminal;
    int out = terminal;
    if (options.stdin_null) {
        in = open("/dev/null", O_RDONLY);
    }
    if (options.stdout_fd >= 0) {
        out = options.stdout_fd;
    } else if (stdout_path != nullptr) {
        out = open(stdout_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(terminal, 2) < 0) {
        _exit(127);
    }
    close_range(3, ~0U, 0);
    execve(argv[0], argv, envp);
    _exit(127);
}

// The session leader under job control: runs the program in its own foreground process group
// and ends as it does.
[[noreturn]] void lead_session(int terminal, const pty_spawn_options& options,
                               const char* stdout_path, char* const* argv, char* const* envp) {
    const pid_t job = fork();
    if (job < 0) {
        _exit(127);
    }
    if (job == 0) {
        setpgid(0, 0);
        signal(SIGTTOU, SIG_IGN);  // a background group may then take the terminal
        tcsetpgrp(terminal, getpid());
        signal(SIGTTOU, SIG_DFL);
        exec_program(terminal, options, stdout_path, argv, envp);
    }
    setpgid(job, job);
    close_range(0, ~0U, 0);
    int status = 0;
    while (waitpid(job, &status, 0) < 0) {
        if (errno != EINTR) {
            _exit(127);
        }
    }
    if (WIFSIGNALED(status)) {
        signal(WTERMSIG(status), SIG_DFL);
        raise(WTERMSIG(status));
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 127);
}

void take_output(pty_session* session) {
    char buffer[4096];
    for (;;) {
        pollfd p{session->master, POLLIN, 0};
        if (poll(&p, 1, 0) <= 0 || (p.revents & POLLIN) == 0) {
            return;
        }
        const ssize_t got = read(session->master, buffer, sizeof buffer);
        if (got <= 0) {
            return;
        }
        session->unread.append(buffer, static_cast<size_t>(got));
    }
}

void kill_child(pty_session* session) {
    if (session->pid <= 0) {
        return;
    }
    const pid_t group = pty_foreground_group(*session);
    if (group > 0) {
        kill(-group, SIGKILL);
    }
    kill(-session->pid, SIGKILL);
    kill(session->pid, SIGKILL);
    int status = 0;
    waitpid(session->pid, &status, 0);
    session->pid = -1;
}

}  // namespace

bool pty_open(pty_session* session, int rows, int columns) {
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = static_cast<unsigned short>(columns);
    return openpty(&session->master, &session->slave, nullptr, nullptr, &size) == 0;
}

bool pty_spawn(pty_session* session, const std::vector<std::string>& argv,
               const pty_spawn_options& options) {
    std::vector<std::string> arguments = argv;
    std::vector<std::string> environment = child_environment(options.environment);
    std::vector<char*> argument_pointers = c_pointers(arguments);
    std::vector<char*> environment_pointers = c_pointers(environment);
    const char* stdout_path = options.stdout_path.empty() ? nullptr : options.stdout_path.c_str();
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        reset_signals();
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        setsid();
        const int terminal = session->slave;
        close(session->master);
        if (ioctl(terminal, TIOCSCTTY, 0) != 0) {
            _exit(127);
        }
        if (options.job_control) {
            lead_session(terminal, options, stdout_path, argument_pointers.data(),
                         environment_pointers.data());
        }
        exec_program(terminal, options, stdout_path, argument_pointers.data(),
                     environment_pointers.data());
    }
    session->pid = pid;
    close(session->slave);
    session->slave = -1;
    return true;
}

bool pty_write(const pty_session& session, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(session.master, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

std::string pty_read(pty_session* session, int timeout_ms) {
    if (session->unread.empty()) {
        pollfd p{session->master, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) > 0) {
            take_output(session);
        }
    } else {
        take_output(session);
    }
    std::string result;
    result.swap(session->unread);
    return result;
}

bool pty_read_until(pty_session* session, std::string_view needle, int timeout_ms,
                    std::string* output) {
    const int64_t deadline = now_ms() + timeout_ms;
    std::string collected;
    bool found = false;
    for (;;) {
        collected += pty_read(session, 10);
        found = collected.find(needle) != std::string::npos;
        if (found || now_ms() >= deadline) {
            break;
        }
    }
    if (output != nullptr) {
        *output = collected;
    }
    return found;
}

bool pty_modes(const pty_session& session, termios* modes) {
    return tcgetattr(session.master, modes) == 0;
}

bool pty_wait_modes(const pty_session& session, const std::function<bool(const termios&)>& test,
                    int timeout_ms) {
    const int64_t deadline = now_ms() + timeout_ms;
    for (;;) {
        termios modes{};
        if (pty_modes(session, &modes) && test(modes)) {
            return true;
        }
        if (now_ms() >= deadline) {
            return false;
        }
        usleep(2000);
    }
}

bool same_modes(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && a.c_line == b.c_line &&
           std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 && cfgetispeed(&a) == cfgetispeed(&b) &&
           cfgetospeed(&a) == cfgetospeed(&b);
}

pid_t pty_foreground_group(const pty_session& session) {
    return tcgetpgrp(session.master);
}

bool pty_signal(const pty_session& session, int sig) {
    const pid_t group = pty_foreground_group(session);
    return group > 0 && kill(-group, sig) == 0;
}

bool pty_wait_exit(pty_session* session, int timeout_ms, int* status) {
    const int64_t deadline = now_ms() + timeout_ms;
    for (;;) {
        take_output(session);
        const pid_t done = waitpid(session->pid, status, WNOHANG);
        if (done == session->pid) {
            session->pid = -1;
            take_output(session);
            return true;
        }
        if (done < 0 || now_ms() >= deadline) {
            kill_child(session);
            return false;
        }
        usleep(1000);
    }
}

void pty_close(pty_session* session) {
    kill_child(session);
    if (session->slave >= 0) {
        close(session->slave);
        session->slave = -1;
    }
    if (session->master >= 0) {
        close(session->master);
        session->master = -1;
    }
}

char process_state(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        return 0;
    }
    char line[512] = {};
    const bool got = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    const char* end = got ? std::strrchr(line, ')') : nullptr;  // the name may hold blanks
    return end != nullptr && end[1] == ' ' ? end[2] : 0;
}
