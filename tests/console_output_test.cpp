// The output path: bytes unchanged to files, pipes and terminals, the output column and print
// zones, and writes that fail or are cut short.
#include "console/console_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "tests/support/capture.h"
#include "tests/support/pty.h"
#include "tests/support/status_print.h"

namespace {

void write_text(std::string_view text) {
    console_write(text.data(), text.size());
}

TEST(OutputColumn, CountsBytesAfterTheLastLineEndModuloTheWidth) {
    struct column_case {
        std::string text;
        int column;
    };
    const column_case cases[] = {
        {"abc", 3},
        {"ab\rcd", 2},
        {"ab\ncde", 3},
        {"x\r\n", 0},
        {"\t\b\a", 3},  // control bytes other than CR and LF count as bytes
        {std::string(85, 'x'), 5},
        {std::string(80, 'x'), 0},
        {"\r" + std::string(159, 'x'), 79},
    };
    capture_start();
    int width = output_line_width();
    std::vector<int> columns;
    for (const column_case& c : cases) {
        write_text("\r\n");
        write_text(c.text);
        columns.push_back(output_column());
    }
    write_text("\r\nab");
    write_text("cd");
    columns.push_back(output_column());
    capture_stop();

    ASSERT_EQ(width, 80);  // standard output is no terminal
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(columns[i], cases[i].column) << testing::PrintToString(cases[i].text);
    }
    EXPECT_EQ(columns.back(), 4);
}

TEST(PrintZone, MovesToTheNextFourteenColumnZone) {
    struct zone_case {
        int column;
        std::string written;
        int column_after;
    };
    const zone_case cases[] = {
        {0, std::string(14, ' '), 14},
        {3, std::string(11, ' '), 14},
        {13, " ", 14},
        {14, std::string(14, ' '), 28},
        {65, std::string(5, ' '), 70},
        {69, " ", 70},
        {70, "\r\n", 0},  // the zone at 84 would not fit on an 80-column line
        {79, "\r\n", 0},
    };
    for (const zone_case& c : cases) {
        capture_start();
        write_text("\r\n" + std::string(static_cast<size_t>(c.column), 'x'));
        move_to_next_zone();
        int column_after = output_column();
        std::string written = capture_stop();
        EXPECT_EQ(written, "\r\n" + std::string(static_cast<size_t>(c.column), 'x') + c.written)
            << c.column;
        EXPECT_EQ(column_after, c.column_after) << c.column;
    }
}

TEST(PrintZone, EachPrintServiceMovesOnPrintZone) {
    capture_start();
    write_text("\r\n");
    print_string("abc", PRINT_ZONE);
    print_int64(5, PRINT_ZONE);
    mask_init("##.##%");
    print_masked_double(3.12, PRINT_ZONE | PRINT_MASK_DONE);
    mask_end();
    print_string("", PRINT_ZONE);
    EXPECT_EQ(capture_stop(), "\r\nabc" + std::string(11, ' ') + " 5" + std::string(12, ' ') +
                                  " 3.12%" + std::string(8, ' ') + std::string(14, ' '));
}

// Writes that fail (EPIPE, ENOSPC): the item is lost, the process lives on, and the next item
// goes out.
TEST(ConsoleWrite, FailingWritesAreDroppedSilently) {
    signal(SIGPIPE, SIG_IGN);  // as the program's start-up does
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    const int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    for (const int failing : {ends[1], full}) {
        stdout_redirect(failing);
        print_example_line();
        print_example_line();
        stdout_restore();
        capture_start();
        print_example_line();
        EXPECT_EQ(capture_stop(), example_line) << (failing == full ? "/dev/full" : "pipe");
        close(failing);
    }
}

// Sends everything written to a pipe through to the returned text.
std::string pipe_through(const std::string& bytes, bool non_blocking, bool interrupt) {
    int ends[2];
    if (pipe(ends) != 0) {
        return "no pipe";
    }
    if (non_blocking) {
        fcntl(ends[1], F_SETFL, fcntl(ends[1], F_GETFL) | O_NONBLOCK);
    }
    std::string received;
    std::thread reader([&] {
        char buffer[1000];  // small reads keep the writer waiting on a full pipe
        while (true) {
            ssize_t got = read(ends[0], buffer, sizeof buffer);
            if (got > 0) {
                received.append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                break;
            }
        }
    });
    struct sigaction action {};
    struct sigaction previous {};
    itimerval timer{{0, 200}, {0, 200}};
    if (interrupt) {  // no SA_RESTART: blocked writes return early with EINTR or a short count
        action.sa_handler = [](int) {};
        sigaction(SIGALRM, &action, &previous);
        setitimer(ITIMER_REAL, &timer, nullptr);
    }
    stdout_redirect(ends[1]);
    close(ends[1]);
    console_write(bytes.data(), bytes.size());
    stdout_restore();  // closes the last write end: the reader sees the end
    if (interrupt) {
        itimerval off{};
        setitimer(ITIMER_REAL, &off, nullptr);
        sigaction(SIGALRM, &previous, nullptr);
    }
    reader.join();
    close(ends[0]);
    return received;
}

std::string big_text() {
    std::string text;
    for (int i = 0; text.size() < 4000000; ++i) {
        text += std::to_string(i) + (i % 7 == 0 ? "\r\n" : " ");
    }
    return text;
}

// Short writes, writes interrupted by a signal, and a descriptor that does not wait.
TEST(ConsoleWrite, ShortInterruptedAndNonBlockingWritesLoseNothing) {
    const std::string text = big_text();
    EXPECT_TRUE(pipe_through(text, false, true) == text) << "interrupted";
    EXPECT_TRUE(pipe_through(text, true, false) == text) << "non-blocking";
}

TEST(LineWidth, IsTheTerminalsColumnCountElseEighty) {
    for (const int columns : {132, 0}) {  // 0: a terminal that reports no width
        pty_session terminal;
        ASSERT_TRUE(pty_open(&terminal, 40, columns));
        EXPECT_EQ(platform_line_width(terminal.slave), columns == 0 ? 80 : columns);
        pty_close(&terminal);
    }
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    EXPECT_EQ(platform_line_width(ends[1]), 80);
    close(ends[0]);
    close(ends[1]);
    EXPECT_EQ(platform_line_width(-1), 80);
}

// A terminal gets the same bytes as a file (its output processing off here, so that they can
// be read back exactly). A fresh process has the terminal as standard output from its first
// write on, so its line width is the terminal's.
TEST(ConsoleWrite, ATerminalReceivesTheLineByteForByte) {
    pty_session terminal;
    ASSERT_TRUE(pty_open(&terminal, 40, 100));
    termios raw{};
    ASSERT_EQ(tcgetattr(terminal.slave, &raw), 0);
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(terminal.slave, TCSANOW, &raw), 0);
    ASSERT_TRUE(pty_spawn(&terminal, {STATUS_PROBE_PATH, "line", "100"}));
    int status = 0;
    ASSERT_TRUE(pty_wait_exit(&terminal, 30000, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "line width or output column";
    EXPECT_EQ(terminal.unread, std::string(example_line) + "12345");
    pty_close(&terminal);
}

}  // namespace
