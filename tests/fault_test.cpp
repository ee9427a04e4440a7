// Faults from outside, against the real program on a pseudo-terminal: hostile keyboard input,
// a burst of keys, output nobody can take, every signal that ends or stops it, a missing or
// exhausted audio device, and a real minute of running.
// Most cases run the program built over the stand-in audio library (its own thread calls the
// sample callback 8000 times a second); the device cases run the real PortAudio and ALSA.
// Every child runs under a watchdog, and every case has its own terminal and scratch space.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/audio_env.h"
#include "tests/support/program.h"

namespace {

// On the terminal every line end shows as CR CR LF (the terminal adds a CR to the LF).
constexpr const char* terminal_line_end = "\r\r\n";

// The stand-in library's log ends with the stream stopped and closed and the library ended,
// once each and in that order: the program ended in order.
void expect_ended_in_order(const scratch_dir& dir) {
    const std::vector<std::string> calls = calls_made(dir);
    const std::vector<std::string> last = {"Pa_StopStream", "Pa_CloseStream", "Pa_Terminate"};
    ASSERT_GE(calls.size(), last.size());
    EXPECT_TRUE(std::equal(last.begin(), last.end(), calls.end() - 3)) << calls.back();
    EXPECT_EQ(calls_logged(dir, "Pa_Terminate"), 1u);
}

// The number after `key` in /proc/<pid>/<file>, -1 when unknown: VmRSS in status is the
// resident memory in KiB, rchar in io the bytes the process has taken with read() so far.
int64_t proc_figure(pid_t pid, const char* file, const std::string& key) {
    std::ifstream figures("/proc/" + std::to_string(pid) + "/" + file);
    for (std::string line; std::getline(figures, line);) {
        if (line.rfind(key + ":", 0) == 0) return std::atoll(line.c_str() + key.size() + 1);
    }
    return -1;
}

int64_t bytes_read_by(pid_t pid) {
    return proc_figure(pid, "io", "rchar");
}

// ---------------------------------------------------------------------------------------------
// Typing a lot

// Types bytes as fast as the program takes them, collecting what it prints meanwhile so that
// its own writes never wait on us. False when the program takes nothing for the watchdog time
// (a hang) or the terminal fails.
bool type_fast(program* p, std::string_view bytes) {
    const int flags = fcntl(p->pty.master, F_GETFL);
    if (flags < 0 || fcntl(p->pty.master, F_SETFL, flags | O_NONBLOCK) != 0) return false;
    int64_t progress = now_ms();
    bool ok = true;
    while (ok && !bytes.empty()) {
        const ssize_t n = write(p->pty.master, bytes.data(), std::min<size_t>(bytes.size(), 4096));
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
            progress = now_ms();
            continue;
        }
        ok = n < 0 && (errno == EAGAIN || errno == EINTR) && now_ms() - progress < watchdog_ms;
        pollfd out{p->pty.master, POLLOUT, 0};
        poll(&out, 1, 20);
        p->screen += pty_read(&p->pty, 0);
    }
    fcntl(p->pty.master, F_SETFL, flags);
    return ok;
}

// Waits until the program has read `typed` bytes since `base` (its rchar then).
bool wait_taken(program* p, int64_t base, int64_t typed) {
    const int64_t deadline = now_ms() + watchdog_ms;
    for (;;) {
        if (!still_running(p)) return false;
        const int64_t taken = bytes_read_by(p->pty.pid);
        if (taken < 0) return false;
        if (taken - base >= typed) return true;
        if (now_ms() >= deadline) return false;
        p->screen += pty_read(&p->pty, 0);
        usleep(200);
    }
}

// Types each piece whole once the program has read everything typed before it. A piece then
// reaches the program in one go: the terminal never holds back the rest of a sequence for
// want of room, so no pause in delivery can cut an ESC from what follows it (an ESC followed
// by nothing for a moment is the Esc key, and rightly ends the program).
bool type_paced(program* p, int64_t base, int64_t typed_before,
                const std::vector<std::string>& pieces) {
    int64_t typed = typed_before;
    for (const std::string& piece : pieces) {
        if (!wait_taken(p, base, typed) || !type_fast(p, piece)) return false;
        typed += static_cast<int64_t>(piece.size());
    }
    return wait_taken(p, base, typed);
}

