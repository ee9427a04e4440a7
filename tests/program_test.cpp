// The real dsphost binary end to end, on a pseudo-terminal as a user runs it, with its
// output on the terminal or redirected. Most cases run the program built over the stand-in
// audio library (tests/fake_portaudio.cpp), which paces known samples, scripts the CPU
// figure and records the order of the audio calls; one runs the real PortAudio and ALSA.
// Every child runs under a watchdog.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/audio_env.h"
#include "tests/support/pty.h"

namespace {

constexpr int watchdog_ms = 20000;

struct scratch_dir {
    std::string path = make_temp_dir("dsphost-program");
    ~scratch_dir() { remove_temp_dir(path); }
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> read_lines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(read_file(path));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct status_line {
    std::string clock;
    int64_t total = 0;
    int64_t since_last = 0;
    std::string cpu;
};

// Splits status lines out of the bytes a run wrote. Every line must be complete and well
// formed; a terminal may add a CR of its own in front of the LF.
std::vector<status_line> parse_status(const std::string& bytes, bool exact_line_ends) {
    static const std::regex line_form(
        R"(hit ctrl-C or ESC key to exit (\d\d:\d\d:\d\d) (\d+) (-?\d+)([ -]\d\.\d\d|\d\d\.\d\d|%\S+)%)");
    std::vector<status_line> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find('\n', start);
        EXPECT_NE(end, std::string::npos) << "unterminated line: " << bytes.substr(start);
        if (end == std::string::npos) break;
        std::string line = bytes.substr(start, end - start);
        start = end + 1;
        if (exact_line_ends) {
            EXPECT_TRUE(!line.empty() && line.back() == '\r') << line;
        }
        while (!line.empty() && line.back() == '\r') line.pop_back();
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, line_form)) << "malformed: " << line;
        if (m.empty()) continue;
        lines.push_back({m[1], std::stoll(m[2]), std::stoll(m[3]), m[4]});
    }
    return lines;
}

int seconds_of_day(const std::string& clock) {
    return std::stoi(clock.substr(0, 2)) * 3600 + std::stoi(clock.substr(3, 2)) * 60 +
           std::stoi(clock.substr(6, 2));
}

// Runs one program on a fresh terminal and drives it through `drive`.
struct program_run {
    pty_session pty;
    termios before{};
    std::string screen;
    int status = -1;
    bool ended = false;
};

pty_spawn_options fake_audio_options(const std::string& log, std::vector<std::string> extra = {}) {
    pty_spawn_options options;
    options.environment = {"DSPHOST_FAKE_PA_LOG=" + log, "TZ=UTC"};
    for (auto& e : extra) options.environment.push_back(e);
    return options;
}

bool start(program_run* run, const std::string& binary, const pty_spawn_options& options) {
    if (!pty_open(&run->pty)) return false;
    pty_modes(run->pty, &run->before);
    return pty_spawn(&run->pty, {binary}, options);
}

void finish(program_run* run) {
    run->ended = pty_wait_exit(&run->pty, watchdog_ms, &run->status);
    run->screen += run->pty.unread;
    termios after{};
    ASSERT_TRUE(pty_modes(run->pty, &after));
    EXPECT_TRUE(same_modes(run->before, after)) << "terminal modes changed";
    pty_close(&run->pty);
}

bool exited_with(const program_run& run, int code) {
    return run.ended && WIFEXITED(run.status) && WEXITSTATUS(run.status) == code;
}

