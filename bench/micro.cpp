// Micro-benchmarks, each beside the floor of the same work: the names pair up as X and
// X_floor, and bench/run reports X / X_floor.
//
//   audio_callback   the sample callback with the pass-through effect, against a callback
//                    that does only the two conversions and the effect call;
//   idle_pass        one pass of the monitor loop with no key pending (poll_key, clock_string,
//                    the comparison and the copy), standard input a pseudo-terminal, against
//                    the system calls such a pass makes: read on the terminal (returns 0),
//                    time and localtime_r, which strace shows make no call of their own;
//   cpu_field        the CPU figure through the "##.##" field, against snprintf("%5.2f").
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <portaudio.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "audio/dsp_library.h"
#include "audio/sample_callback.h"
#include "console/clock.h"
#include "console/keyboard.h"
#include "console/mask.h"

namespace {

// --- Sample callback ----------------------------------------------------------------------

// The floor: the input conversion, the effect call, the output conversion; nothing checked,
// nothing counted.
int floor_callback(const void* input, void* output, unsigned long /*frame_count*/,
                   const PaStreamCallbackTimeInfo* /*time_info*/,
                   PaStreamCallbackFlags /*status_flags*/, void* /*user_data*/) {
    const int16_t s = static_cast<const int16_t*>(input)[0];
    float out_value = 0.0f;
    adp_emp(static_cast<float>(s / 32768.0), &out_value);
    static_cast<int16_t*>(output)[0] = static_cast<int16_t>(
        static_cast<int32_t>(std::floor(static_cast<double>(out_value) * 32768.0)));
    return paContinue;
}

// Both are called through a pointer the compiler cannot see through, as the audio library
// calls them, so neither is inlined into the loop.
void run_callback(benchmark::State& state, PaStreamCallback* callback) {
    std::atomic<int64_t> stream_count{0};
    int16_t input = 0;
    int16_t output = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(callback);
        callback(&input, &output, 1, nullptr, 0, &stream_count);
        benchmark::DoNotOptimize(output);
        input = static_cast<int16_t>(input + 7919);  // walks through all 65536 values
    }
    state.SetItemsProcessed(state.iterations());
}

void audio_callback_bench(benchmark::State& state) {
    run_callback(state, audio_callback);
}

void audio_callback_floor(benchmark::State& state) {
    run_callback(state, floor_callback);
}

// --- Idle pass of the monitor loop -------------------------------------------------------

// Makes standard input the slave side of a fresh pseudo-terminal, so that key polling reads
// a terminal as it does in use. Done once, before the keyboard code first looks at standard
// input; the master stays open (and silent) for the life of the process.
bool stdin_is_pty() {
    static const bool done = [] {
        int master = -1;
        int slave = -1;
        if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
            return false;
        }
        fcntl(master, F_SETFD, FD_CLOEXEC);
        if (dup2(slave, STDIN_FILENO) < 0) {
            return false;
        }
        close(slave);
        return true;
    }();
    return done;
}

void idle_pass(benchmark::State& state) {
    if (!stdin_is_pty()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    std::string prev_clock = clock_string();
    for (auto _ : state) {
        const std::string key = poll_key();
        const uint64_t key_code = char_code(key, 1);
        benchmark::DoNotOptimize(key_code);
        const std::string cur_clock = clock_string();
        bool changed = cur_clock != prev_clock;
        benchmark::DoNotOptimize(changed);
        prev_clock = cur_clock;
    }
    state.SetItemsProcessed(state.iterations());
}

void idle_pass_floor(benchmark::State& state) {
    if (!stdin_is_pty()) {
        state.SkipWithError("no pseudo-terminal");
        return;
    }
    // The modes key polling runs the terminal in: reads return at once.
    termios modes{};
    tcgetattr(STDIN_FILENO, &modes);
    modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    modes.c_cc[VMIN] = 0;
    modes.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &modes);
    for (auto _ : state) {
        uint8_t bytes[64];
        benchmark::DoNotOptimize(read(STDIN_FILENO, bytes, sizeof bytes));
        const time_t now = time(nullptr);
        tm local{};
        benchmark::DoNotOptimize(localtime_r(&now, &local));
        benchmark::DoNotOptimize(local);
    }
    state.SetItemsProcessed(state.iterations());
}

// --- CPU figure ---------------------------------------------------------------------------

// CPU percentages as the status line sees them, small and large.
constexpr double cpu_values[16] = {0.05, 0.07, 0.22, 1.5,   3.125, 9.995, 12.34, 25.0,
                                   33.3, 49.9, 50.0, 66.67, 75.25, 88.8,  99.99, 100.0};

void cpu_field(benchmark::State& state) {
    const mask_field field{2, true, 2};
    size_t i = 0;
    for (auto _ : state) {
        std::string text = format_field(cpu_values[i++ & 15], field);
        benchmark::DoNotOptimize(text.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void cpu_field_floor(benchmark::State& state) {
    size_t i = 0;
    for (auto _ : state) {
        char text[32];
        benchmark::DoNotOptimize(snprintf(text, sizeof text, "%5.2f", cpu_values[i++ & 15]));
        benchmark::DoNotOptimize(text);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(audio_callback_bench)->Name("audio_callback");
BENCHMARK(audio_callback_floor);
BENCHMARK(idle_pass);
BENCHMARK(idle_pass_floor);
BENCHMARK(cpu_field);
BENCHMARK(cpu_field_floor);

BENCHMARK_MAIN();