// Bytes that must not be typed at random: those the terminal acts on itself while the program
// runs (interrupt, quit and suspend raise signals; stop and start hold the output), the ESC
// that begins a sequence, and the character 3, which ends the program like ESC.
std::string unsafe_bytes(const termios& modes) {
    std::string unsafe = {'\x1b', '\x03'};
    for (const int c : {VINTR, VQUIT, VSUSP, VSTART, VSTOP}) {
        unsafe.push_back(static_cast<char>(modes.c_cc[c]));
    }
    return unsafe;
}

char pick(std::mt19937& rng, const std::string& unsafe, int low = 0, int high = 255) {
    std::uniform_int_distribution<int> byte(low, high);
    for (;;) {
        const char c = static_cast<char>(byte(rng));
        if (unsafe.find(c) == std::string::npos) return c;
    }
}

int below(std::mt19937& rng, int n) {
    return std::uniform_int_distribution<int>(0, n - 1)(rng);
}

std::string random_text(std::mt19937& rng, const std::string& unsafe, int length, int low = 0,
                        int high = 255) {
    std::string text;
    for (int i = 0; i < length; ++i) text.push_back(pick(rng, unsafe, low, high));
    return text;
}

std::string random_parameters(std::mt19937& rng) {
    std::string text;
    const int count = below(rng, 6);
    for (int i = 0; i < count; ++i) {
        if (i > 0) text.push_back(below(rng, 8) == 0 ? ':' : ';');
        if (below(rng, 5) != 0)
            text += std::to_string(below(rng, 4) == 0 ? below(rng, 1 << 30) : below(rng, 40));
    }
    return text;
}

// One escape-led sequence of the kinds terminals send, known or not, well formed or not.
// Keypad digits under Alt are left out: Alt + keypad digits form a character code (2 and 7
// make the Esc key on purpose). Nothing else here may end the program.
std::string escape_junk(std::mt19937& rng, const std::string& unsafe) {
    const std::string esc = "\x1b";
    switch (below(rng, 16)) {
        case 0: {  // any CSI: private marker, parameters, intermediate, final
            std::string s = esc + "[";
            if (below(rng, 3) == 0) s.push_back("<=>?"[below(rng, 4)]);
            s += random_parameters(rng);
            if (below(rng, 4) == 0) s.push_back(static_cast<char>(0x20 + below(rng, 16)));
            return s + static_cast<char>(0x40 + below(rng, 0x3F));
        }
        case 1: {  // SS3, with a modifier now and then; no keypad digits p-y
            std::string s = esc + "O";
            if (below(rng, 3) == 0) s += std::to_string(below(rng, 20));
            char final = 0;
            do {
                final = static_cast<char>(0x40 + below(rng, 0x3F));
            } while (final >= 'p' && final <= 'y');
            return s + final;
        }
        case 2: {  // OSC: window title, colours, clipboard; BEL, ST or no end at all
            std::string s = esc + "]" + std::to_string(below(rng, 120)) + ";" +
                            random_text(rng, unsafe + "\x07", below(rng, 400), 0x20, 0xFF);
            const int end = below(rng, 3);
            return end == 0 ? s + "\x07" : end == 1 ? s + esc + "\\" : s;
        }
        case 3: {  // DCS, SOS, PM, APC strings
            return esc + "P_^X"[below(rng, 4)] +
                   random_text(rng, unsafe + "\x07", below(rng, 300), 0x20, 0x7E) + esc + "\\";
        }
        case 4: {  // SGR mouse report
            return esc + "[<" + std::to_string(below(rng, 128)) + ";" +
                   std::to_string(below(rng, 3000)) + ";" + std::to_string(below(rng, 3000)) +
                   (below(rng, 2) == 0 ? "M" : "m");
        }
        case 5:  // X10 mouse report: three raw bytes
            return esc + "[M" + random_text(rng, unsafe, 3, 0x20, 0xFF);
        case 6:  // urxvt mouse report
            return esc + "[" + std::to_string(below(rng, 128)) + ";" +
                   std::to_string(below(rng, 500)) + ";" + std::to_string(below(rng, 500)) + "M";
        case 7:  // bracketed paste of arbitrary text
            return esc + "[200~" + random_text(rng, unsafe, below(rng, 600)) + esc + "[201~";
        case 8:  // focus in and out
            return esc + (below(rng, 2) == 0 ? "[I" : "[O");
        case 9: {  // numbered keys with any modifier, in and out of range
            return esc + "[" + std::to_string(below(rng, 40)) + ";" +
                   std::to_string(below(rng, 20)) + "~$^@"[below(rng, 4)];
        }
        case 10:  // Alt with a byte
            return esc + pick(rng, unsafe + "[O]P_^X", 0x00, 0xFF);
        case 11:  // Alt with a sequence, Alt with Esc
            return esc + esc + (below(rng, 2) == 0 ? "[1;5A" : "x");
        case 12:  // Linux console function keys and what is not one
            return esc + "[[" + static_cast<char>(0x20 + below(rng, 0x5F));
        case 13: {  // parameters far too long
            std::string s = esc + "[";
            const int length = 500 + below(rng, 2000);
            for (int i = 0; i < length; ++i) s.push_back(below(rng, 10) == 0 ? ';' : '9');
            return s + "~";
        }
        case 14:  // a sequence cut short by a control byte
            return esc + "[1;" + pick(rng, unsafe, 0x00, 0x1F);
        default:  // 8-bit controls and text, one key per byte
            return random_text(rng, unsafe, 1 + below(rng, 8), 0x80, 0xFF);
    }
}