TEST(Program, EscBeforeTheClockChangesPrintsOneLineAndStopsInOrder) {
    scratch_dir dir;
    const std::string log = dir.path + "/calls";
    // A frozen wall clock: the second never changes. The monotonic clock that times a
    // lone ESC runs as usual.
    auto options = fake_audio_options(
        log, {"LD_PRELOAD=" DSPHOST_FAKETIME_LIBRARY, "FAKETIME=2026-12-07 12:34:56",
              "DONT_FAKE_MONOTONIC=1", "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"});
    program_run run;
    ASSERT_TRUE(start(&run, DSPHOST_FAKE_AUDIO_BINARY, options));
    ASSERT_TRUE(pty_read_until(&run.pty, "%\r", watchdog_ms, &run.screen));
    ASSERT_TRUE(pty_write(run.pty, "\x1b"));
    finish(&run);
    EXPECT_TRUE(exited_with(run, 0)) << run.status;

    const auto lines = parse_status(run.screen, false);
    ASSERT_EQ(lines.size(), 1u) << run.screen;
    EXPECT_EQ(lines[0].clock, "12:34:56");

    std::vector<std::string> calls;
    for (const auto& line : read_lines(log)) {
        if (line.rfind("Pa_", 0) == 0) calls.push_back(line);
    }
    const std::vector<std::string> expected = {
        "Pa_Initialize", "Pa_OpenDefaultStream", "Pa_StartStream", "Pa_GetStreamCpuLoad",
        "Pa_StopStream", "Pa_CloseStream",       "Pa_Terminate"};
    EXPECT_EQ(calls, expected);
}

// Keys other than ESC are consumed and ignored, extended keys and Alt+Esc included; a
// character 3 typed ahead while the terminal did not turn it into an interrupt ends the
// program in order like ESC.
TEST(Program, OnlyEscOrCharacterThreeEndInOrder) {
    scratch_dir dir;
    const std::string log = dir.path + "/calls";
    program_run run;
    ASSERT_TRUE(start(&run, DSPHOST_FAKE_AUDIO_BINARY, fake_audio_options(log)));
    ASSERT_TRUE(pty_read_until(&run.pty, "%\r", watchdog_ms, &run.screen));
    ASSERT_TRUE(pty_write(run.pty, "a\r\x1bOP\x1b[A\x1b[15;5~\x1bx\x1b\x1b\x7f\t\x1b[200~"));
    // Still running a while later: it goes on printing.
    std::string more;
    EXPECT_TRUE(pty_read_until(&run.pty, "exit", 2500, &more));
    run.screen += more;
    EXPECT_TRUE(pty_write(run.pty, "\x1b"));
    finish(&run);
    EXPECT_TRUE(exited_with(run, 0)) << run.status;
}

TEST(Program, CharacterThreeTypedAheadEndsInOrder) {
    scratch_dir dir;
    const std::string log = dir.path + "/calls";
    program_run run;
    ASSERT_TRUE(pty_open(&run.pty));
    // The terminal does not make an interrupt of it yet, so the byte waits as input.
    termios modes{};
    ASSERT_TRUE(pty_modes(run.pty, &modes));
    modes.c_lflag &= ~static_cast<tcflag_t>(ISIG | ICANON);
    ASSERT_EQ(tcsetattr(run.pty.master, TCSANOW, &modes), 0);
    ASSERT_TRUE(pty_modes(run.pty, &run.before));
    ASSERT_TRUE(pty_write(run.pty, "\x03"));
    ASSERT_TRUE(pty_spawn(&run.pty, {DSPHOST_FAKE_AUDIO_BINARY}, fake_audio_options(log)));
    finish(&run);
    EXPECT_TRUE(exited_with(run, 0)) << run.status;
    const std::string calls = read_file(log);
    EXPECT_NE(calls.find("Pa_StopStream\n"), std::string::npos) << calls;
    EXPECT_NE(calls.find("Pa_Terminate\n"), std::string::npos) << calls;
}

