// The terminal's modes on a real pseudo-terminal: switched for key polling while the program
// runs, and as found again after every way it ends. The program is the test driver, which
// polls keys like the main routine and prints each key's codes.
#include "console/terminal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/pty.h"

#ifndef TERMINAL_DRIVER
#error "TERMINAL_DRIVER must name the driver program"
#endif

namespace {

constexpr int WATCHDOG_MS = 20000;

// Under a sanitizer, a fault signal is reported by the sanitizer's own handler (which the
// program's handler passes it on to), and the process then exits with an error status.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitizer_build = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool sanitizer_build = true;
#else
constexpr bool sanitizer_build = false;
#endif
#else
constexpr bool sanitizer_build = false;
#endif

bool program_modes_on(const termios& t) {
    return (t.c_lflag & ICANON) == 0;
}

// The driver on a fresh terminal, its standard output on a pipe.
struct driver {
    pty_session terminal;
    termios before{};
    int output = -1;  // read end of the driver's standard output

    bool start(const std::string& type_ahead = "", bool job_control = false) {
        if (!pty_open(&terminal) || !pty_modes(terminal, &before)) {
            return false;
        }
        if (!type_ahead.empty() && !pty_write(terminal, type_ahead)) {
            return false;
        }
        int pipe_ends[2];
        if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
            return false;
        }
        output = pipe_ends[0];
        pty_spawn_options options;
        options.stdout_fd = pipe_ends[1];
        options.job_control = job_control;
        const bool spawned = pty_spawn(&terminal, {TERMINAL_DRIVER}, options);
        close(pipe_ends[1]);
        return spawned;
    }

    bool wait_until_polling() const {
        return pty_wait_modes(terminal, program_modes_on, WATCHDOG_MS);
    }