// ---------------------------------------------------------------------------------------------
// Hostile keyboard input

// A megabyte of random bytes, then a quarter of a megabyte of escape-led junk, then a lone ESC:
// the program takes all of it without crashing or hanging, and ends with status 0 on the ESC.
//
// The random megabyte holds no ESC. With ESCs in it, a run could end rightly before its end:
// the terminal hands over what is typed in pieces as the program reads, and an ESC that ends a
// piece, with nothing after it for a moment, is the Esc key; so are Alt + keypad digits that
// make 27. Typing fast narrows that window but cannot close it on a busy machine, and the test
// could not tell such an end from a fault. The junk that follows is where the ESCs are: whole
// sequences, typed in pieces that reach the program in one go (type_paced).
TEST(Fault, HostileKeyboardInputThenALoneEscEndsWithZero) {
    scratch_dir dir;
    program p;
    ASSERT_TRUE(start(&p, DSPHOST_FAKE_AUDIO_BINARY, fake_audio_options(dir)));
    ASSERT_TRUE(wait_polling(p)) << state_of(&p);
    ASSERT_TRUE(wait_lines(&p, 1)) << state_of(&p);
    termios modes{};
    ASSERT_TRUE(pty_modes(p.pty, &modes));
    const std::string unsafe = unsafe_bytes(modes);
    const int64_t base = bytes_read_by(p.pty.pid);
    ASSERT_GE(base, 0);

    std::mt19937 rng(20261207);
    const std::string noise = random_text(rng, unsafe, 1 << 20);
    ASSERT_TRUE(type_fast(&p, noise)) << "the program stopped taking keys; " << state_of(&p);
    ASSERT_TRUE(wait_taken(&p, base, static_cast<int64_t>(noise.size())))
        << "the program stopped reading; " << state_of(&p);
    ASSERT_TRUE(still_running(&p)) << "ended by random bytes: " << how_it_ended(p);

    std::vector<std::string> pieces(1);
    size_t junk_bytes = 0;
    while (junk_bytes < (1u << 18)) {
        const std::string sequence = escape_junk(rng, unsafe);
        if (pieces.back().size() + sequence.size() > 3000) pieces.emplace_back();
        pieces.back() += sequence;
        junk_bytes += sequence.size();
    }
    ASSERT_TRUE(type_paced(&p, base, static_cast<int64_t>(noise.size()), pieces))
        << "the program stopped reading; " << state_of(&p);
    ASSERT_TRUE(still_running(&p)) << "ended by escape sequences: " << how_it_ended(p);

    // Still at work: it prints the next line, and the terminal is still in its modes.
    ASSERT_TRUE(wait_lines(&p, count_of(p.screen, "%\r") + 1)) << state_of(&p);
    ASSERT_TRUE(pty_modes(p.pty, &modes));
    EXPECT_TRUE(program_modes_on(modes));
    parse_status(p.screen.substr(0, p.screen.rfind('\n') + 1),
                 terminal_line_end);  // nothing but status lines

    const int64_t esc_typed = now_ms();
    end_with_esc(&p);
    const int64_t esc_ms = now_ms() - esc_typed;
    const int64_t survived = static_cast<int64_t>(noise.size() + junk_bytes);
    std::printf(
        "hostile input survived: %lld bytes (%zu random, %zu escape-led in %zu pieces); "
        "ESC to exit %lld ms\n",
        static_cast<long long>(survived), noise.size(), junk_bytes, pieces.size(),
        static_cast<long long>(esc_ms));
    RecordProperty("hostile_bytes", std::to_string(survived));
}

