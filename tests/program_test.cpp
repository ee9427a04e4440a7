// The real dsphost binary end to end, on a pseudo-terminal as a user runs it, with its
// output on the terminal or redirected: the orderly end, input that is no terminal, real
// audio at the real pace, and wall clocks that run fast. The faults from outside (keys,
// signals, output, devices, long runs) are in fault_test.cpp. Every child runs under a
// watchdog.
#include "tests/support/program.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "tests/support/audio_env.h"

namespace {

// On the terminal every line end shows as CR CR LF (the terminal adds a CR to the LF).
constexpr const char* file_line_end = "\r\n";
constexpr const char* terminal_line_end = "\r\r\n";

// ESC before the wall clock changes: exactly one line, then the stream is stopped and closed
// and the library ended, once each and in that order, with status 0.
TEST(Program, EscBeforeTheClockChangesPrintsOneLineAndStopsInOrder) {
    scratch_dir dir;
    program p;
    ASSERT_TRUE(start(&p, DSPHOST_FAKE_AUDIO_BINARY,
                      fake_audio_options(dir, faketime_environment(DSPHOST_FAKETIME_LIBRARY,
                                                                   "2026-12-07 12:34:56"))));
    ASSERT_TRUE(wait_lines(&p, 1)) << state_of(&p);
    end_with_esc(&p);
    const auto lines = parse_status(p.screen, terminal_line_end);
    ASSERT_EQ(lines.size(), 1u) << p.screen;
    EXPECT_EQ(lines[0].clock, "12:34:56");
    const std::vector<std::string> expected = {
        "Pa_Initialize", "Pa_OpenDefaultStream", "Pa_StartStream", "Pa_GetStreamCpuLoad",
        "Pa_StopStream", "Pa_CloseStream",       "Pa_Terminate"};
    EXPECT_EQ(calls_made(dir), expected);
}

// Standard input that is not a terminal is never read: lines still come, no key ends the
// program, the terminal it was started from is left alone throughout, and a termination
// request ends it.
TEST(Program, InputFromDevNullIsNeverReadAndSigtermEndsIt) {
    scratch_dir dir;
    pty_spawn_options options = fake_audio_options(dir);
    options.stdin_null = true;
    program p;
    ASSERT_TRUE(start(&p, DSPHOST_FAKE_AUDIO_BINARY, options));
    ASSERT_TRUE(wait_lines(&p, 1)) << state_of(&p);
    ASSERT_TRUE(pty_write(p.pty, "x\x1b"));
    ASSERT_TRUE(wait_lines(&p, 2)) << state_of(&p);
    termios during{};
    ASSERT_TRUE(pty_modes(p.pty, &during));
    EXPECT_TRUE(same_modes(during, p.before)) << "the terminal's modes changed";
    ASSERT_TRUE(pty_signal(p.pty, SIGTERM));
    finish(&p);
    EXPECT_TRUE(killed_by(p, SIGTERM)) << how_it_ended(p);
}

// The real PortAudio and ALSA at the real pace through a private sound server: the played
// samples are the input samples through the pass-through effect, and a full second counts
// about 8000 samples. The redirected output holds the status lines byte for byte and
// nothing else, and nothing reaches the terminal (standard error included).
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
    options.environment = write_alsa_config(dir.path, played, in_file, pulse.socket);
    options.stdout_path = out;
    program p;
    ASSERT_TRUE(start(&p, DSPHOST_BINARY, options));
    usleep(4500 * 1000);
    end_with_esc(&p);
    stop_private_pulse(&pulse);
    EXPECT_EQ(p.screen, "");