    // Reads the driver's output until it holds needle.
    bool read_until(const std::string& needle, std::string* text) const {
        timespec start{};
        clock_gettime(CLOCK_MONOTONIC, &start);
        for (;;) {
            if (text->find(needle) != std::string::npos) {
                return true;
            }
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            if ((now.tv_sec - start.tv_sec) * 1000 > WATCHDOG_MS) {
                return false;
            }
            char buffer[256];
            pollfd p{output, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {
                const ssize_t got = read(output, buffer, sizeof buffer);
                if (got <= 0) {
                    return text->find(needle) != std::string::npos;
                }
                text->append(buffer, static_cast<size_t>(got));
            }
        }
    }

    termios now() const {
        termios t{};
        pty_modes(terminal, &t);
        return t;
    }

    ~driver() {
        pty_close(&terminal);
        if (output >= 0) {
            close(output);
        }
    }
};

TEST(Terminal, ProgramModesChangeOnlyWhatPollingNeeds) {
    termios cooked{};
    cooked.c_iflag = ICRNL | IXON | IUTF8;
    cooked.c_oflag = OPOST | ONLCR;
    cooked.c_cflag = CS8 | CREAD;
    cooked.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | IEXTEN | ECHOCTL | ECHOKE;
    cooked.c_cc[VMIN] = 1;
    cooked.c_cc[VTIME] = 3;
    cooked.c_cc[VINTR] = 3;
    cooked.c_cc[VEOF] = 4;
    termios raw{};
    raw.c_cflag = CS8 | CREAD;
    raw.c_cc[VMIN] = 5;
    for (const termios& found : {cooked, raw}) {
        const termios t = terminal_program_modes(found);
        EXPECT_EQ(t.c_iflag, found.c_iflag);
        EXPECT_EQ(t.c_oflag, found.c_oflag);
        EXPECT_EQ(t.c_cflag, found.c_cflag);
        EXPECT_EQ(t.c_lflag, (found.c_lflag & ~static_cast<tcflag_t>(ICANON | ECHO)) | ISIG);
        EXPECT_EQ(t.c_cc[VMIN], 0);
        EXPECT_EQ(t.c_cc[VTIME], 0);
        for (int i = 0; i < NCCS; ++i) {
            if (i != VMIN && i != VTIME) {
                EXPECT_EQ(t.c_cc[i], found.c_cc[i]) << i;
            }
        }
    }
}

TEST(Terminal, EscEndsWithStatusZeroAndModesAsFound) {
    driver d;
    ASSERT_TRUE(d.start());
    ASSERT_TRUE(d.wait_until_polling());
    const termios during = d.now();
    EXPECT_TRUE(same_modes(during, terminal_program_modes(d.before)));
    EXPECT_EQ(during.c_lflag & ECHO, 0u);
    EXPECT_NE(during.c_lflag & ISIG, 0u);
    EXPECT_EQ(during.c_cc[VMIN], 0);
    EXPECT_EQ(during.c_cc[VTIME], 0);

    timespec typed{};
    clock_gettime(CLOCK_MONOTONIC, &typed);
    ASSERT_TRUE(pty_write(d.terminal, "\x1b"));
    int status = 0;
    ASSERT_TRUE(pty_wait_exit(&d.terminal, WATCHDOG_MS, &status));
    timespec ended{};
    clock_gettime(CLOCK_MONOTONIC, &ended);
    const int64_t ms =
        (ended.tv_sec - typed.tv_sec) * 1000 + (ended.tv_nsec - typed.tv_nsec) / 1'000'000;
    RecordProperty("esc_to_exit_ms", std::to_string(ms));
    std::printf("ESC to exit: %lld ms\n", static_cast<long long>(ms));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(same_modes(d.now(), d.before));
    std::string text;
    EXPECT_TRUE(d.read_until("nonblock 0\n", &text)) << text;
    EXPECT_EQ(text, "27\nnonblock 0\n");
}

TEST(Terminal, KeysAreNotEchoedAndDecodeThroughTheRealTerminal) {
    driver d;
    ASSERT_TRUE(d.start());
    ASSERT_TRUE(d.wait_until_polling());
    pty_read(&d.terminal, 0);
    ASSERT_TRUE(pty_write(d.terminal,
                          "x\r\x1b[A\x1bOP\x1b[1;3S\x1b"
                          "a\x7f"));
    std::string text;
    EXPECT_TRUE(d.read_until("255 30\n8\n", &text)) << text;
    EXPECT_EQ(text, "120\n13\n255 72\n255 59\n255 107\n255 30\n8\n");
    EXPECT_EQ(pty_read(&d.terminal, 100), "");  // nothing echoed
    ASSERT_TRUE(pty_write(d.terminal, "\x1b"));
    int status = 0;
    ASSERT_TRUE(pty_wait_exit(&d.terminal, WATCHDOG_MS, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(same_modes(d.now(), d.before));
}

TEST(Terminal, TypeAheadIsKept) {
    driver d;
    ASSERT_TRUE(d.start("ab\x1b"));
    int status = 0;
    ASSERT_TRUE(pty_wait_exit(&d.terminal, WATCHDOG_MS, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string text;
    d.read_until("nonblock", &text);
    EXPECT_EQ(text, "97\n98\n27\nnonblock 0\n");
    EXPECT_TRUE(same_modes(d.now(), d.before));
}

// Every way out by a signal: the modes are as found and the signal ended the process.
struct signal_row {
    const char* name;
    const char* typed;  // bytes typed on the terminal, or nullptr to send sig
    int sig;
};

void PrintTo(const signal_row& row, std::ostream* os) {
    *os << row.name;
}

class SignalEnd : public testing::TestWithParam<signal_row> {};

TEST_P(SignalEnd, RestoresTheModesAndEndsByTheSignal) {
    const signal_row& row = GetParam();
    driver d;
    ASSERT_TRUE(d.start());
    ASSERT_TRUE(d.wait_until_polling());
    if (row.typed != nullptr) {
        ASSERT_TRUE(pty_write(d.terminal, row.typed));
    } else {
        ASSERT_TRUE(pty_signal(d.terminal, row.sig));
    }
    int status = 0;
    ASSERT_TRUE(pty_wait_exit(&d.terminal, WATCHDOG_MS, &status));
    EXPECT_TRUE(same_modes(d.now(), d.before)) << row.name;
    const bool fault = row.sig == SIGSEGV || row.sig == SIGBUS || row.sig == SIGFPE;
    if (sanitizer_build && fault && WIFEXITED(status)) {
        EXPECT_NE(WEXITSTATUS(status), 0) << row.name;  // the sanitizer's report ended it
    } else {
        ASSERT_TRUE(WIFSIGNALED(status)) << row.name << " status " << status;
        EXPECT_EQ(WTERMSIG(status), row.sig) << row.name;
    }
}

const signal_row signal_rows[] = {
    {"ctrl_c", "\x03", SIGINT},    {"ctrl_backslash", "\x1c", SIGQUIT},
    {"sigint", nullptr, SIGINT},   {"sigterm", nullptr, SIGTERM},
    {"sighup", nullptr, SIGHUP},   {"sigquit", nullptr, SIGQUIT},
    {"sigsegv", nullptr, SIGSEGV}, {"sigbus", nullptr, SIGBUS},
    {"sigfpe", nullptr, SIGFPE},   {"sigill", nullptr, SIGILL},
    {"sigabrt", nullptr, SIGABRT},
};

INSTANTIATE_TEST_SUITE_P(Ways, SignalEnd, testing::ValuesIn(signal_rows),
                         [](const testing::TestParamInfo<signal_row>& info) {
                             return std::string(info.param.name);
                         });

// Ctrl+Z under a job-control session: the modes go back while the program is stopped and are
// switched on again when it continues.
TEST(Terminal, CtrlZRestoresAndStopsSigcontResumes) {
    driver d;
    ASSERT_TRUE(d.start("", true));
    ASSERT_TRUE(d.wait_until_polling());
    const pid_t job = pty_foreground_group(d.terminal);
    ASSERT_GT(job, 0);
    ASSERT_NE(job, d.terminal.pid);
    ASSERT_TRUE(pty_write(d.terminal, "\x1a"));
    EXPECT_TRUE(pty_wait_modes(
        d.terminal, [&](const termios& t) { return same_modes(t, d.before); }, WATCHDOG_MS));
    bool stopped = false;
    for (int i = 0; i < 2000 && !stopped; ++i) {
        stopped = process_state(job) == 'T';
        usleep(1000);
    }
    EXPECT_TRUE(stopped);
    ASSERT_TRUE(pty_signal(d.terminal, SIGCONT));
    ASSERT_TRUE(d.wait_until_polling());
    EXPECT_TRUE(same_modes(d.now(), terminal_program_modes(d.before)));
    ASSERT_TRUE(pty_write(d.terminal, "k\x1b"));
    int status = 0;
    ASSERT_TRUE(pty_wait_exit(&d.terminal, WATCHDOG_MS, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(same_modes(d.now(), d.before));
    std::string text;
    d.read_until("nonblock", &text);
    EXPECT_EQ(text, "107\n27\nnonblock 0\n");
}

// Without job control (an orphaned process group) the kernel does not stop the program on
// Ctrl+Z; it must then carry on with its modes on.
TEST(Terminal, CtrlZThatDoesNotStopLeavesTheProgramPolling) {
    driver d;
    ASSERT_TRUE(d.start());
    ASSERT_TRUE(d.wait_until_polling());
    ASSERT_TRUE(pty_write(d.terminal, "\x1a"));
    ASSERT_TRUE(pty_write(d.terminal, "k"));
    std::string text;
    EXPECT_TRUE(d.read_until("107\n", &text)) << text;
    EXPECT_TRUE(same_modes(d.now(), terminal_program_modes(d.before)));
    ASSERT_TRUE(pty_write(d.terminal, "\x1b"));
    int status = 0;
    ASSERT_TRUE(pty_wait_exit(&d.terminal, WATCHDOG_MS, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(same_modes(d.now(), d.before));
}

// Standard input that is not the terminal is never read, and the terminal is left alone.
TEST(Terminal, InputFromDevNullIsNeverReadAndModesStayAlone) {
    pty_session terminal;
    ASSERT_TRUE(pty_open(&terminal));
    termios before{};
    ASSERT_TRUE(pty_modes(terminal, &before));
    pty_spawn_options options;
    options.stdin_null = true;
    options.stdout_path = "/dev/null";
    ASSERT_TRUE(pty_spawn(&terminal, {TERMINAL_DRIVER}, options));
    ASSERT_TRUE(pty_write(terminal, "x\x1b"));
    usleep(200 * 1000);
    termios during{};
    ASSERT_TRUE(pty_modes(terminal, &during));
    EXPECT_TRUE(same_modes(during, before));
    ASSERT_TRUE(pty_signal(terminal, SIGTERM));
    int status = 0;
    ASSERT_TRUE(pty_wait_exit(&terminal, WATCHDOG_MS, &status));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;  // Esc unread
    ASSERT_TRUE(pty_modes(terminal, &during));
    EXPECT_TRUE(same_modes(during, before));
    pty_close(&terminal);
}

// In this process: prepare a terminal that is not standard input, then put it back.
TEST(Terminal, PrepareThenRestoreInProcess) {
    pty_session terminal;
    ASSERT_TRUE(pty_open(&terminal));
    termios before{};
    ASSERT_TRUE(pty_modes(terminal, &before));
    const int flags = fcntl(terminal.slave, F_GETFL);
    ASSERT_TRUE(terminal_prepare(terminal.slave));
    termios during{};
    ASSERT_TRUE(pty_modes(terminal, &during));
    EXPECT_TRUE(same_modes(during, terminal_program_modes(before)));
    EXPECT_EQ(fcntl(terminal.slave, F_GETFL), flags);
    EXPECT_TRUE(terminal_prepare(terminal.slave));  // later calls give the first result
    terminal_restore();
    termios after{};
    ASSERT_TRUE(pty_modes(terminal, &after));
    EXPECT_TRUE(same_modes(after, before));
    pty_close(&terminal);
}

TEST(TerminalDeathTest, PrepareOnANonTerminalChangesNothing) {
    EXPECT_EXIT(
        {
            const int null = open("/dev/null", O_RDONLY);
            struct sigaction before {};
            sigaction(SIGINT, nullptr, &before);
            const bool prepared = terminal_prepare(null);
            struct sigaction after {};
            sigaction(SIGINT, nullptr, &after);
            std::_Exit(!prepared && before.sa_handler == after.sa_handler ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