// ---------------------------------------------------------------------------------------------
// A burst of keys

struct burst_row {
    const char* name;
    int three_at;  // where a character 3 (ends the program like ESC) sits in a burst typed
                   // before the program starts; -1: the burst comes while it runs, ESC last
    bool ends_at_once;
};

// Rows print as their names, in test listings too.
void PrintTo(const burst_row& row, std::ostream* out) {
    *out << row.name;
}

class KeyBurst : public testing::TestWithParam<burst_row> {};

// 600 keys pending at one poll: the queue keeps the newest 511 and drops the oldest 89. The
// character 3 shows which: among the oldest 89 it is dropped and the program runs on; as the
// oldest of the newest 511 it is the first key taken, before the first status line. And a
// burst that overflows the queue while the program runs never loses the ESC that ends it.
TEST_P(KeyBurst, KeepsTheNewest511) {
    const burst_row& row = GetParam();
    scratch_dir dir;
    std::string burst;
    for (int i = 0; i < 600; ++i)
        burst.push_back("abcdefghijklmnopqrstuvwxyz0123456789,./"[i % 39]);
    program p;
    if (row.three_at >= 0) {
        ASSERT_TRUE(pty_open(&p.pty));
        // Typed while the terminal neither echoes nor makes an interrupt of the 3, and hands
        // every byte over at once; the program takes the modes as they are and puts them back.
        termios modes{};
        ASSERT_TRUE(pty_modes(p.pty, &modes));
        modes.c_lflag &= ~static_cast<tcflag_t>(ISIG | ICANON | ECHO);
        ASSERT_EQ(tcsetattr(p.pty.master, TCSANOW, &modes), 0);
        ASSERT_TRUE(pty_modes(p.pty, &p.before));
        burst[static_cast<size_t>(row.three_at)] = '\x03';
        ASSERT_TRUE(pty_write(p.pty, burst));
        int pending = 0;
        for (const int64_t deadline = now_ms() + watchdog_ms; pending < 600 && now_ms() < deadline;
             usleep(1000)) {
            ASSERT_EQ(ioctl(p.pty.slave, FIONREAD, &pending), 0);
        }
        ASSERT_EQ(pending, 600);
        ASSERT_TRUE(pty_spawn(&p.pty, {DSPHOST_FAKE_AUDIO_BINARY}, fake_audio_options(dir)));
    } else {
        ASSERT_TRUE(start(&p, DSPHOST_FAKE_AUDIO_BINARY, fake_audio_options(dir)));
        ASSERT_TRUE(wait_polling(p)) << state_of(&p);
        ASSERT_TRUE(wait_lines(&p, 1)) << state_of(&p);
        burst.back() = '\x1b';
        ASSERT_TRUE(pty_write(p.pty, burst));
    }
    if (row.ends_at_once) {
        finish(&p);
        EXPECT_TRUE(exited_with(p, 0)) << how_it_ended(p);
        expect_ended_in_order(dir);
        if (row.three_at >= 0) {
            EXPECT_EQ(count_of(p.screen, "%\r"), 0u) << p.screen;
        }
        return;
    }
    ASSERT_TRUE(wait_lines(&p, 2)) << state_of(&p);
    ASSERT_TRUE(still_running(&p)) << how_it_ended(p);
    end_with_esc(&p);
}

const burst_row burst_rows[] = {
    {"three_among_the_oldest_89_is_dropped", 88, false},
    {"three_as_the_oldest_of_the_newest_511_ends_it", 89, true},
    {"esc_after_599_keys_while_running_ends_it", -1, true},
};

INSTANTIATE_TEST_SUITE_P(Fault, KeyBurst, testing::ValuesIn(burst_rows), row_names());

// ---------------------------------------------------------------------------------------------
// Output nobody can take

struct output_row {
    const char* name;
    bool pipe;  // a pipe whose reader goes away; otherwise /dev/full
};

// Rows print as their names, in test listings too.
void PrintTo(const output_row& row, std::ostream* out) {
    *out << row.name;
}

class OutputClosed : public testing::TestWithParam<output_row> {};