    const auto lines = parse_status(read_file(out), file_line_end);
    ASSERT_GE(lines.size(), 4u);
    // The first line comes at start-up and the second at the next turn of the second; from
    // there on the lines cover whole seconds. One line may come late on a loaded machine and
    // the next early, so the rate is judged over all of them.
    const auto full_seconds = static_cast<int64_t>(lines.size() - 2);
    int64_t counted = 0;
    for (size_t i = 2; i < lines.size(); ++i) counted += lines[i].since_last;
    EXPECT_GT(counted, 7000 * full_seconds);
    EXPECT_LT(counted, 9000 * full_seconds);
    // The first second after the latency offset is exact. (Exactness over long runs is the
    // unpaced audio test's business: here a loaded machine may let the sound server run dry
    // later in the run, which shifts the offset.)
    const std::vector<int16_t> output = read_raw_samples(played);
    ASSERT_GT(output.size(), 4096u + 8000u);
    EXPECT_GE(find_sample_offset(output, input, 8000, 4096), 0)
        << "played samples are not the input samples";
}

struct clock_row {
    const char* name;
    const char* faketime;  // the wall clock: its start and how much faster it runs
    int run_ms;
    size_t min_lines;
    int max_step;  // seconds between two lines' times at most (a held-up pass skips some)
    int min_covered;
    int max_covered;  // seconds from the first line's time to the last's
};

void PrintTo(const clock_row& row, std::ostream* out) {
    *out << row.name;
}

class FastClock : public testing::TestWithParam<clock_row> {};

// A wall clock that runs fast, across midnight: one line per distinct time of day, each later
// than the line before, midnight passed once, and counts that never go back.
TEST_P(FastClock, OneLinePerDistinctTimeOfDayInOrder) {
    const clock_row& row = GetParam();
    scratch_dir dir;
    const std::string out = dir.path + "/out";
    pty_spawn_options options =
        fake_audio_options(dir, faketime_environment(DSPHOST_FAKETIME_LIBRARY, row.faketime));
    options.stdout_path = out;
    program p;
    ASSERT_TRUE(start(&p, DSPHOST_FAKE_AUDIO_BINARY, options));
    ASSERT_TRUE(wait_polling(p)) << state_of(&p);
    usleep(static_cast<useconds_t>(row.run_ms) * 1000);
    end_with_esc(&p);

    const auto lines = parse_status(read_file(out), file_line_end);
    ASSERT_GE(lines.size(), row.min_lines);
    int midnights = 0;
    int covered = 0;
    std::set<std::string> clocks;
    for (size_t i = 0; i < lines.size(); ++i) {
        clocks.insert(lines[i].clock);
        if (i == 0) continue;
        SCOPED_TRACE("line " + std::to_string(i) + ": " + lines[i - 1].clock + " -> " +
                     lines[i].clock);
        const int step = clock_step(lines[i - 1], lines[i]);
        EXPECT_GE(step, 1);
        EXPECT_LE(step, row.max_step);
        midnights += crossed_midnight(lines[i - 1], lines[i]) ? 1 : 0;
        covered += step;
        EXPECT_GE(lines[i].total, lines[i - 1].total);
        EXPECT_GE(lines[i].since_last, 0);
    }
    EXPECT_EQ(clocks.size(), lines.size()) << "a time of day shown twice";
    EXPECT_EQ(midnights, 1);
    EXPECT_GE(covered, row.min_covered);
    EXPECT_LE(covered, row.max_covered);
    std::printf("%s: %zu lines over %d simulated seconds, %s to %s\n", row.name, lines.size(),
                covered, lines.front().clock.c_str(), lines.back().clock.c_str());
}

const clock_row clock_rows[] = {
    // Ten times too fast, from twenty seconds before midnight: midnight comes during the
    // run even when a loaded machine takes a second or two to start the program. Under
    // ThreadSanitizer on a busy machine a pass may take longer than a simulated second, so
    // fewer lines than seconds are asked for.
    {"ten_times_across_midnight", "@2026-12-07 23:59:40 x10", 3500, 10, 10, 11, 3600},
    // 17280 times too fast: a day in five seconds, midnight at half time. The loop cannot
    // print every second now, but each line still has a time of its own.
    {"a_day_in_five_seconds", "@2026-12-07 12:00:00 x17280", 4500, 100, 86399, 12 * 3600,
     24 * 3600 - 1},
};

INSTANTIATE_TEST_SUITE_P(Program, FastClock, testing::ValuesIn(clock_rows), row_names());

}  // namespace
