#include "tests/support/program.h"

#include <gtest/gtest.h>
#include <string.h>
#include <sys/wait.h>

#include <sstream>

pty_spawn_options fake_audio_options(const scratch_dir& dir,
                                     const std::vector<std::string>& extra) {
    pty_spawn_options options;
    options.environment = {"DSPHOST_FAKE_PA_LOG=" + dir.path + "/calls", "TZ=UTC"};
    options.environment.insert(options.environment.end(), extra.begin(), extra.end());
    return options;
}

size_t calls_logged(const scratch_dir& dir, const std::string& call) {
    std::istringstream log(read_file(dir.path + "/calls"));
    size_t count = 0;
    for (std::string line; std::getline(log, line);) count += line == call ? 1 : 0;
    return count;
}

std::vector<std::string> calls_made(const scratch_dir& dir) {
    std::istringstream log(read_file(dir.path + "/calls"));
    std::vector<std::string> calls;
    for (std::string line; std::getline(log, line);) {
        if (line.rfind("Pa_", 0) == 0) calls.push_back(line);
    }
    return calls;
}

bool start(program* p, const std::string& binary, const pty_spawn_options& options) {
    return pty_open(&p->pty) && pty_modes(p->pty, &p->before) &&
           pty_spawn(&p->pty, {binary}, options);
}

bool program_modes_on(const termios& t) {
    return (t.c_lflag & ICANON) == 0;
}

bool wait_polling(const program& p) {
    return pty_wait_modes(p.pty, program_modes_on, watchdog_ms);
}

bool wait_lines(program* p, size_t n, int timeout_ms) {
    const int64_t deadline = now_ms() + timeout_ms;
    while (count_of(p->screen, "%\r") < n) {
        if (now_ms() >= deadline) return false;
        p->screen += pty_read(&p->pty, 20);
    }
    return true;
}

bool still_running(program* p) {
    if (p->ended) return false;
    int status = 0;
    const pid_t done = waitpid(p->pty.pid, &status, WNOHANG);
    if (done == p->pty.pid) {
        p->pty.pid = -1;
        p->ended = true;
        p->status = status;
        return false;
    }
    return done == 0;
}

void finish(program* p) {
    if (!p->ended) {
        p->ended = pty_wait_exit(&p->pty, watchdog_ms, &p->status);
    }
    p->screen += p->pty.unread;
    p->pty.unread.clear();
    if (p->pty.master >= 0) {
        termios after{};
        ASSERT_TRUE(pty_modes(p->pty, &after));
        EXPECT_TRUE(same_modes(p->before, after)) << "the terminal's modes changed";
    }
}

void end_with_esc(program* p) {
    ASSERT_TRUE(pty_write(p->pty, "\x1b"));
    finish(p);
    EXPECT_TRUE(exited_with(*p, 0)) << how_it_ended(*p);
}

std::string how_it_ended(const program& p) {
    if (!p.ended) return "still running, or killed by the watchdog";
    if (WIFEXITED(p.status)) return "exit status " + std::to_string(WEXITSTATUS(p.status));
    if (WIFSIGNALED(p.status)) {
        return "signal " + std::to_string(WTERMSIG(p.status)) + " (" +
               strsignal(WTERMSIG(p.status)) + ")";
    }
    return "wait status " + std::to_string(p.status);
}

bool exited_with(const program& p, int code) {
    return p.ended && WIFEXITED(p.status) && WEXITSTATUS(p.status) == code;
}

bool killed_by(const program& p, int sig) {
    return p.ended && WIFSIGNALED(p.status) && WTERMSIG(p.status) == sig;
}

std::string state_of(program* p) {
    const bool running = still_running(p);
    p->screen += pty_read(&p->pty, 0);
    return (running ? std::string("running") : how_it_ended(*p)) + "; screen: " + p->screen;
}
