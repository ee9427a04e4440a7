// The terminal's modes on a real pseudo-terminal as key polling needs them, and what only a
// program that shows its keys can tell: keys decoded through a real terminal, nothing echoed,
// type-ahead kept, and standard input's file status flags untouched. The program is the test
// driver, which polls keys like the main routine and prints each key's codes. How the whole
// program leaves the terminal on every way out is checked on the real binary in
// fault_test.cpp.
#include "platform/posix/terminal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/support/program.h"

#ifndef TERMINAL_DRIVER
#error "TERMINAL_DRIVER must name the driver program"
#endif

namespace {

// The driver on a fresh terminal, its standard output on a pipe.
struct driver {
    pty_session terminal;
    termios before{};
    int output = -1;  // read end of the driver's standard output

    bool start(const std::string& type_ahead = "") {
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
        const bool spawned = pty_spawn(&terminal, {TERMINAL_DRIVER}, options);
        close(pipe_ends[1]);
        return spawned;
    }

    bool wait_until_polling() const {
        return pty_wait_modes(terminal, program_modes_on, watchdog_ms);
    }

    // Reads the driver's output until it holds needle.
    bool read_until(const std::string& needle, std::string* text) const {
        const int64_t deadline = now_ms() + watchdog_ms;
        for (;;) {
            if (text->find(needle) != std::string::npos) {
                return true;
            }
            if (now_ms() >= deadline) {
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

// While polling: no echo, no line editing, reads that never wait, signals still raised by the
// terminal, all else as found. Keys then decode through the real terminal, none is echoed,
// a lone ESC ends the program with status 0 (the time it takes is reported), and standard
// input's O_NONBLOCK flag was never set.
TEST(Terminal, PollingModesKeysWithoutEchoAndEscEnds) {
    driver d;
    ASSERT_TRUE(d.start());
    ASSERT_TRUE(d.wait_until_polling());
    const termios during = d.now();
    EXPECT_TRUE(same_modes(during, terminal_program_modes(d.before)));
    EXPECT_EQ(during.c_lflag & ECHO, 0u);
    EXPECT_NE(during.c_lflag & ISIG, 0u);
    EXPECT_EQ(during.c_cc[VMIN], 0);
    EXPECT_EQ(during.c_cc[VTIME], 0);

    pty_read(&d.terminal, 0);
    ASSERT_TRUE(pty_write(d.terminal,
                          "x\r\x1b[A\x1bOP\x1b[1;3S\x1b"
                          "a\x7f"));
    std::string text;
    EXPECT_TRUE(d.read_until("255 30\n8\n", &text)) << text;
    const int64_t typed = now_ms();
    ASSERT_TRUE(pty_write(d.terminal, "\x1b"));
    int status = 0;
    ASSERT_TRUE(pty_wait_exit(&d.terminal, watchdog_ms, &status));
    const int64_t ms = now_ms() - typed;
    RecordProperty("esc_to_exit_ms", std::to_string(ms));
    std::printf("ESC to exit: %lld ms\n", static_cast<long long>(ms));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(same_modes(d.now(), d.before));
    EXPECT_EQ(d.terminal.unread, "") << "echoed";
    EXPECT_TRUE(d.read_until("nonblock 0\n", &text)) << text;
    EXPECT_EQ(text, "120\n13\n255 72\n255 59\n255 107\n255 30\n8\n27\nnonblock 0\n");
}

TEST(Terminal, TypeAheadIsKept) {
    driver d;
    ASSERT_TRUE(d.start("ab\x1b"));
    int status = 0;
    ASSERT_TRUE(pty_wait_exit(&d.terminal, watchdog_ms, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string text;
    d.read_until("nonblock", &text);
    EXPECT_EQ(text, "97\n98\n27\nnonblock 0\n");
    EXPECT_TRUE(same_modes(d.now(), d.before));
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
