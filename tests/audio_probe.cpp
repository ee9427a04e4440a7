// Runs the real start and stop sequences around a wait, for the stream tests.
//
//   audio_probe SAMPLES SECONDS
//
// Starts the stream, waits until SAMPLES samples have been processed or SECONDS seconds
// have passed (whichever comes first), reads the CPU load, stops the stream and prints one
// line on standard output:
//
//   count=<samples> rate=<samples per second> cpu=<load> result=<last pa_result>
//
// rate is measured from the first processed sample to the end of the wait, so a slow
// stream start does not lower it; it is 0 when fewer than two samples were seen.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "audio/stream_control.h"

namespace {

using probe_clock = std::chrono::steady_clock;

double seconds_between(probe_clock::time_point from, probe_clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: audio_probe SAMPLES SECONDS\n", stdout);
        return 2;
    }
    const long long wanted = std::strtoll(argv[1], nullptr, 10);
    const double seconds = std::strtod(argv[2], nullptr);

    PaStream* stream = nullptr;
    std::atomic<int64_t> stream_count{0};
    int32_t pa_result = 0;
    stream_start(&stream, &stream_count, &pa_result);

    const auto start = probe_clock::now();
    auto first_seen = start;
    int64_t first_count = 0;
    int64_t count = 0;
    while (true) {
        count = stream_count.load(std::memory_order_relaxed);
        const auto now = probe_clock::now();
        if (first_count == 0 && count > 0) {
            first_count = count;
            first_seen = now;
        }
        if (count >= wanted || seconds_between(start, now) >= seconds) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const auto end = probe_clock::now();
    const double cpu = stream_cpu_load(stream);
    stream_stop(stream, &pa_result);

    double rate = 0.0;
    const double span = seconds_between(first_seen, end);
    if (first_count > 0 && count > first_count && span > 0.0) {
        rate = static_cast<double>(count - first_count) / span;
    }
    std::printf("count=%lld rate=%.1f cpu=%.6f result=%d\n", static_cast<long long>(count), rate,
                cpu, static_cast<int>(pa_result));
    std::fflush(stdout);
    return 0;
}