// Writes fail (EPIPE, ENOSPC): the program keeps running, keeps trying a line a second, says
// nothing on the terminal, and ESC still ends it with status 0.
TEST_P(OutputClosed, KeepsRunningAndEscEndsWithZero) {
    const output_row& row = GetParam();
    scratch_dir dir;
    pty_spawn_options options = fake_audio_options(dir);
    int ends[2] = {-1, -1};
    if (row.pipe) {
        ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        options.stdout_fd = ends[1];
    } else {
        options.stdout_path = "/dev/full";
    }
    program p;
    const bool started = start(&p, DSPHOST_FAKE_AUDIO_BINARY, options);
    if (row.pipe) close(ends[1]);
    ASSERT_TRUE(started);
    ASSERT_TRUE(wait_polling(p)) << state_of(&p);
    if (row.pipe) {
        // The reader takes the first line, then goes away.
        std::string first;
        for (const int64_t deadline = now_ms() + watchdog_ms;
             first.find("\r\n") == std::string::npos && now_ms() < deadline;) {
            pollfd in{ends[0], POLLIN, 0};
            char buffer[256];
            if (poll(&in, 1, 20) > 0) {
                const ssize_t got = read(ends[0], buffer, sizeof buffer);
                if (got <= 0) break;
                first.append(buffer, static_cast<size_t>(got));
            }
        }
        close(ends[0]);
        ASSERT_NE(first.find("hit ctrl-C or ESC key to exit"), std::string::npos) << first;
    }
    // Two more lines are due after the output closed: two more CPU-load queries.
    const size_t lines = calls_logged(dir, "Pa_GetStreamCpuLoad");
    const int64_t deadline = now_ms() + watchdog_ms;
    while (calls_logged(dir, "Pa_GetStreamCpuLoad") < lines + 2 && now_ms() < deadline) {
        p.screen += pty_read(&p.pty, 50);
    }
    EXPECT_GE(calls_logged(dir, "Pa_GetStreamCpuLoad"), lines + 2);
    ASSERT_TRUE(still_running(&p)) << how_it_ended(p);
    end_with_esc(&p);
    EXPECT_EQ(p.screen, "") << "the program must say nothing about its output";
    expect_ended_in_order(dir);
}

const output_row output_rows[] = {
    {"pipe_whose_reader_exits", true},
    {"dev_full", false},
};

INSTANTIATE_TEST_SUITE_P(Fault, OutputClosed, testing::ValuesIn(output_rows), row_names());

// ---------------------------------------------------------------------------------------------
// Every way out, and Ctrl+Z

enum class build { fake_audio, real_no_capture };

// The real program with a default device that cannot capture: opening the stream fails.
constexpr const char* no_capture_config = "pcm.!default { type asym playback.pcm { type null } }\n";

enum class action { type, send, close_terminal };

struct exit_row {
    const char* name;
    build binary;
    action act;
    const char* typed;  // action::type: the bytes typed on the terminal
    int sig;            // the signal sent or raised by the terminal; 0: the Esc key, status 0
    bool job_control;   // run as a job: SIGTSTP stops it, SIGCONT continues it
};

// Rows print as their names, in test listings too.
void PrintTo(const exit_row& row, std::ostream* out) {
    *out << row.name;
}

class ExitPath : public testing::TestWithParam<exit_row> {};

// Waits until the program, stopped as a job, is continued and polls again with the modes it
// had switched on before (compared with those, not with what the program computes).
void stop_and_continue(program* p, const termios& polling) {
    const pid_t job = pty_foreground_group(p->pty);
    ASSERT_GT(job, 0);
    ASSERT_NE(job, p->pty.pid);
    EXPECT_TRUE(pty_wait_modes(
        p->pty, [&](const termios& t) { return same_modes(t, p->before); }, watchdog_ms))
        << "the terminal is not as found while the program is stopped";
    bool stopped = false;
    for (const int64_t deadline = now_ms() + watchdog_ms; !stopped && now_ms() < deadline;
         usleep(1000)) {
        stopped = process_state(job) == 'T';
    }
    ASSERT_TRUE(stopped);
    ASSERT_TRUE(pty_signal(p->pty, SIGCONT));
    EXPECT_TRUE(pty_wait_modes(
        p->pty, [&](const termios& t) { return same_modes(t, polling); }, watchdog_ms))
        << "the program's modes are not back after it continued";
}

