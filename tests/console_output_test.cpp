// The output path: bytes unchanged to files, pipes and terminals, the output column and print
// zones, and writes that fail or are cut short.
#include "console/console_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
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

#include "console/mask.h"
#include "console/print.h"
#include "tests/support/capture.h"

namespace {

const char example_line[] = "hit ctrl-C or ESC key to exit 12:34:56 123456 8000 3.12%\r\n";

void print_example_line() {
    print_string("hit ctrl-C or ESC key to exit", 0);
    print_string(" ", 0);
    print_string("12:34:56", 0);
    print_int64(123456, 0);
    print_int64(8000, 0);
    mask_init("##.##%");
    print_masked_double(0.0312 * 100.0, PRINT_NEWLINE | PRINT_MASK_DONE);
    mask_end();
}

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

// Failing writes: the item is lost, the process lives on, and the next item goes out.
void expect_output_survives(int failing_fd) {
    signal(SIGPIPE, SIG_IGN);  // as the program's start-up does
    stdout_redirect(failing_fd);
    print_example_line();
    print_example_line();
    stdout_restore();
    capture_start();
    print_example_line();
    EXPECT_EQ(capture_stop(), example_line);
}

TEST(ConsoleWrite, AClosedPipeFailsSilently) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    expect_output_survives(ends[1]);
    close(ends[1]);
}

TEST(ConsoleWrite, AFullDeviceFailsSilently) {
    int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    expect_output_survives(full);
    close(full);
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

TEST(ConsoleWrite, ShortAndInterruptedWritesLoseNothing) {
    std::string text = big_text();
    EXPECT_TRUE(pipe_through(text, false, true) == text);
}

TEST(ConsoleWrite, ANonBlockingOutputLosesNothing) {
    std::string text = big_text();
    EXPECT_TRUE(pipe_through(text, true, false) == text);
}

// A pseudo-terminal with the given size and output processing off, so the bytes the program
// wrote can be read back exactly.
bool open_terminal(int& master, int& slave, unsigned short columns) {
    winsize size{};
    size.ws_row = 40;
    size.ws_col = columns;
    if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) {
        return false;
    }
    termios mode{};
    tcgetattr(slave, &mode);
    cfmakeraw(&mode);
    tcsetattr(slave, TCSANOW, &mode);
    return true;
}

TEST(LineWidth, IsTheTerminalsColumnCountElseEighty) {
    int master = -1;
    int slave = -1;
    ASSERT_TRUE(open_terminal(master, slave, 132));
    EXPECT_EQ(line_width_of(slave), 132);
    close(master);
    close(slave);

    ASSERT_TRUE(open_terminal(master, slave, 0));  // a terminal that reports no width
    EXPECT_EQ(line_width_of(slave), 80);
    close(master);
    close(slave);

    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    EXPECT_EQ(line_width_of(ends[1]), 80);
    close(ends[0]);
    close(ends[1]);
    EXPECT_EQ(line_width_of(-1), 80);
}

// A terminal gets the same bytes as a file. A fresh process has the terminal as standard
// output from its first write on, so its line width is the terminal's.
TEST(ConsoleWrite, ATerminalReceivesTheLineByteForByte) {
    int master = -1;
    int slave = -1;
    ASSERT_TRUE(open_terminal(master, slave, 100));
    child_run run = run_child({STATUS_PROBE_PATH, "line", "100"}, {}, slave, master);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exit_status, 0) << "line width or output column wrong";
    EXPECT_EQ(run.output, std::string(example_line) + "12345");
}

}  // namespace