// One line per second of the real clock, none twice, none skipped; the counts follow what
// the stand-in library delivered; each line shows the scripted CPU figure.
TEST(Program, OneLinePerSecondWithTheDeliveredCounts) {
    scratch_dir dir;
    const std::string log = dir.path + "/calls";
    const std::string out = dir.path + "/out";
    auto options = fake_audio_options(
        log,
        {"DSPHOST_FAKE_PA_RATE=1000", "DSPHOST_FAKE_PA_CPU=0.0312,0,0.0999996,1.23456,-0.015"});
    options.stdout_path = out;
    program_run run;
    ASSERT_TRUE(start(&run, DSPHOST_FAKE_AUDIO_BINARY, options));
    usleep(4500 * 1000);
    ASSERT_TRUE(pty_write(run.pty, "\x1b"));
    finish(&run);
    EXPECT_TRUE(exited_with(run, 0)) << run.status;
    EXPECT_EQ(run.screen, "") << "nothing but the status lines, and those in the file";

    const auto lines = parse_status(read_file(out), true);
    ASSERT_GE(lines.size(), 4u);
    const std::vector<std::string> cpu = {" 3.12", " 0.00", "10.00", "%123.46", "-1.50"};
    int64_t previous_total = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE("line " + std::to_string(i));
        EXPECT_EQ(lines[i].cpu, cpu[std::min(i, cpu.size() - 1)]);
        EXPECT_GE(lines[i].total, previous_total);
        EXPECT_GE(lines[i].since_last, 0);
        if (i > 0) {
            EXPECT_EQ(seconds_of_day(lines[i].clock),
                      (seconds_of_day(lines[i - 1].clock) + 1) % 86400);
            // Only the samples that arrive between two reads of the count may differ.
            EXPECT_LE(lines[i].since_last, lines[i].total - lines[i - 1].total + 100);
        }
        previous_total = lines[i].total;
    }
    // The first line comes at start-up and the second at the next turn of the second; from
    // there on the lines cover whole seconds at 1000 samples a second. One line may come
    // late on a loaded machine and the next early, so the rate is judged over all of them.
    const auto full_seconds = static_cast<int64_t>(lines.size() - 2);
    int64_t counted = 0;
    for (size_t i = 2; i < lines.size(); ++i) counted += lines[i].since_last;
    EXPECT_GT(counted, 700 * full_seconds);
    EXPECT_LT(counted, 1300 * full_seconds);

    const std::string calls = read_file(log);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(calls, m, std::regex(R"(delivered (\d+) mismatches (\d+))")));
    EXPECT_GE(std::stoll(m[1]), lines.back().total);
    EXPECT_EQ(m[2], "0") << "samples that did not come back unchanged through the effect";
}

// A clock that runs ten times too fast across midnight still gives one line per distinct
// time of day, in order.
TEST(Program, FastClockAcrossMidnight) {
    scratch_dir dir;
    const std::string log = dir.path + "/calls";
    const std::string out = dir.path + "/out";
    auto options = fake_audio_options(
        log, {"LD_PRELOAD=" DSPHOST_FAKETIME_LIBRARY, "FAKETIME=@2026-12-07 23:59:52 x10",
              "DONT_FAKE_MONOTONIC=1", "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0"});
    options.stdout_path = out;
    program_run run;
    ASSERT_TRUE(start(&run, DSPHOST_FAKE_AUDIO_BINARY, options));
    usleep(2000 * 1000);
    ASSERT_TRUE(pty_write(run.pty, "\x1b"));
    finish(&run);
    EXPECT_TRUE(exited_with(run, 0)) << run.status;

    const auto lines = parse_status(read_file(out), true);
    ASSERT_GE(lines.size(), 12u);
    bool crossed = false;
    for (size_t i = 1; i < lines.size(); ++i) {
        const int step =
            (seconds_of_day(lines[i].clock) - seconds_of_day(lines[i - 1].clock) + 86400) % 86400;
        EXPECT_GE(step, 1) << lines[i - 1].clock << " -> " << lines[i].clock;
        // A pass of the loop that is held up past a whole fake second skips that second.
        EXPECT_LE(step, 10) << lines[i - 1].clock << " -> " << lines[i].clock;
        crossed = crossed || lines[i].clock.rfind("00:00:0", 0) == 0;
    }
    EXPECT_TRUE(crossed);
}