// Each way the program ends: by ESC with status 0, or by the signal's own default action
// (the wait status names the signal), and the terminal's modes are as found in every case.
// A stop signal stops a job with the terminal as found, and SIGCONT continues it; where the
// kernel does not stop the program (no job control), it carries on in its modes. Either way
// it then prints on and ESC ends it with status 0.
TEST_P(ExitPath, EndsAsItShouldWithTheTerminalAsFound) {
    const exit_row& row = GetParam();
    scratch_dir dir;
    pty_spawn_options options = fake_audio_options(dir);
    if (row.binary == build::real_no_capture) {
        options.environment = write_alsa_config_text(dir.path, no_capture_config);
        options.environment.push_back("TZ=UTC");
    }
    options.job_control = row.job_control;
    program p;
    ASSERT_TRUE(start(
        &p, row.binary == build::fake_audio ? DSPHOST_FAKE_AUDIO_BINARY : DSPHOST_BINARY, options));
    ASSERT_TRUE(wait_polling(p)) << state_of(&p);
    ASSERT_TRUE(wait_lines(&p, 1)) << state_of(&p);
    termios polling{};
    ASSERT_TRUE(pty_modes(p.pty, &polling));
    if (row.act == action::type) {
        ASSERT_TRUE(pty_write(p.pty, row.typed));
    } else if (row.act == action::send) {
        ASSERT_TRUE(pty_signal(p.pty, row.sig));
    } else {
        close(p.pty.master);  // the terminal's window is closed
        p.pty.master = -1;
    }
    if (row.sig == SIGTSTP) {
        if (row.job_control) {
            stop_and_continue(&p, polling);
        } else {
            usleep(200 * 1000);
            ASSERT_TRUE(still_running(&p)) << how_it_ended(p);
            EXPECT_TRUE(pty_wait_modes(
                p.pty, [&](const termios& t) { return same_modes(t, polling); }, watchdog_ms));
        }
        ASSERT_TRUE(wait_lines(&p, count_of(p.screen + pty_read(&p.pty, 0), "%\r") + 1))
            << state_of(&p);
        end_with_esc(&p);
        return;
    }
    finish(&p);
    if (row.sig == 0) {
        EXPECT_TRUE(exited_with(p, 0)) << how_it_ended(p);
        return;
    }
    const bool fault = row.sig == SIGSEGV || row.sig == SIGBUS || row.sig == SIGFPE ||
                       row.sig == SIGILL || row.sig == SIGABRT;
    if (sanitizer_build && fault && p.ended && WIFEXITED(p.status)) {
        EXPECT_NE(WEXITSTATUS(p.status), 0) << "the sanitizer's report ended it";
    } else {
        EXPECT_TRUE(killed_by(p, row.sig)) << how_it_ended(p);
    }
}

constexpr build fake = build::fake_audio;
constexpr build real = build::real_no_capture;
constexpr action type = action::type;
constexpr action send = action::send;

const exit_row exit_rows[] = {
    {"esc", fake, type, "\x1b", 0, false},
    {"ctrl_c", fake, type, "\x03", SIGINT, false},
    {"ctrl_backslash", fake, type, "\x1c", SIGQUIT, false},
    {"sigint", fake, send, nullptr, SIGINT, false},
    {"sigquit", fake, send, nullptr, SIGQUIT, false},
    {"sigterm", fake, send, nullptr, SIGTERM, false},
    {"sighup", fake, send, nullptr, SIGHUP, false},
    {"terminal_closed_hangs_up", fake, action::close_terminal, nullptr, SIGHUP, false},
    {"sigsegv", fake, send, nullptr, SIGSEGV, false},
    {"sigbus", fake, send, nullptr, SIGBUS, false},
    {"sigfpe", fake, send, nullptr, SIGFPE, false},
    {"sigill", fake, send, nullptr, SIGILL, false},
    {"sigabrt", fake, send, nullptr, SIGABRT, false},
    {"ctrl_z_then_sigcont", fake, type, "\x1a", SIGTSTP, true},
    {"sigtstp_then_sigcont", fake, send, nullptr, SIGTSTP, true},
    {"ctrl_z_without_job_control_carries_on", fake, type, "\x1a", SIGTSTP, false},
    {"real_esc", real, type, "\x1b", 0, false},
    {"real_ctrl_c", real, type, "\x03", SIGINT, false},
    {"real_sigterm", real, send, nullptr, SIGTERM, false},
    {"real_sighup", real, send, nullptr, SIGHUP, false},
    {"real_sigsegv", real, send, nullptr, SIGSEGV, false},
    {"real_ctrl_z_then_sigcont", real, type, "\x1a", SIGTSTP, true},
};

