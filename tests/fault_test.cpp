// Faults from outside, against the real program on a pseudo-terminal: hostile keyboard input,
// a burst of keys, output nobody can take, every signal that ends or stops it, a missing or
// exhausted audio device, a clock that races through a day, and a real minute of running.
// Most cases run the program built over the stand-in audio library (its own thread calls the
// sample callback 8000 times a second); the device cases run the real PortAudio and ALSA.
// Every child runs under a watchdog, and every case has its own terminal and scratch space.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/audio_env.h"
#include "tests/support/pty.h"

namespace {

constexpr int watchdog_ms = 20000;

// Under a sanitizer a fault signal is reported by the sanitizer's own handler, which the
// program passes it on to; the process then exits with an error status instead.
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

int64_t now_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

struct scratch_dir {
    std::string path = make_temp_dir("dsphost-fault");
    ~scratch_dir() { remove_temp_dir(path); }
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t count_of(std::string_view text, std::string_view needle) {
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string_view::npos;
         at = text.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

// ---------------------------------------------------------------------------------------------
// Status lines

struct status_line {
    std::string clock;
    int64_t total = 0;
    int64_t since_last = 0;
};

// The complete status lines in bytes (an unfinished last line is left out). Every complete
// line must be a well-formed status line: nothing else may reach the screen or the file.
std::vector<status_line> parse_status(const std::string& bytes) {
    static const std::regex line_form(
        R"(hit ctrl-C or ESC key to exit (\d\d:\d\d:\d\d) (\d+) (-?\d+)([ -]\d\.\d\d|\d\d\.\d\d|%\S+)%)");
    std::vector<status_line> lines;
    size_t start = 0;
    for (size_t end = bytes.find('\n'); end != std::string::npos;
         start = end + 1, end = bytes.find('\n', start)) {
        std::string line = bytes.substr(start, end - start);
        while (!line.empty() && line.back() == '\r') line.pop_back();
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, line_form)) << "not a status line: " << line;
        if (m.empty()) continue;
        lines.push_back({m[1], std::stoll(m[2]), std::stoll(m[3])});
    }
    return lines;
}

int seconds_of_day(const std::string& clock) {
    return std::stoi(clock.substr(0, 2)) * 3600 + std::stoi(clock.substr(3, 2)) * 60 +
           std::stoi(clock.substr(6, 2));
}

// Seconds from one clock string to the next, across midnight.
int clock_step(const status_line& from, const status_line& to) {
    return (seconds_of_day(to.clock) - seconds_of_day(from.clock) + 86400) % 86400;
}

// ---------------------------------------------------------------------------------------------
// The program on its terminal

struct program {
    pty_session pty;
    termios before{};    // the terminal's modes as the program found them
    std::string screen;  // everything the terminal showed
    bool ended = false;
    int status = -1;
    ~program() { pty_close(&pty); }
};

pty_spawn_options fake_audio_options(const scratch_dir& dir, std::vector<std::string> extra = {}) {
    pty_spawn_options options;
    options.environment = {"DSPHOST_FAKE_PA_LOG=" + dir.path + "/calls", "TZ=UTC"};
    options.environment.insert(options.environment.end(), extra.begin(), extra.end());
    return options;
}

void add_environment(pty_spawn_options* options, const env_list& env) {
    for (const auto& [name, value] : env) options->environment.push_back(name + "=" + value);
}

// The real program with a default device that cannot capture: opening the stream fails.
pty_spawn_options no_capture_options(const scratch_dir& dir) {
    pty_spawn_options options;
    options.environment = {"TZ=UTC"};
    add_environment(&options,
                    write_alsa_config_text(
                        dir.path, "pcm.!default { type asym playback.pcm { type null } }\n"));
    return options;
}

bool start(program* p, const std::string& binary, const pty_spawn_options& options) {
    return pty_open(&p->pty) && pty_modes(p->pty, &p->before) &&
           pty_spawn(&p->pty, {binary}, options);
}

bool program_modes_on(const termios& t) {
    return (t.c_lflag & ICANON) == 0;
}

// Waits until the program has switched the terminal to its modes: its first key poll.
bool wait_polling(const program& p) {
    return pty_wait_modes(p.pty, program_modes_on, watchdog_ms);
}

// Waits until the screen shows at least n status lines.
bool wait_lines(program* p, size_t n, int timeout_ms = watchdog_ms) {
    const int64_t deadline = now_ms() + timeout_ms;
    while (count_of(p->screen, "%\r") < n) {
        if (now_ms() >= deadline) return false;
        p->screen += pty_read(&p->pty, 20);
    }
    return true;
}

// Whether the program still runs; reaps it (and keeps its status) when it has ended.
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

// Waits for the end (the watchdog kills a program that outlives it), takes the rest of the
// screen and, while the terminal is still there, compares its modes with those found.
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

std::string how_it_ended(const program& p) {
    if (!p.ended) return "still running, or killed by the watchdog";
    if (WIFEXITED(p.status)) return "exit status " + std::to_string(WEXITSTATUS(p.status));
    if (WIFSIGNALED(p.status)) {
        return "signal " + std::to_string(WTERMSIG(p.status)) + " (" +
               strsignal(WTERMSIG(p.status)) + ")";
    }
    return "wait status " + std::to_string(p.status);
}

// For failure messages: how the program stands now, and what the terminal showed.
std::string state_of(program* p) {
    const bool running = still_running(p);
    p->screen += pty_read(&p->pty, 0);
    return (running ? std::string("running") : how_it_ended(*p)) + "; screen: " + p->screen;
}

bool exited_with(const program& p, int code) {
    return p.ended && WIFEXITED(p.status) && WEXITSTATUS(p.status) == code;
}

// Ends the program with a lone ESC, as the user does, and checks status 0.
void end_with_esc(program* p) {
    ASSERT_TRUE(pty_write(p->pty, "\x1b"));
    finish(p);
    EXPECT_TRUE(exited_with(*p, 0)) << how_it_ended(*p);
}

// Lines of the stand-in library's call log that are exactly `call`.
size_t calls_logged(const scratch_dir& dir, const std::string& call) {
    std::istringstream log(read_file(dir.path + "/calls"));
    size_t count = 0;
    for (std::string line; std::getline(log, line);) count += line == call ? 1 : 0;
    return count;
}

// The program's resident memory in KiB (VmRSS), -1 when unknown.
long resident_kib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

// Bytes the process has taken with read() so far (rchar), -1 when unknown.
int64_t bytes_read_by(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    for (std::string line; std::getline(io, line);) {
        if (line.rfind("rchar:", 0) == 0) return std::atoll(line.c_str() + 6);
    }
    return -1;
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
    parse_status(p.screen.substr(0, p.screen.rfind('\n') + 1));  // nothing but status lines

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

INSTANTIATE_TEST_SUITE_P(Fault, KeyBurst, testing::ValuesIn(burst_rows),
                         [](const testing::TestParamInfo<burst_row>& info) {
                             return std::string(info.param.name);
                         });

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
    EXPECT_EQ(calls_logged(dir, "Pa_Terminate"), 1u) << "ended in order";
}

const output_row output_rows[] = {
    {"pipe_whose_reader_exits", true},
    {"dev_full", false},
};

INSTANTIATE_TEST_SUITE_P(Fault, OutputClosed, testing::ValuesIn(output_rows),
                         [](const testing::TestParamInfo<output_row>& info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------------------------
// Every way out, and Ctrl+Z

enum class build { fake_audio, real_no_capture };

struct exit_row {
    const char* name;
    build binary;
    const char* typed;  // bytes typed on the terminal, or nullptr: `sig` is sent to the program
    int sig;            // the signal that ends it; 0: ESC, status 0
    bool stops;         // SIGTSTP: it stops, continues on SIGCONT, and ESC then ends it
};

// Rows print as their names, in test listings too.
void PrintTo(const exit_row& row, std::ostream* out) {
    *out << row.name;
}

class ExitPath : public testing::TestWithParam<exit_row> {};

// Each way the program ends: by ESC with status 0, or by the signal's own default action
// (the wait status names the signal), and the terminal's modes are as found in every case.
TEST_P(ExitPath, EndsAsItShouldWithTheTerminalAsFound) {
    const exit_row& row = GetParam();
    scratch_dir dir;
    pty_spawn_options options =
        row.binary == build::fake_audio ? fake_audio_options(dir) : no_capture_options(dir);
    options.job_control = row.stops;
    program p;
    ASSERT_TRUE(start(
        &p, row.binary == build::fake_audio ? DSPHOST_FAKE_AUDIO_BINARY : DSPHOST_BINARY, options));
    ASSERT_TRUE(wait_polling(p)) << state_of(&p);
    ASSERT_TRUE(wait_lines(&p, 1)) << state_of(&p);
    if (row.typed != nullptr) {
        ASSERT_TRUE(pty_write(p.pty, row.typed));
    } else {
        ASSERT_TRUE(pty_signal(p.pty, row.sig));
    }
    if (row.stops) {
        const pid_t job = pty_foreground_group(p.pty);
        ASSERT_GT(job, 0);
        ASSERT_NE(job, p.pty.pid);
        EXPECT_TRUE(pty_wait_modes(
            p.pty, [&](const termios& t) { return same_modes(t, p.before); }, watchdog_ms))
            << "the terminal is not as found while the program is stopped";
        bool stopped = false;
        for (const int64_t deadline = now_ms() + watchdog_ms; !stopped && now_ms() < deadline;
             usleep(1000)) {
            stopped = process_state(job) == 'T';
        }
        ASSERT_TRUE(stopped);
        const size_t lines = count_of(p.screen + pty_read(&p.pty, 0), "%\r");
        ASSERT_TRUE(pty_signal(p.pty, SIGCONT));
        ASSERT_TRUE(wait_polling(p)) << state_of(&p);
        ASSERT_TRUE(wait_lines(&p, lines + 1)) << state_of(&p);
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
        EXPECT_TRUE(p.ended && WIFSIGNALED(p.status) && WTERMSIG(p.status) == row.sig)
            << how_it_ended(p);
    }
}

const exit_row exit_rows[] = {
    {"esc", build::fake_audio, "\x1b", 0, false},
    {"ctrl_c", build::fake_audio, "\x03", SIGINT, false},
    {"ctrl_backslash", build::fake_audio, "\x1c", SIGQUIT, false},
    {"sigint", build::fake_audio, nullptr, SIGINT, false},
    {"sigquit", build::fake_audio, nullptr, SIGQUIT, false},
    {"sigterm", build::fake_audio, nullptr, SIGTERM, false},
    {"sighup", build::fake_audio, nullptr, SIGHUP, false},
    {"sigsegv", build::fake_audio, nullptr, SIGSEGV, false},
    {"sigbus", build::fake_audio, nullptr, SIGBUS, false},
    {"sigfpe", build::fake_audio, nullptr, SIGFPE, false},
    {"sigill", build::fake_audio, nullptr, SIGILL, false},
    {"sigabrt", build::fake_audio, nullptr, SIGABRT, false},
    {"ctrl_z_then_sigcont", build::fake_audio, "\x1a", SIGTSTP, true},
    {"sigtstp_then_sigcont", build::fake_audio, nullptr, SIGTSTP, true},
    {"real_esc", build::real_no_capture, "\x1b", 0, false},
    {"real_ctrl_c", build::real_no_capture, "\x03", SIGINT, false},
    {"real_sigterm", build::real_no_capture, nullptr, SIGTERM, false},
    {"real_sighup", build::real_no_capture, nullptr, SIGHUP, false},
    {"real_sigsegv", build::real_no_capture, nullptr, SIGSEGV, false},
    {"real_ctrl_z_then_sigcont", build::real_no_capture, "\x1a", SIGTSTP, true},
};

INSTANTIATE_TEST_SUITE_P(Fault, ExitPath, testing::ValuesIn(exit_rows),
                         [](const testing::TestParamInfo<exit_row>& info) {
                             return std::string(info.param.name);
                         });

// The terminal goes away (its window is closed): the program ends by the hang-up signal.
TEST(Fault, TerminalClosedEndsByHangup) {
    scratch_dir dir;
    program p;
    ASSERT_TRUE(start(&p, DSPHOST_FAKE_AUDIO_BINARY, fake_audio_options(dir)));
    ASSERT_TRUE(wait_polling(p)) << state_of(&p);
    ASSERT_TRUE(wait_lines(&p, 1)) << state_of(&p);
    close(p.pty.master);
    p.pty.master = -1;
    finish(&p);
    EXPECT_TRUE(p.ended && WIFSIGNALED(p.status) && WTERMSIG(p.status) == SIGHUP)
        << how_it_ended(p);
}

// ---------------------------------------------------------------------------------------------
// No device, and a device that runs dry

struct device_row {
    const char* name;
    const char* config;  // the whole ALSA configuration; nullptr: the system's own
};

// Rows print as their names, in test listings too.
void PrintTo(const device_row& row, std::ostream* out) {
    *out << row.name;
}

class NoAudioDevice : public testing::TestWithParam<device_row> {};

// The real program without a usable capture device: it runs on, a line a second with counts
// 0, nothing from the audio libraries on the terminal, and ESC ends it with status 0.
TEST_P(NoAudioDevice, RunsOnWithCountsZero) {
    const device_row& row = GetParam();
    scratch_dir dir;
    pty_spawn_options options;
    options.environment = {"TZ=UTC"};
    if (row.config != nullptr) {
        add_environment(&options, write_alsa_config_text(dir.path, row.config));
    } else {
        // The system's configuration, with no sound card here and no sound server to find.
        add_environment(&options, isolated_system_env(dir.path));
        options.environment.push_back("ALSA_CONFIG_PATH=/usr/share/alsa/alsa.conf");
        options.environment.push_back("PULSE_SERVER=unix:" + dir.path + "/no-server");
        options.environment.push_back("JACK_NO_START_SERVER=1");
        // The PulseAudio client library that the system's configuration loads (to find no
        // server) is not instrumented; ThreadSanitizer takes its hand-overs for races.
        const char* tsan = std::getenv("TSAN_OPTIONS");
        options.environment.push_back(std::string("TSAN_OPTIONS=") + (tsan != nullptr ? tsan : "") +
                                      ":suppressions=" DSPHOST_PULSE_TSAN_SUPPRESSIONS);
        // ALSA's plugin modules keep a few allocations that become unreachable when it
        // unloads them at exit; not this program's memory.
        const char* asan = std::getenv("ASAN_OPTIONS");
        options.environment.push_back(std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") +
                                      ":detect_leaks=0");
    }
    program p;
    ASSERT_TRUE(start(&p, DSPHOST_BINARY, options));
    ASSERT_TRUE(wait_polling(p)) << state_of(&p);
    ASSERT_TRUE(wait_lines(&p, 2)) << state_of(&p);
    ASSERT_TRUE(still_running(&p)) << how_it_ended(p);
    end_with_esc(&p);
    const auto lines = parse_status(p.screen);
    ASSERT_GE(lines.size(), 2u) << p.screen;
    for (const auto& line : lines) {
        EXPECT_EQ(line.total, 0) << line.clock;
        EXPECT_EQ(line.since_last, 0) << line.clock;
    }
}

const device_row device_rows[] = {
    {"no_capture_device", "pcm.!default { type asym playback.pcm { type null } }\n"},
    {"missing_card", "pcm.!default { type hw card 7 }\n"},
    {"system_configuration_without_sound_server", nullptr},
};

INSTANTIATE_TEST_SUITE_P(Fault, NoAudioDevice, testing::ValuesIn(device_rows),
                         [](const testing::TestParamInfo<device_row>& info) {
                             return std::string(info.param.name);
                         });

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
    options.environment = {"TZ=UTC"};
    add_environment(&options,
                    write_alsa_config(dir.path, dir.path + "/played.raw", in_file, pulse.socket));
    program p;
    ASSERT_TRUE(start(&p, DSPHOST_BINARY, options));
    ASSERT_TRUE(wait_polling(p)) << state_of(&p);
    ASSERT_TRUE(wait_lines(&p, 4)) << state_of(&p);
    ASSERT_TRUE(still_running(&p)) << how_it_ended(p);
    end_with_esc(&p);
    stop_private_pulse(&pulse);
    const auto lines = parse_status(p.screen);
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
// Long runs

// A wall clock 17280 times too fast: a day passes in five seconds, midnight at half time. The
// loop cannot print every second now, but each line still has a time of its own, later than
// the line before; the counts never go back.
TEST(Fault, SimulatedDayOneLinePerDistinctClockInOrder) {
    scratch_dir dir;
    const std::string out = dir.path + "/out";
    pty_spawn_options options = fake_audio_options(
        dir, {"LD_PRELOAD=" DSPHOST_FAKETIME_LIBRARY, "FAKETIME=@2026-12-07 12:00:00 x17280",
              "DONT_FAKE_MONOTONIC=1", "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"});
    options.stdout_path = out;
    program p;
    ASSERT_TRUE(start(&p, DSPHOST_FAKE_AUDIO_BINARY, options));
    ASSERT_TRUE(wait_polling(p)) << state_of(&p);
    usleep(4500 * 1000);  // about 21.6 hours of the fast clock
    end_with_esc(&p);

    const auto lines = parse_status(read_file(out));
    ASSERT_GE(lines.size(), 100u);
    int midnights = 0;
    int covered = 0;
    std::set<std::string> clocks;
    for (size_t i = 0; i < lines.size(); ++i) {
        clocks.insert(lines[i].clock);
        if (i == 0) continue;
        const int step = clock_step(lines[i - 1], lines[i]);
        EXPECT_GE(step, 1) << "line " << i << ": " << lines[i - 1].clock << " -> "
                           << lines[i].clock;
        midnights += seconds_of_day(lines[i].clock) < seconds_of_day(lines[i - 1].clock) ? 1 : 0;
        covered += step;
        EXPECT_GE(lines[i].total, lines[i - 1].total) << "line " << i;
        EXPECT_GE(lines[i].since_last, 0) << "line " << i;
    }
    EXPECT_EQ(clocks.size(), lines.size()) << "a time of day shown twice";
    EXPECT_EQ(midnights, 1);
    EXPECT_GT(covered, 12 * 3600) << "the clock did not run through most of a day";
    EXPECT_LT(covered, 24 * 3600);
    std::printf("simulated day: %zu lines over %d simulated seconds, %s to %s\n", lines.size(),
                covered, lines.front().clock.c_str(), lines.back().clock.c_str());
}

// A real minute at 8000 samples a second: one line per clock second, none missed, none twice,
// counts that only go up and about 8000 per full second, and resident memory flat after the
// first seconds (the loop allocates nothing that it keeps).
TEST(Fault, RealMinuteOneLinePerSecondFlatMemory) {
    scratch_dir dir;
    // The lines go to the terminal, as for a user: a file could make a write wait on the disk
    // when other work on the machine writes a lot, which would hold up the loop.
    const pty_spawn_options options = fake_audio_options(dir, {"DSPHOST_FAKE_PA_RATE=8000"});
    program p;
    ASSERT_TRUE(start(&p, DSPHOST_FAKE_AUDIO_BINARY, options));
    const int64_t started = now_ms();
    ASSERT_TRUE(wait_polling(p)) << state_of(&p);
    struct sample {
        int64_t at_ms;
        long kib = -1;
    };
    sample rss[] = {{1000}, {5000}, {30000}, {55000}, {60000}};
    for (sample& s : rss) {
        while (now_ms() - started < s.at_ms) {
            p.screen += pty_read(&p.pty, 100);
            ASSERT_TRUE(still_running(&p)) << how_it_ended(p);
        }
        s.kib = resident_kib(p.pty.pid);
        ASSERT_GT(s.kib, 0);
    }
    end_with_esc(&p);

    std::printf("VmRSS KiB:");
    for (const sample& s : rss) {
        std::printf(" %llds=%ld", static_cast<long long>(s.at_ms / 1000), s.kib);
        RecordProperty("rss_kib_" + std::to_string(s.at_ms / 1000) + "s", std::to_string(s.kib));
    }
    std::printf("\n");
    EXPECT_LE(std::labs(rss[3].kib - rss[1].kib), 256) << "resident memory grew";
    EXPECT_LE(std::labs(rss[4].kib - rss[1].kib), 256) << "resident memory grew";

    const auto lines = parse_status(p.screen);
    ASSERT_GE(lines.size(), 59u);
    for (size_t i = 1; i < lines.size(); ++i) {
        SCOPED_TRACE("line " + std::to_string(i) + " " + lines[i].clock);
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
}

}  // namespace