// Without a device the program runs on: counts 0, the library's CPU figure, ESC ends it.
TEST(Program, OpeningFailsAndItRunsOn) {
    scratch_dir dir;
    const std::string log = dir.path + "/calls";
    program_run run;
    ASSERT_TRUE(start(
        &run, DSPHOST_FAKE_AUDIO_BINARY,
        fake_audio_options(log, {"DSPHOST_FAKE_PA_OPEN_FAIL=1", "DSPHOST_FAKE_PA_CPU=0.0312"})));
    std::string screen;
    ASSERT_TRUE(pty_read_until(&run.pty, "%\r", watchdog_ms, &screen));
    std::string more;
    ASSERT_TRUE(pty_read_until(&run.pty, "%\r", 3000, &more));
    run.screen = screen + more;
    ASSERT_TRUE(pty_write(run.pty, "\x1b"));
    finish(&run);
    EXPECT_TRUE(exited_with(run, 0)) << run.status;
    const auto lines = parse_status(run.screen.substr(0, run.screen.rfind('\n') + 1), false);
    ASSERT_GE(lines.size(), 2u);
    for (const auto& line : lines) {
        EXPECT_EQ(line.total, 0);
        EXPECT_EQ(line.since_last, 0);
        EXPECT_EQ(line.cpu, " 3.12");
    }
}

// Standard input that is not a terminal is never read: no key ends the program, a
// termination request does, and the terminal it was started from is left as it was.
TEST(Program, InputFromDevNullEndsBySigterm) {
    scratch_dir dir;
    auto options = fake_audio_options(dir.path + "/calls");
    options.stdin_null = true;
    program_run run;
    ASSERT_TRUE(start(&run, DSPHOST_FAKE_AUDIO_BINARY, options));
    ASSERT_TRUE(pty_read_until(&run.pty, "%\r", watchdog_ms, &run.screen));
    ASSERT_TRUE(pty_write(run.pty, "\x1b"));
    std::string more;
    ASSERT_TRUE(pty_read_until(&run.pty, "%\r", 3000, &more));
    ASSERT_TRUE(pty_signal(run.pty, SIGTERM));
    finish(&run);
    EXPECT_TRUE(run.ended && WIFSIGNALED(run.status) && WTERMSIG(run.status) == SIGTERM)
        << run.status;
}

// The real PortAudio and ALSA at the real pace through a private sound server: the played
// samples are the input samples through the pass-through effect, and a full second counts
// about 8000 samples. The redirected output holds the status lines and nothing else.
TEST(Program, RealAudioAtTheRealPace) {
    scratch_dir dir;
    private_pulse pulse;
    ASSERT_TRUE(start_private_pulse(&pulse, 15.0)) << pulse_log(pulse);
    std::vector<int16_t> input(8000 * 20);
    for (size_t i = 0; i < input.size(); ++i) {
        input[i] = static_cast<int16_t>(static_cast<int64_t>((i * 40503 + 7) % 65536) - 32768);
    }
    const std::string in_file = dir.path + "/in.raw";
    const std::string played = dir.path + "/played.raw";
    const std::string out = dir.path + "/out";
    ASSERT_TRUE(write_raw_samples(in_file, input));
    pty_spawn_options options;
    for (const auto& [name, value] : write_alsa_config(dir.path, played, in_file, pulse.socket)) {
        options.environment.push_back(name + "=" + value);
    }
    options.stdout_path = out;
    program_run run;
    ASSERT_TRUE(start(&run, DSPHOST_BINARY, options));
    usleep(4500 * 1000);
    ASSERT_TRUE(pty_write(run.pty, "\x1b"));
    finish(&run);
    stop_private_pulse(&pulse);
    EXPECT_TRUE(exited_with(run, 0)) << run.status;
    EXPECT_EQ(run.screen, "");

    const auto lines = parse_status(read_file(out), true);
    ASSERT_GE(lines.size(), 4u);
    // Lines from the third on cover whole seconds (see above).
    const auto full_seconds = static_cast<int64_t>(lines.size() - 2);
    int64_t counted = 0;
    for (size_t i = 2; i < lines.size(); ++i) counted += lines[i].since_last;
    EXPECT_GT(counted, 7000 * full_seconds);
    EXPECT_LT(counted, 9000 * full_seconds);
    const std::vector<int16_t> output = read_raw_samples(played);
    ASSERT_GT(output.size(), 8000u);
    const int64_t compare = static_cast<int64_t>(output.size()) - 4096;
    EXPECT_GE(find_sample_offset(output, input, compare, 4096), 0)
        << "played samples are not the input samples";
}

}  // namespace