INSTANTIATE_TEST_SUITE_P(Fault, ExitPath, testing::ValuesIn(exit_rows), row_names());

// ---------------------------------------------------------------------------------------------
// No device, and a device that runs dry

enum class device { fake_open_fails, alsa_config, system };

struct device_row {
    const char* name;
    device kind;
    const char* config;    // device::alsa_config: the whole ALSA configuration
    const char* cpu_text;  // the CPU field every line must show; nullptr: any
};

// Rows print as their names, in test listings too.
void PrintTo(const device_row& row, std::ostream* out) {
    *out << row.name;
}

class NoAudioDevice : public testing::TestWithParam<device_row> {};

// Without a usable capture device opening the stream fails, and the program runs on: a line a
// second with counts 0 and the library's CPU figure, nothing from the audio libraries on the
// terminal (their standard error), and ESC ends it with status 0.
TEST_P(NoAudioDevice, RunsOnWithCountsZero) {
    const device_row& row = GetParam();
    scratch_dir dir;
    pty_spawn_options options;
    if (row.kind == device::fake_open_fails) {
        options =
            fake_audio_options(dir, {"DSPHOST_FAKE_PA_OPEN_FAIL=1", "DSPHOST_FAKE_PA_CPU=0.0312"});
    } else if (row.kind == device::alsa_config) {
        options.environment = write_alsa_config_text(dir.path, row.config);
    } else {
        options.environment = system_without_sound_server(dir.path);
    }
    options.environment.push_back("TZ=UTC");
    program p;
    ASSERT_TRUE(
        start(&p, row.kind == device::fake_open_fails ? DSPHOST_FAKE_AUDIO_BINARY : DSPHOST_BINARY,
              options));
    ASSERT_TRUE(wait_polling(p)) << state_of(&p);
    ASSERT_TRUE(wait_lines(&p, 2)) << state_of(&p);
    ASSERT_TRUE(still_running(&p)) << how_it_ended(p);
    end_with_esc(&p);
    const auto lines = parse_status(p.screen, terminal_line_end);
    ASSERT_GE(lines.size(), 2u) << p.screen;
    for (const auto& line : lines) {
        SCOPED_TRACE(line.clock);
        EXPECT_EQ(line.total, 0);
        EXPECT_EQ(line.since_last, 0);
        if (row.cpu_text != nullptr) {
            EXPECT_EQ(line.cpu, row.cpu_text);
        }
    }
}

const device_row device_rows[] = {
    {"opening_fails_under_the_stand_in", device::fake_open_fails, nullptr, " 3.12"},
    {"no_capture_device", device::alsa_config, no_capture_config, nullptr},
    {"missing_card", device::alsa_config, "pcm.!default { type hw card 7 }\n", nullptr},
    {"system_configuration_without_sound_server", device::system, nullptr, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Fault, NoAudioDevice, testing::ValuesIn(device_rows), row_names());

// The real program on a device whose capture file holds a tenth of a second, paced by a
// private sound server: long after the file ran out it still runs and prints a line a second.
TEST(Fault, CaptureFileRunsOutAndItRunsOn) {
    scratch_dir dir;
    private_pulse pulse;
    ASSERT_TRUE(start_private_pulse(&pulse, 15.0)) << pulse_log(pulse);
    std::vector<int16_t> input(800);
    for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<int16_t>(i * 37);
    const std::string in_file = dir.path + "/in.raw";
    ASSERT_TRUE(write_raw_samples(in_file, input));
    pty_spawn_options options;
    options.environment =
        write_alsa_config(dir.path, dir.path + "/played.raw", in_file, pulse.socket);
    options.environment.push_back("TZ=UTC");
    program p;
    ASSERT_TRUE(start(&p, DSPHOST_BINARY, options));
    ASSERT_TRUE(wait_polling(p)) << state_of(&p);
    ASSERT_TRUE(wait_lines(&p, 4)) << state_of(&p);
    ASSERT_TRUE(still_running(&p)) << how_it_ended(p);
    end_with_esc(&p);
    stop_private_pulse(&pulse);
    const auto lines = parse_status(p.screen, terminal_line_end);
    ASSERT_GE(lines.size(), 4u) << p.screen;
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(clock_step(lines[i - 1], lines[i]), 1) << lines[i].clock;
        EXPECT_GE(lines[i].total, lines[i - 1].total) << lines[i].clock;
        EXPECT_GE(lines[i].since_last, 0) << lines[i].clock;
    }
    std::printf("counts after the capture file ran out:");
    for (const auto& line : lines) std::printf(" %lld", static_cast<long long>(line.since_last));
    std::printf("\n");
}

// ---------------------------------------------------------------------------------------------
// A real minute

// A real minute at 8000 samples a second: one line per clock second, none missed, none twice,
// counts that only go up and about 8000 per full second, no more counted than the stand-in
// library delivered and every sample back unchanged through the effect, each line with the
// CPU figure the library gave for it, and resident memory flat after the first seconds (the
// loop allocates nothing that it keeps).
TEST(Fault, RealMinuteOneLinePerSecondFlatMemory) {
    scratch_dir dir;
    // The lines go to the terminal, as for a user: a file could make a write wait on the disk
    // when other work on the machine writes a lot, which would hold up the loop.
    const pty_spawn_options options = fake_audio_options(
        dir,
        {"DSPHOST_FAKE_PA_RATE=8000", "DSPHOST_FAKE_PA_CPU=0.0312,0,0.0999996,1.23456,-0.015"});
    program p;
    ASSERT_TRUE(start(&p, DSPHOST_FAKE_AUDIO_BINARY, options));
    const int64_t started = now_ms();
    ASSERT_TRUE(wait_polling(p)) << state_of(&p);
    struct sample {
        int64_t at_ms;
        int64_t kib = -1;
    };
    sample rss[] = {{1000}, {5000}, {30000}, {55000}, {60000}};
    for (sample& s : rss) {
        while (now_ms() - started < s.at_ms) {
            p.screen += pty_read(&p.pty, 100);
            ASSERT_TRUE(still_running(&p)) << how_it_ended(p);
        }
        s.kib = proc_figure(p.pty.pid, "status", "VmRSS");
        ASSERT_GT(s.kib, 0);
    }
    end_with_esc(&p);

    std::printf("VmRSS KiB:");
    for (const sample& s : rss) {
        std::printf(" %llds=%lld", static_cast<long long>(s.at_ms / 1000),
                    static_cast<long long>(s.kib));
        RecordProperty("rss_kib_" + std::to_string(s.at_ms / 1000) + "s", std::to_string(s.kib));
    }
    std::printf("\n");
    EXPECT_LE(std::llabs(rss[3].kib - rss[1].kib), 256) << "resident memory grew";
    EXPECT_LE(std::llabs(rss[4].kib - rss[1].kib), 256) << "resident memory grew";

    const auto lines = parse_status(p.screen, terminal_line_end);
    ASSERT_GE(lines.size(), 59u);
    const std::vector<std::string> cpu = {" 3.12", " 0.00", "10.00", "%123.46", "-1.50"};
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE("line " + std::to_string(i) + " " + lines[i].clock);
        EXPECT_EQ(lines[i].cpu, cpu[std::min(i, cpu.size() - 1)]);
        if (i == 0) continue;
        EXPECT_EQ(clock_step(lines[i - 1], lines[i]), 1);
        EXPECT_GE(lines[i].total, lines[i - 1].total);
        EXPECT_TRUE(i < 2 || lines[i].since_last > 0) << "the audio stopped";
        // Only the samples that arrive between two reads of the count may differ (100 ms).
        EXPECT_LE(lines[i].since_last, lines[i].total - lines[i - 1].total + 800);
    }
    // The first line comes at the start and the second at the end of that first, partial
    // second; from there on each line covers a whole second. One line may come late on a
    // loaded machine and the next early, so the rate is judged over all of them.
    const auto full_seconds = static_cast<int64_t>(lines.size() - 2);
    int64_t counted = 0;
    for (size_t i = 2; i < lines.size(); ++i) counted += lines[i].since_last;
    EXPECT_GT(counted, 7200 * full_seconds);
    EXPECT_LT(counted, 8800 * full_seconds);

    std::smatch m;
    const std::string log = read_file(dir.path + "/calls");
    ASSERT_TRUE(std::regex_search(log, m, std::regex(R"(delivered (\d+) mismatches (\d+))")));
    EXPECT_GE(std::stoll(m[1]), lines.back().total);
    EXPECT_EQ(m[2], "0") << "samples that did not come back unchanged through the effect";
}

}  // namespace
